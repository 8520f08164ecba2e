#include "media/Timeline.h"

#include "media/StagedFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace media {

int ThumbWidth(int shownWidth, int shownHeight, int thumbHeight) {
    if (shownWidth <= 0 || shownHeight <= 0) return thumbHeight * 16 / 9;
    const int w = int(std::lround(double(thumbHeight) * shownWidth / shownHeight));
    return std::clamp(w, 8, thumbHeight * 4);
}

std::vector<int64_t> ThumbFrames(const std::vector<int64_t>& keyFrames) {
    if (int64_t(keyFrames.size()) <= kMaxKeyThumbs) return keyFrames;
    std::vector<int64_t> out;
    const auto n = int64_t(keyFrames.size());
    for (int64_t i = 0; i < kMaxKeyThumbs; ++i) {
        const int64_t f = keyFrames[size_t(i * (n - 1) / (kMaxKeyThumbs - 1))];
        if (out.empty() || out.back() != f) out.push_back(f);
    }
    return out;
}

int64_t ThumbFor(const std::vector<int64_t>& frames, int64_t frame) {
    if (frames.empty()) return -1;
    auto it = std::upper_bound(frames.begin(), frames.end(), frame);
    return it == frames.begin() ? frames.front() : *(it - 1);
}

TRgbPicture ComposeStrip(const TTimelineData& data, int width) {
    TRgbPicture out;
    if (width <= 0 || data.ThumbWidth <= 0 || data.ThumbHeight <= 0) return out;
    out.Width = width;
    out.Height = data.ThumbHeight;
    out.Rgb.assign(size_t(width) * 3 * size_t(out.Height), 0);
    std::vector<int64_t> have;
    for (const auto& [frame, picture] : data.Thumbs) have.push_back(frame);
    if (have.empty() || data.FrameCount <= 0) return out;
    for (int x0 = 0; x0 < width; x0 += data.ThumbWidth) {
        const int64_t frame = int64_t(double(x0) * double(data.FrameCount) / width);
        const TRgbPicture& t = data.Thumbs.at(ThumbFor(have, frame));
        const int w = std::min(t.Width, width - x0);
        for (int y = 0; y < std::min(t.Height, out.Height); ++y)
            std::memcpy(out.Rgb.data() + (size_t(y) * width + x0) * 3, t.Row(y), size_t(w) * 3);
    }
    return out;
}

TRgbPicture DrawWaveform(const TWaveform& wave, double lengthSeconds, int width, int height) {
    TRgbPicture out;
    if (width <= 0 || height <= 0) return out;
    out.Width = width;
    out.Height = height;
    out.Rgb.assign(size_t(width) * 3 * size_t(height), 24);
    const std::vector<TWaveColumn> cols = WaveColumns(wave, 0, lengthSeconds, width);
    const int mid = height / 2;
    auto put = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t* p = out.Rgb.data() + (size_t(y) * width + x) * 3;
        p[0] = r, p[1] = g, p[2] = b;
    };
    for (int x = 0; x < width; ++x) {
        const int peak = int(std::lround(cols[size_t(x)].Peak * (height / 2)));
        const int rms = int(std::lround(cols[size_t(x)].Rms * (height / 2)));
        for (int d = 0; d <= peak && d <= mid; ++d) {
            const bool inner = d <= rms;
            const uint8_t r = inner ? 40 : 90, g = inner ? 150 : 200, b = inner ? 230 : 250;
            if (mid - d >= 0) put(x, mid - d, r, g, b);
            if (mid + d < height) put(x, mid + d, r, g, b);
        }
    }
    return out;
}

// ---- the cache file ----------------------------------------------------

