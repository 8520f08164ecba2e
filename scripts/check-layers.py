#!/usr/bin/env python3
"""Checks that the product folders include (and link) one another only along
the layer order:

    media, platform  ->  common  ->  feature folders  ->  app

and that media/ includes no Qt header.

Usage: check-layers.py [ROOT]   (ROOT: the source tree, default: this script's
parent folder's parent). Prints one line per violation and exits 1 when there
is any, 0 when there is none.

What is checked:
  * every #include "folder/..." (or <folder/...>) in the .h and .cpp files
    under the product folders, against ALLOWED below; a quoted include must
    name its folder, so that no include slips past the table;
  * media/: no Qt header (<QString>, <QtCore/...>, <qglobal.h>, ...);
  * the CMakeLists.txt of each product folder: it adds sources and links only
    to its own targets, and the fw_ libraries it links belong to folders it
    may use (the same table). The top-level CMakeLists.txt's links are checked
    for the folder that owns the target.
tests/ and bench/ are not product folders and are not checked.
"""
import os
import re
import sys

# The lowest layer: each stands alone.
BOTTOM = {"media", "platform"}
LOWER = BOTTOM | {"common"}
FEATURES = {"source", "convert", "capture", "support", "mru", "help", "resources"}

# Which folders a folder's files may include, besides its own.
ALLOWED = {
    "media": set(),           # FFmpeg only, no Qt
    "platform": set(),        # the settings hive and the desktop opener
    "common": set(BOTTOM),
    "source": set(LOWER),
    "convert": set(LOWER),
    # Peer edges between feature folders, each for a reason:
    #  capture -> source: the capture commands take the open movie as the
    #    window holds it (TMovieInfo): the movie source itself.
    "capture": LOWER | {"source"},
    "support": set(LOWER),
    "mru": set(LOWER),
    #  help -> resources: the help viewer reads the help pages compiled into
    #    fw_resources (a link; there is no include).
    "help": LOWER | {"resources"},
    "resources": set(LOWER),
    "app": LOWER | FEATURES,  # the window and fwmedia sit on top of everything
}
FOLDERS = sorted(ALLOWED)

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
# Qt's headers: <QString>, <QtCore/QString>, <QtCore>, and the lower-case
# forms <qstring.h>, <qglobal.h>.
QT_HEADER = re.compile(r'^(Q[A-Za-z0-9_]*|Qt[A-Za-z0-9_]*/.*|q[a-z0-9_]+\.h)$')
NOT_QT = {"quadmath.h"}


def source_files(root, folder):
    top = os.path.join(root, folder)
    for dirpath, dirnames, filenames in os.walk(top):
        dirnames.sort()
        for name in sorted(filenames):
            if name.endswith((".h", ".cpp")):
                yield os.path.join(dirpath, name)


def check_includes(root, problems):
    for folder in FOLDERS:
        for path in source_files(root, folder):
            rel = os.path.relpath(path, root)
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    quote, name = m.groups()
                    where = f"{rel}:{number}"
                    if folder == "media" and QT_HEADER.match(name) and name not in NOT_QT:
                        problems.append(f"{where}: media/ includes a Qt header: {name}")
                        continue
                    first = name.split("/", 1)[0]
                    if "/" not in name or first not in ALLOWED:
                        if quote == '"':
                            problems.append(f'{where}: "{name}" does not name its folder '
                                            f"(write \"folder/{name}\")")
                        continue  # a system or library header
                    if first != folder and first not in ALLOWED[folder]:
                        problems.append(f"{where}: {folder}/ may not include {first}/ ({name}); "
                                        f"{folder}/ may include: {', '.join(sorted(ALLOWED[folder])) or 'nothing'}")


CMAKE_CALL = re.compile(r'\b(add_library|add_executable|target_sources|target_link_libraries)\s*\(([^)]*)\)',
                        re.IGNORECASE)
TARGET_FOLDER = re.compile(r'^fw_([a-z]+?)(?:_ui)?$')


def cmake_calls(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = "".join(re.sub(r'#.*', '', line) for line in f)
    for m in CMAKE_CALL.finditer(text):
        args = m.group(2).split()
        if args:
            yield m.group(1).lower(), args, text.count("\n", 0, m.start()) + 1


def check_cmake(root, problems):
    lists = {folder: os.path.join(root, folder, "CMakeLists.txt") for folder in FOLDERS}
    lists = {folder: path for folder, path in lists.items() if os.path.isfile(path)}

    # Who owns a target: fw_<folder> and fw_<folder>_ui by name, others where defined.
    owner = {}
    for folder, path in lists.items():
        for call, args, _ in cmake_calls(path):
            if call in ("add_library", "add_executable"):
                owner[args[0]] = folder

    def folder_of(target):
        m = TARGET_FOLDER.match(target)
        if m and m.group(1) in ALLOWED:
            return m.group(1)
        return owner.get(target)

    checked = list(lists.items())
    top = os.path.join(root, "CMakeLists.txt")
    if os.path.isfile(top):
        checked.append((None, top))
    for folder, path in checked:
        rel = os.path.relpath(path, root)
        for call, args, number in cmake_calls(path):
            if call not in ("target_sources", "target_link_libraries"):
                continue
            target = args[0]
            user = folder_of(target)
            where = f"{rel}:{number}"
            if folder is not None and user is not None and user != folder:
                problems.append(f"{where}: {folder}/ adds to {target}, a target of {user}/")
            if user is None or call != "target_link_libraries":
                continue
            for lib in args[1:]:
                used = folder_of(lib)
                if used and used != user and used not in ALLOWED[user]:
                    problems.append(f"{where}: {target} ({user}/) may not link {lib} ({used}/)")


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    problems = []
    check_includes(root, problems)
    check_cmake(root, problems)
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} layering violation(s); the table is in scripts/check-layers.py")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
