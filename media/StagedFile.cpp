#include "media/StagedFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

namespace media {

namespace {

constexpr const char* kMarker = ".fwpart-";

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string CannotWrite(const std::string& target, int err) {
    return "The file " + Quoted(target) + " can not be created: " + std::strerror(err) + ".";
}

// The process id in a leftover's name, or 0.
pid_t PidOfLeftover(const std::string& name) {
    const auto at = name.rfind(kMarker);
    if (name.empty() || name[0] != '.' || at == std::string::npos) return 0;
    const char* digits = name.c_str() + at + std::strlen(kMarker);
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(digits, &end, 10);
    if (errno != 0 || end == digits || *end != '-' || pid <= 0) return 0;
    for (const char* p = end + 1; *p; ++p)
        if (*p < '0' || *p > '9') return 0;
    return end[1] ? static_cast<pid_t>(pid) : 0;
}

bool ProcessRuns(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string WhyNotReplaceable(const std::string& target) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) return {};
    if (S_ISDIR(st.st_mode)) return "The file " + Quoted(target) + " can not be replaced: it is a folder.";
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return {};
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return "The file " + Quoted(target) + " can not be replaced: it is not a regular file.";
    // A rename over the entry needs the folder's write permission and, in a
    // folder with the sticky bit (/tmp, shared folders), owning the entry or
    // the folder.
    const std::string folder = FolderOf(target);
    struct stat dir {};
    const uid_t me = ::geteuid();
    if (::access(folder.c_str(), W_OK | X_OK) != 0 ||
        (::stat(folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) && me != 0 && st.st_uid != me &&
         dir.st_uid != me))
        return "The file " + Quoted(target) + " can not be replaced: " + std::strerror(EPERM) + ".";
    return {};
}

bool IsLeftoverName(const std::string& fileName) { return PidOfLeftover(fileName) != 0; }

int RemoveStaleLeftovers(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        const pid_t pid = PidOfLeftover(name);
        if (pid == 0 || ProcessRuns(pid)) continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) ++removed;
    }
    return removed;
}

TStagedFile::TStagedFile(const std::string& target) : FTarget(target) {
    if (target.empty()) throw TStagedFileError("No output file name was given.", ENOENT);
    const std::string why = WhyNotReplaceable(target);
    if (!why.empty()) throw TStagedFileError(why, EISDIR);

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && (S_ISCHR(old.st_mode) || S_ISFIFO(old.st_mode))) {
        FDirect = true;
        FWritePath = target;
        return;
    }

    const std::string folder = FolderOf(target);
    RemoveStaleLeftovers(folder);
    // A name that still fits NAME_MAX with the marker, the pid and a counter.
    std::string name = NameOf(target);
    if (name.size() > 200) name.resize(200);
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = folder + "/." + name + kMarker + std::to_string(::getpid()) + "-" +
                                 std::to_string(counter++);
        const mode_t mode = exists && S_ISREG(old.st_mode) ? (old.st_mode & 07777) : 0666;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throw TStagedFileError(CannotWrite(target, errno), errno);
        }
        // The replaced file's mode exactly (open() applies the umask).
        if (exists && S_ISREG(old.st_mode)) (void)::fchmod(fd, old.st_mode & 07777);
        FFd = fd;
        FWritePath = path;
        FPending = true;
        return;
    }
    throw TStagedFileError(CannotWrite(target, EEXIST), EEXIST);
}

TStagedFile::~TStagedFile() { Discard(); }

TStagedFile::TStagedFile(TStagedFile&& other) noexcept
    : FTarget(std::move(other.FTarget)),
      FWritePath(std::move(other.FWritePath)),
      FFd(std::exchange(other.FFd, -1)),
      FDirect(other.FDirect),
      FPending(std::exchange(other.FPending, false)) {}

TStagedFile& TStagedFile::operator=(TStagedFile&& other) noexcept {
    if (this != &other) {
        Discard();
        FTarget = std::move(other.FTarget);
        FWritePath = std::move(other.FWritePath);
        FFd = std::exchange(other.FFd, -1);
        FDirect = other.FDirect;
        FPending = std::exchange(other.FPending, false);
    }
    return *this;
}

void TStagedFile::Commit() {
    if (FDirect || !FPending) return;
    // The data reaches the disk before the name does: after a power loss the
    // target is either the old file or the whole new one.
    if (::fsync(FFd) != 0) {
        const int err = errno;
        Discard();
        throw TStagedFileError("Writing " + Quoted(FTarget) + " failed: " + std::strerror(err) + ".", err);
    }
    if (::rename(FWritePath.c_str(), FTarget.c_str()) != 0) {
        const int err = errno;
        Discard();
        throw TStagedFileError("The file " + Quoted(FTarget) + " can not be replaced: " + std::strerror(err) + ".", err);
    }
    FPending = false;
    ::close(std::exchange(FFd, -1));
    // The rename itself reaches the disk with its folder.
    const int dirFd = ::open(FolderOf(FTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
}

void TStagedFile::Discard() {
    if (FPending) {
        FPending = false;
        ::unlink(FWritePath.c_str());
    }
    if (FFd >= 0) ::close(std::exchange(FFd, -1));
}

}  // namespace media
