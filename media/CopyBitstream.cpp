#include "media/CopyBitstream.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>

namespace media::copycut {

int NalLengthSize(const AVCodecParameters* par) {
    const uint8_t* x = par->extradata;
    if (!x || x[0] != 1) return 0;
    if (IsHevc(par)) return par->extradata_size >= 23 ? (x[21] & 3) + 1 : 0;
    return par->extradata_size >= 7 ? (x[4] & 3) + 1 : 0;
}

bool HasNal(const AVPacket* pkt, bool hevc, int lengthSize, bool (*what)(bool, int)) {
    bool found = false;
    ForEachNal(pkt->data, size_t(pkt->size), lengthSize,
               [&](const uint8_t* nal, size_t) { found = found || what(hevc, NalType(hevc, nal[0])); });
    return found;
}

namespace {

// HEVC NAL unit types.
constexpr int kHevcCra = 21;
constexpr int kHevcBlaWithLeading = 16;

}  // namespace

int ParameterSetId(const uint8_t* nal, size_t n) {
    std::vector<uint8_t> rbsp;
    for (size_t i = 1; i < n && rbsp.size() < 16; ++i) {
        if (i >= 3 && nal[i] == 3 && nal[i - 1] == 0 && nal[i - 2] == 0) continue;
        rbsp.push_back(nal[i]);
    }
    size_t bit = (nal[0] & 0x1f) == 7 ? 24 : 0;
    auto next = [&]() -> int {
        if (bit / 8 >= rbsp.size()) return -1;
        return (rbsp[bit / 8] >> (7 - bit % 8)) & 1;
    };
    int zeros = 0;
    for (;;) {
        const int b = next();
        ++bit;
        if (b < 0 || zeros > 8) return -1;
        if (b == 1) break;
        ++zeros;
    }
    int value = 0;
    for (int i = 0; i < zeros; ++i) {
        const int b = next();
        ++bit;
        if (b < 0) return -1;
        value = (value << 1) | b;
    }
    return (1 << zeros) - 1 + value;
}

bool IsIntraSlice(const uint8_t* nal, size_t n) {
    std::vector<uint8_t> rbsp;
    for (size_t i = 1; i < n && rbsp.size() < 16; ++i) {
        if (i >= 3 && nal[i] == 3 && nal[i - 1] == 0 && nal[i - 2] == 0) continue;
        rbsp.push_back(nal[i]);
    }
    size_t bit = 0;
    auto ue = [&]() -> int {
        int zeros = 0;
        for (;;) {
            if (bit / 8 >= rbsp.size() || zeros > 16) return -1;
            const int b = (rbsp[bit / 8] >> (7 - bit % 8)) & 1;
            ++bit;
            if (b == 1) break;
            ++zeros;
        }
        int value = 0;
        for (int i = 0; i < zeros; ++i, ++bit) {
            if (bit / 8 >= rbsp.size()) return -1;
            value = (value << 1) | ((rbsp[bit / 8] >> (7 - bit % 8)) & 1);
        }
        return (1 << zeros) - 1 + value;
    };
    if (ue() < 0) return false;  // first_mb_in_slice
    const int type = ue();
    return type >= 0 && (type % 5 == 2 || type % 5 == 4);
}

std::vector<std::string> ExtradataParameterSets(const AVCodecParameters* par) {
    std::vector<std::string> sets;
    const uint8_t* x = par->extradata;
    const size_t n = size_t(std::max(0, par->extradata_size));
    if (n == 0) return sets;
    if (x[0] != 1) {
        ForEachNal(x, n, 0, [&](const uint8_t* nal, size_t len) {
            if (IsH264ParameterSet(nal[0] & 0x1f)) sets.emplace_back(reinterpret_cast<const char*>(nal), len);
        });
        return sets;
    }
    size_t i = 5;
    for (int array = 0; array < 2 && i < n; ++array) {
        const int count = array == 0 ? x[i] & 0x1f : x[i];
        ++i;
        for (int c = 0; c < count && i + 2 <= n; ++c) {
            const size_t len = size_t(x[i] << 8 | x[i + 1]);
            i += 2;
            if (len == 0 || len > n - i) return sets;
            sets.emplace_back(reinterpret_cast<const char*>(x + i), len);
            i += len;
        }
    }
    return sets;
}

std::string AvcConfigRecord(const std::vector<std::string>& sps, const std::vector<std::string>& pps,
                            const AVCodecParameters* par) {
    std::string c;
    const std::string& first = sps.front();
    c += char(1);
    c += first.size() > 3 ? first.substr(1, 3) : std::string(3, '\0');
    c += char(0xff);  // 4-byte lengths
    c += char(0xe0 | sps.size());
    auto put = [&](const std::string& nal) {
        c += char(nal.size() >> 8);
        c += char(nal.size() & 0xff);
        c += nal;
    };
    for (const auto& n : sps) put(n);
    c += char(pps.size());
    for (const auto& n : pps) put(n);
    const int profile = first.size() > 1 ? uint8_t(first[1]) : 0;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format));
    if (d && (profile == 100 || profile == 110 || profile == 122 || profile == 244)) {
        const int chroma = d->nb_components < 3 ? 0 : d->log2_chroma_w == 0 ? 3 : d->log2_chroma_h == 0 ? 2 : 1;
        const int depth = std::max(8, d->comp[0].depth);
        c += char(0xfc | chroma);
        c += char(0xf8 | (depth - 8));
        c += char(0xf8 | (depth - 8));
        c += char(0);
    }
    return c;
}

void ToLengthPrefixed(AVPacket* pkt, int lengthSize) {
    std::string data;
    data.reserve(size_t(pkt->size) + 64);
    ForEachNal(pkt->data, size_t(pkt->size), lengthSize, [&](const uint8_t* nal, size_t len) {
        const int type = nal[0] & 0x1f;
        if (IsH264ParameterSet(type) || type == 9) return;
        for (int b = 3; b >= 0; --b) data += char((len >> (8 * b)) & 0xff);
        data.append(reinterpret_cast<const char*>(nal), len);
    });
    AvPacketPtr out = MakePacket();
    CheckRc(av_new_packet(out.get(), int(data.size())), "Copying the pictures");
    std::memcpy(out->data, data.data(), data.size());
    CheckRc(av_packet_copy_props(out.get(), pkt), "Copying the pictures");
    av_packet_unref(pkt);
    av_packet_move_ref(pkt, out.get());
}

void MarkCraAsBla(AVPacket* pkt) {
    CheckRc(av_packet_make_writable(pkt), "Copying the pictures");
    uint8_t* p = pkt->data;
    const size_t n = size_t(pkt->size);
    for (size_t i = 0; i + 3 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            uint8_t& header = p[i + 3];
            if (NalType(true, header) == kHevcCra) header = uint8_t((header & 0x81) | (kHevcBlaWithLeading << 1));
            i += 2;
        }
    }
}

}  // namespace media::copycut