namespace {

constexpr char kMagic[8] = {'F', 'W', 'T', 'L', 'C', 'A', 'C', 'H'};
constexpr uint32_t kVersion = 1;
constexpr uint64_t kMaxCacheFile = 1ull << 30;

// FNV-1a over 8-byte words (the tail byte by byte): a damaged or cut file is
// told from a whole one; speed matters, strength against forgery does not.
uint64_t Fnv1a(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 1099511628211ull;
    }
    for (; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

struct TWriter {
    std::vector<uint8_t> Bytes;
    template <class T>
    void Put(const T& v) {
        const auto* p = reinterpret_cast<const uint8_t*>(&v);
        Bytes.insert(Bytes.end(), p, p + sizeof v);
    }
    void PutBytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        Bytes.insert(Bytes.end(), b, b + n);
    }
    void PutString(const std::string& s) {
        Put(uint32_t(s.size()));
        PutBytes(s.data(), s.size());
    }
};

struct TReader {
    const std::vector<uint8_t>& Bytes;
    size_t End;  // the checksum after it is not read
    size_t Pos = 0;
    bool Ok = true;
    bool Take(void* p, size_t n) {
        if (!Ok || n > End - Pos) return Ok = false;
        if (n) std::memcpy(p, Bytes.data() + Pos, n);  // an empty entry may have no storage at all
        Pos += n;
        return true;
    }
    template <class T>
    T Get() {
        T v{};
        Take(&v, sizeof v);
        return v;
    }
    std::string GetString() {
        const auto n = Get<uint32_t>();
        if (!Ok || n > End - Pos) {
            Ok = false;
            return {};
        }
        std::string s(reinterpret_cast<const char*>(Bytes.data() + Pos), n);
        Pos += n;
        return s;
    }
};

std::vector<uint8_t> Serialise(const TFileIdentity& id, const TTimelineData& d) {
    TWriter w;
    w.PutBytes(kMagic, sizeof kMagic);
    w.Put(kVersion);
    w.Put(id.Size);
    w.Put(id.ModifiedNs);
    w.PutString(id.ContentHash);
    w.Put(d.FrameCount);
    w.Put(uint64_t(d.KeyFrames.size()));
    for (const int64_t k : d.KeyFrames) w.Put(k);
    w.Put(int32_t(d.ThumbWidth));
    w.Put(int32_t(d.ThumbHeight));
    w.Put(uint64_t(d.Thumbs.size()));
    for (const auto& [frame, picture] : d.Thumbs) {
        w.Put(frame);
        w.PutBytes(picture.Rgb.data(), picture.Rgb.size());
    }
    w.Put(uint8_t(d.HasSound));
    w.Put(d.Wave.BucketSeconds);
    w.Put(uint64_t(d.Wave.Peak.size()));
    w.PutBytes(d.Wave.Peak.data(), d.Wave.Peak.size() * sizeof(float));
    w.PutBytes(d.Wave.Rms.data(), d.Wave.Rms.size() * sizeof(float));
    w.Put(Fnv1a(w.Bytes.data(), w.Bytes.size()));
    return std::move(w.Bytes);
}

std::optional<TTimelineData> Parse(const std::vector<uint8_t>& bytes, const TFileIdentity& id) {
    if (bytes.size() < sizeof kMagic + 8 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return {};
    uint64_t sum = 0;
    std::memcpy(&sum, bytes.data() + bytes.size() - 8, 8);
    if (sum != Fnv1a(bytes.data(), bytes.size() - 8)) return {};
    const auto& body = bytes;
    TReader r{bytes, bytes.size() - 8};
    r.Pos = sizeof kMagic;
    if (r.Get<uint32_t>() != kVersion) return {};
    TFileIdentity stored;
    stored.Size = r.Get<uint64_t>();
    stored.ModifiedNs = r.Get<int64_t>();
    stored.ContentHash = r.GetString();
    if (!r.Ok || !(stored == id)) return {};
    TTimelineData d;
    d.FrameCount = r.Get<int64_t>();
    const auto keys = r.Get<uint64_t>();
    if (!r.Ok || keys > body.size() / 8) return {};
    d.KeyFrames.resize(size_t(keys));
    r.Take(d.KeyFrames.data(), size_t(keys) * 8);
    d.ThumbWidth = r.Get<int32_t>();
    d.ThumbHeight = r.Get<int32_t>();
    const auto thumbs = r.Get<uint64_t>();
    if (!r.Ok || d.ThumbWidth < 0 || d.ThumbHeight < 0 || d.ThumbWidth > 4096 || d.ThumbHeight > 4096) return {};
    const size_t thumbBytes = size_t(d.ThumbWidth) * size_t(d.ThumbHeight) * 3;
    if (thumbs > body.size() / (thumbBytes + 8)) return {};
    for (uint64_t i = 0; i < thumbs && r.Ok; ++i) {
        const auto frame = r.Get<int64_t>();
        TRgbPicture p;
        p.Width = d.ThumbWidth;
        p.Height = d.ThumbHeight;
        p.Rgb.resize(thumbBytes);
        r.Take(p.Rgb.data(), thumbBytes);
        d.Thumbs.emplace(frame, std::move(p));
    }
    d.HasSound = r.Get<uint8_t>() != 0;
    d.Wave.BucketSeconds = r.Get<double>();
    const auto buckets = r.Get<uint64_t>();
    if (!r.Ok || buckets > body.size() / 8 || !(d.Wave.BucketSeconds > 0)) return {};
    d.Wave.Peak.resize(size_t(buckets));
    d.Wave.Rms.resize(size_t(buckets));
    r.Take(d.Wave.Peak.data(), size_t(buckets) * sizeof(float));
    r.Take(d.Wave.Rms.data(), size_t(buckets) * sizeof(float));
    if (!r.Ok || r.Pos != r.End) return {};
    return d;
}

}  // namespace

std::string TTimelineCache::DefaultFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    std::string base;
    if (xdg && *xdg == '/') base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = std::string(home) + "/.cache";
    else base = "/tmp";
    return base + "/framewhisk/timeline";
}

