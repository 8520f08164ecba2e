#!/usr/bin/env python3
"""Copies a shared library with every RDTSCP instruction of its .text section
replaced by RDTSC + NOP, for runs under valgrind (see memcheck.sh)."""
import re
import subprocess
import sys

src, dst = sys.argv[1], sys.argv[2]
data = bytearray(open(src, "rb").read())
headers = subprocess.run(["objdump", "-h", src], capture_output=True, text=True, check=True).stdout
m = re.search(r"\.text\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)", headers)
if not m:
    sys.exit("no .text section in " + src)
vma, offset = int(m.group(2), 16), int(m.group(3), 16)
code = subprocess.run(["objdump", "-d", "-j", ".text", src], capture_output=True, text=True, check=True).stdout
for line in code.splitlines():
    hit = re.match(r"\s*([0-9a-f]+):\s+0f 01 f9\s+rdtscp", line)
    if hit:
        at = int(hit.group(1), 16) - vma + offset
        if data[at:at + 3] == b"\x0f\x01\xf9":
            data[at:at + 3] = b"\x0f\x31\x90"
open(dst, "wb").write(data)
