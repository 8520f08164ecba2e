// The H.264 and HEVC bitstream as the copy (media/CopyCut.h) reads and
// rewrites it: NAL units framed by length fields or start codes, their types,
// parameter sets and their numbers, intra slices, the avc1 sample entry's
// record, and the marks a copied part starts with. No decoding. Private to
// media/ (FFmpeg types).
#pragma once

#include "media/AvPtr.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace media::copycut {

inline bool IsHevc(const AVCodecParameters* par) { return par->codec_id == AV_CODEC_ID_HEVC; }

// The length of the size field in front of each NAL unit when the stream
// stores them that way (avcC / hvcC in MP4, MOV and Matroska); 0 for a byte
// stream with start codes (MPEG-TS).
int NalLengthSize(const AVCodecParameters* par);

// Calls fn(data, size) for every NAL unit of a packet (header byte first).
template <class F>
void ForEachNal(const uint8_t* p, size_t n, int lengthSize, F fn) {
    if (lengthSize > 0) {
        size_t i = 0;
        while (i + size_t(lengthSize) <= n) {
            size_t len = 0;
            for (int b = 0; b < lengthSize; ++b) len = (len << 8) | p[i + b];
            i += size_t(lengthSize);
            if (len == 0 || len > n - i) return;
            fn(p + i, len);
            i += len;
        }
        return;
    }
    // Start codes: 00 00 01 (a zero before it belongs to the next one).
    size_t start = std::string::npos;
    auto emit = [&](size_t end) {
        while (end > start && p[end - 1] == 0) --end;
        if (end > start) fn(p + start, end - start);
    };
    for (size_t i = 0; i + 2 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            if (start != std::string::npos) emit(i);
            start = i + 3;
            i += 2;
        }
    }
    if (start != std::string::npos && start < n) emit(n);
}

inline int NalType(bool hevc, uint8_t header) { return hevc ? (header >> 1) & 0x3f : header & 0x1f; }
// Where a copy may start: an H.264 IDR picture, or an HEVC random access
// point (IDR, CRA, BLA). A CRA is written as a BLA (the same slice syntax) so
// that a decoder starts afresh there, as after a splice (MarkCraAsBla).
inline bool IsCopyStartNal(bool hevc, int type) { return hevc ? type >= 16 && type <= 21 : type == 5; }
inline bool IsSpsNal(bool hevc, int type) { return hevc ? type == 33 : type == 7; }
inline bool IsH264ParameterSet(int type) { return type == 7 || type == 8; }

// Whether the packet holds a NAL unit of a type `what` takes.
bool HasNal(const AVPacket* pkt, bool hevc, int lengthSize, bool (*what)(bool, int));

// The number of an H.264 SPS or PPS: the first exp-Golomb value after the
// fixed bytes (SPS: profile, constraints, level). -1 when unreadable.
int ParameterSetId(const uint8_t* nal, size_t n);

// Whether an H.264 slice NAL unit (types 1 and 5) codes an I or SI slice:
// slice_type, the second exp-Golomb value of its header. A key frame of an
// open group of pictures is one; a recovery point of intra refresh, which
// rebuilds the picture a column at a time over many frames, is not.
bool IsIntraSlice(const uint8_t* nal, size_t n);

// The parameter sets an H.264 stream's extradata holds (avcC or start codes).
std::vector<std::string> ExtradataParameterSets(const AVCodecParameters* par);

// An avc1 sample entry's record: every SPS, then every PPS, 4-byte lengths.
std::string AvcConfigRecord(const std::vector<std::string>& sps, const std::vector<std::string>& pps,
                            const AVCodecParameters* par);

// The packet's NAL units with 4-byte lengths, without parameter sets and
// access unit delimiters (the avc1 sample entry holds the sets).
void ToLengthPrefixed(AVPacket* pkt, int lengthSize);

// The copy's first picture in HEVC, a CRA, becomes a BLA: a decoder then
// drops what it holds for references (the re-encoded head's) and starts the
// source's pictures afresh, as the standard has spliced streams do. The
// packet is a byte stream (start codes) by now.
void MarkCraAsBla(AVPacket* pkt);

}  // namespace media::copycut