TTimelineCache::TTimelineCache(std::string folder, uint64_t limitBytes)
    : FFolder(std::move(folder)), FLimit(limitBytes) {}

std::string TTimelineCache::PathFor(const TFileIdentity& id) const { return FFolder + "/" + id.Key() + ".fwtl"; }

std::optional<TTimelineData> TTimelineCache::Load(const TFileIdentity& id) const {
    const std::string path = PathFor(id);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return {};
    std::optional<TTimelineData> data;
    if (size <= kMaxCacheFile) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        if (in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size))) data = Parse(bytes, id);
    }
    if (!data) {
        std::filesystem::remove(path, ec);  // damaged or foreign: never trusted, built again
        return {};
    }
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);  // used now: removed last
    return data;
}

void TTimelineCache::Store(const TFileIdentity& id, const TTimelineData& data) const {
    std::error_code ec;
    std::filesystem::create_directories(FFolder, ec);
    if (ec) throw TStagedFileError("The cache folder " + FFolder + " can not be made: " + ec.message(), ec.value());
    const std::vector<uint8_t> bytes = Serialise(id, data);
    TStagedFile file(PathFor(id));
    const uint8_t* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(file.Fd(), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = errno;
            throw TStagedFileError("The cache file " + PathFor(id) + " could not be written: " + std::strerror(err), err);
        }
        p += n;
        left -= size_t(n);
    }
    file.Commit();
    Trim(PathFor(id));
}

int TTimelineCache::Trim(const std::string& keep) const {
    struct TEntry {
        std::string Path;
        uint64_t Size;
        std::filesystem::file_time_type Time;
    };
    std::vector<TEntry> entries;
    uint64_t total = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(FFolder, ec)) {
        if (!e.is_regular_file(ec) || e.path().extension() != ".fwtl") continue;
        const uint64_t size = e.file_size(ec);
        entries.push_back({e.path().string(), size, e.last_write_time(ec)});
        total += size;
    }
    std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) { return a.Time < b.Time; });
    int removed = 0;
    for (const TEntry& e : entries) {
        if (total <= FLimit) break;
        if (e.Path == keep) continue;
        if (std::filesystem::remove(e.Path, ec)) {
            total -= e.Size;
            ++removed;
        }
    }
    return removed;
}

}  // namespace media
