#include "media/FileIdentity.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace media {

namespace {

constexpr int64_t kEdgeBytes = 1 << 20;

struct ShaDeleter {
    void operator()(AVSHA* s) const { av_free(s); }
};

struct FdCloser {
    int Fd;
    ~FdCloser() {
        if (Fd >= 0) ::close(Fd);
    }
};

// Reads exactly n bytes at offset into buf; false on a short read or an error.
bool ReadAt(int fd, uint8_t* buf, int64_t n, int64_t offset) {
    int64_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(fd, buf + done, size_t(n - done), off_t(offset + done));
        if (got <= 0) return false;
        done += got;
    }
    return true;
}

}  // namespace

std::string TFileIdentity::Key() const {
    return std::to_string(Size) + "-" + std::to_string(ModifiedNs) + "-" + ContentHash;
}

std::optional<TFileIdentity> IdentifyFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; fstat then refuses it.
    FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.Fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(file.Fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;

    TFileIdentity id;
    id.Size = uint64_t(st.st_size);
    id.ModifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;

    std::unique_ptr<AVSHA, ShaDeleter> sha(av_sha_alloc());
    if (!sha || av_sha_init(sha.get(), 256) < 0) return std::nullopt;
    const int64_t size = st.st_size;
    const int64_t head = std::min(size, kEdgeBytes);
    std::vector<uint8_t> buf(static_cast<size_t>(kEdgeBytes));
    if (!ReadAt(file.Fd, buf.data(), head, 0)) return std::nullopt;
    av_sha_update(sha.get(), buf.data(), unsigned(head));
    // The tail, where it does not overlap the head.
    const int64_t tailStart = std::max(head, size - kEdgeBytes);
    const int64_t tail = size - tailStart;
    if (tail > 0) {
        if (!ReadAt(file.Fd, buf.data(), tail, tailStart)) return std::nullopt;
        av_sha_update(sha.get(), buf.data(), unsigned(tail));
    }
    uint8_t digest[32];
    av_sha_final(sha.get(), digest);
    static const char kHex[] = "0123456789abcdef";
    id.ContentHash.reserve(64);
    for (uint8_t b : digest) {
        id.ContentHash += kHex[b >> 4];
        id.ContentHash += kHex[b & 15];
    }
    return id;
}

}  // namespace media
