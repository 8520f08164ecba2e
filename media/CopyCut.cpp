#include "media/CopyCut.h"

#include "media/FrameDecoder.h"
#include "media/InputFile.h"

extern "C" {
#include <libavcodec/bsf.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

namespace media {

namespace {

bool IsHevc(const AVCodecParameters* par) { return par->codec_id == AV_CODEC_ID_HEVC; }

// The length of the size field in front of each NAL unit when the stream
// stores them that way (avcC / hvcC in MP4, MOV and Matroska); 0 for a byte
// stream with start codes (MPEG-TS).
int NalLengthSize(const AVCodecParameters* par) {
    const uint8_t* x = par->extradata;
    if (!x || x[0] != 1) return 0;
    if (IsHevc(par)) return par->extradata_size >= 23 ? (x[21] & 3) + 1 : 0;
    return par->extradata_size >= 7 ? (x[4] & 3) + 1 : 0;
}

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

int NalType(bool hevc, uint8_t header) { return hevc ? (header >> 1) & 0x3f : header & 0x1f; }
// Where a copy may start: an H.264 IDR picture, or an HEVC random access
// point (IDR, CRA, BLA). A CRA is written as a BLA (the same slice syntax) so
// that a decoder starts afresh there, as after a splice.
bool IsCopyStartNal(bool hevc, int type) { return hevc ? type >= 16 && type <= 21 : type == 5; }
constexpr int kHevcCra = 21;
// How far libx264 and libx265 (both preset faster) move a picture in decode
// order: their B-frame pyramid's two places.
constexpr int kEncoderReorderDepth = 2;
constexpr int kHevcBlaWithLeading = 16;
bool IsSpsNal(bool hevc, int type) { return hevc ? type == 33 : type == 7; }

bool HasNal(const AVPacket* pkt, bool hevc, int lengthSize, bool (*what)(bool, int)) {
    bool found = false;
    ForEachNal(pkt->data, size_t(pkt->size), lengthSize,
               [&](const uint8_t* nal, size_t) { found = found || what(hevc, NalType(hevc, nal[0])); });
    return found;
}

// The number of an H.264 SPS or PPS: the first exp-Golomb value after the
// fixed bytes (SPS: profile, constraints, level). -1 when unreadable.
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

bool IsH264ParameterSet(int type) { return type == 7 || type == 8; }

// Whether an H.264 slice NAL unit (types 1 and 5) codes an I or SI slice:
// slice_type, the second exp-Golomb value of its header. A key frame of an
// open group of pictures is one; a recovery point of intra refresh, which
// rebuilds the picture a column at a time over many frames, is not.
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

// The parameter sets an H.264 stream's extradata holds (avcC or start codes).
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

// An avc1 sample entry's record: every SPS, then every PPS, 4-byte lengths.
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

// The packet's NAL units with 4-byte lengths, without parameter sets and
// access unit delimiters (the avc1 sample entry holds the sets).
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

// Puts the demuxer before `ticks` for reading `stream`: on a key frame at or
// before it when a seek can, else at the start. Returns what to give
// SeekAgain to land at the same place (AV_NOPTS_VALUE: the start).
void SeekAgain(TInputFile& in, int stream, int64_t target) {
    AVFormatContext* fmt = in.Format.get();
    if (target != AV_NOPTS_VALUE) {
        int rc = avformat_seek_file(fmt, stream, INT64_MIN, target, target, 0);
        if (rc < 0) rc = av_seek_frame(fmt, stream, target, AVSEEK_FLAG_BACKWARD);
        if (rc >= 0) return;
    }
    if (!in.SeekToStart(stream)) throw MediaError("Seeking in the movie failed.");
}

int64_t SeekBefore(TInputFile& in, int stream, int64_t ticks) {
    AVFormatContext* fmt = in.Format.get();
    const AVStream* st = fmt->streams[stream];
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    const int64_t second = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 1}, st->time_base));
    AvPacketPtr pkt = MakePacket();
    for (int k = 0; k < 6; ++k) {
        const int64_t target = ticks - (k == 0 ? 0 : second << (k - 1));
        if (target <= start) break;
        int rc = avformat_seek_file(fmt, stream, INT64_MIN, target, target, 0);
        if (rc < 0) rc = av_seek_frame(fmt, stream, target, AVSEEK_FLAG_BACKWARD);
        if (rc < 0) break;
        // The first packet of the stream from there must be a key frame at or before `ticks`.
        bool good = false;
        for (int n = 0; n < 10000; ++n) {
            if (av_read_frame(fmt, pkt.get()) < 0) break;
            const bool ours = pkt->stream_index == stream;
            good = ours && (pkt->flags & AV_PKT_FLAG_KEY) && pkt->pts != AV_NOPTS_VALUE && pkt->pts <= ticks;
            av_packet_unref(pkt.get());
            if (ours) break;
        }
        if (good) {
            SeekAgain(in, stream, target);
            return target;
        }
    }
    SeekAgain(in, stream, AV_NOPTS_VALUE);
    return AV_NOPTS_VALUE;
}

// One packet of the picture stream as the planning read saw it.
struct TIndexEntry {
    int64_t Pts = 0;
    int64_t Duration = 0;
    bool Key = false;
    bool CopyStart = false;  // an IDR picture (HEVC: a random access point)
    bool WholePicture = false;  // coded on its own: an IDR or I picture (HEVC: a random access point)
    std::vector<std::string> ParameterSets;  // H.264 SPS and PPS in the packet
};

const AVCodec* SameCodecEncoder(const AVCodecParameters* par) {
    return avcodec_find_encoder_by_name(IsHevc(par) ? "libx265" : "libx264");
}

bool EncoderTakes(const AVCodec* codec, int format) {
    if (!codec->pix_fmts) return true;
    for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
        if (*f == format) return true;
    return false;
}

const char* X264Profile(int profile) {
    switch (profile & ~(FF_PROFILE_H264_CONSTRAINED | FF_PROFILE_H264_INTRA)) {
        case FF_PROFILE_H264_BASELINE: return "baseline";
        case FF_PROFILE_H264_MAIN: return "main";
        case FF_PROFILE_H264_HIGH: return "high";
        case FF_PROFILE_H264_HIGH_10: return "high10";
        case FF_PROFILE_H264_HIGH_422: return "high422";
        case FF_PROFILE_H264_HIGH_444_PREDICTIVE: return "high444";
        default: return nullptr;
    }
}

const char* X265Profile(int profile) {
    switch (profile) {
        case FF_PROFILE_HEVC_MAIN: return "main";
        case FF_PROFILE_HEVC_MAIN_10: return "main10";
        default: return nullptr;  // range extensions: x265 picks by pixel format
    }
}

// An encoder for the frames around the cut: the source's codec, profile,
// level, size, pixel format, colour tags and pixel shape, at a quality well
// above what the eye tells from the source. Measured on real footage
// (hach_flashmob.mkv, frames 100 to 160), the worst frame's luma PSNR against
// the source: x264 veryfast CRF 16 38.5 dB, faster CRF 14 41.0 dB (9 % more
// bytes, as fast); x265 faster CRF 18 36.2 dB, CRF 12 41.0 dB (75 % more
// bytes for the few frames around the cut). The copy promises 40 dB.
// ownId >= 0 (H.264): the parameter sets go to the extradata only, under that number.
AvCodecContextPtr OpenSameCodecEncoder(const AVStream* st, const AVFrame* f, const TFrameClock& clock, int ownId) {
    const AVCodecParameters* par = st->codecpar;
    const bool hevc = IsHevc(par);
    const AVCodec* codec = SameCodecEncoder(par);
    if (!codec) throw MediaError(std::string("The encoder ") + (hevc ? "libx265" : "libx264") + " is not available in this installation.");
    AvCodecContextPtr enc(avcodec_alloc_context3(codec));
    if (!enc) throw std::bad_alloc();
    enc->width = f->width;
    enc->height = f->height;
    enc->pix_fmt = static_cast<AVPixelFormat>(f->format);
    enc->time_base = clock.TimeBase;
    enc->framerate = clock.Rate;
    enc->sample_aspect_ratio = f->sample_aspect_ratio.num > 0 ? f->sample_aspect_ratio : par->sample_aspect_ratio;
    enc->color_range = f->color_range != AVCOL_RANGE_UNSPECIFIED ? f->color_range : par->color_range;
    enc->color_primaries = f->color_primaries != AVCOL_PRI_UNSPECIFIED ? f->color_primaries : par->color_primaries;
    enc->color_trc = f->color_trc != AVCOL_TRC_UNSPECIFIED ? f->color_trc : par->color_trc;
    enc->colorspace = f->colorspace != AVCOL_SPC_UNSPECIFIED ? f->colorspace : par->color_space;
    enc->chroma_sample_location = par->chroma_location;
    enc->field_order = AV_FIELD_PROGRESSIVE;
    if (par->level > 0 && !hevc) enc->level = par->level;
    std::string params;
    if (hevc) {
        if (const char* p = X265Profile(par->profile)) av_opt_set(enc->priv_data, "profile", p, 0);
        av_opt_set(enc->priv_data, "preset", "faster", 0);
        av_opt_set(enc->priv_data, "crf", "12", 0);
        // No sample adaptive offset: x265 fills part of its statistics from
        // memory it never set, so the same frames would not always give the
        // same stream.
        params = "log-level=error:open-gop=0:sao=0";
        if (par->level > 0) params += ":level-idc=" + std::to_string(par->level / 30) + "." + std::to_string(par->level % 30 / 3);
        av_opt_set(enc->priv_data, "x265-params", params.c_str(), 0);
    } else {
        if (const char* p = X264Profile(par->profile)) av_opt_set(enc->priv_data, "profile", p, 0);
        av_opt_set(enc->priv_data, "preset", "faster", 0);
        av_opt_set(enc->priv_data, "crf", "14", 0);
        if (ownId >= 0) {
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            av_opt_set(enc->priv_data, "x264-params", ("sps-id=" + std::to_string(ownId)).c_str(), 0);
        }
    }
    const int rc = avcodec_open2(enc.get(), codec, nullptr);
    if (rc < 0)
        throw MediaError(std::string("The frames around the cut can not be re-encoded with ") + codec->name + " (" +
                         std::to_string(f->width) + " x " + std::to_string(f->height) + ", " +
                         (av_get_pix_fmt_name(enc->pix_fmt) ? av_get_pix_fmt_name(enc->pix_fmt) : "?") +
                         "): " + AvErrorText(rc));
    return enc;
}

// Where the movie's last picture stops showing (ticks). Its packet's own
// duration is often a placeholder in variable-rate files (one tick of a 1/600 s
// clock), so the stream's stated end comes first; without one, a duration
// under half the gap before the picture is replaced by that gap.
int64_t LastPictureEnd(const AVStream* st, const std::vector<TIndexEntry>& index, const std::vector<int64_t>& sorted) {
    const int64_t last = sorted.back();
    const int64_t gap = sorted.size() > 1 ? last - sorted[sorted.size() - 2] : 0;
    if (st->duration > 0 && st->duration != AV_NOPTS_VALUE) {
        const int64_t stated = (st->start_time != AV_NOPTS_VALUE ? st->start_time : 0) + st->duration;
        // A stated end far past the pictures belongs to another stream or a damaged header.
        if (stated > last && (gap <= 0 || stated - last <= 4 * gap)) return stated;
    }
    int64_t duration = 0;
    for (const auto& e : index)
        if (e.Pts == last) duration = e.Duration;
    if (gap > 0 && 2 * duration < gap) duration = gap;
    return last + std::max<int64_t>(duration, 1);
}

const char* PrimariesWords(AVColorPrimaries p) {
    switch (p) {
        case AVCOL_PRI_BT709: return "BT.709";
        case AVCOL_PRI_BT2020: return "BT.2020";
        case AVCOL_PRI_SMPTE432: return "Display P3";
        default: return av_color_primaries_name(p);
    }
}

const char* TransferWords(AVColorTransferCharacteristic t) {
    switch (t) {
        case AVCOL_TRC_ARIB_STD_B67: return "HLG";
        case AVCOL_TRC_SMPTE2084: return "PQ";
        case AVCOL_TRC_BT709: return "BT.709";
        default: return av_color_transfer_name(t);
    }
}

bool IsHdrTransfer(int trc) { return trc == AVCOL_TRC_ARIB_STD_B67 || trc == AVCOL_TRC_SMPTE2084; }
bool IsWideOrHdr(const AVCodecParameters* par) {
    return par->color_primaries == AVCOL_PRI_BT2020 || par->color_primaries == AVCOL_PRI_SMPTE432 ||
           IsHdrTransfer(par->color_trc) || par->color_space == AVCOL_SPC_BT2020_NCL || par->color_space == AVCOL_SPC_BT2020_CL;
}

// What the MP4 clip made instead of a copy does to the movie's colours (see
// TCopyPlan::FallbackColour): it writes 8 bits and maps no HDR picture to an
// ordinary screen.
std::string FallbackColourNote(const AVCodecParameters* par) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format));
    const int depth = d ? d->comp[0].depth : 8;
    const std::string bits = std::to_string(depth) + " bits";
    if (!IsWideOrHdr(par)) return depth > 8 ? " Its pictures are written in 8 bits, not " + std::to_string(depth) + "." : "";
    std::string colours;
    auto add = [&](const char* word) {
        if (!word) return;
        colours += colours.empty() ? "" : ", ";
        colours += word;
    };
    if (par->color_primaries != AVCOL_PRI_UNSPECIFIED) add(PrimariesWords(par->color_primaries));
    if (par->color_trc != AVCOL_TRC_UNSPECIFIED) add(TransferWords(par->color_trc));
    if (depth > 8) add(bits.c_str());
    if (!FallbackKeepsColour(par))
        return " Its colours (" + colours + ") are written as BT.709 in 8 bits without being converted, so they look off.";
    return " Its colours keep their description (" + colours + ")" + (depth > 8 ? " in 8 bits" : "") +
           (IsHdrTransfer(par->color_trc) ? "; the HDR pictures are not tone-mapped, so screens without HDR show them flatter."
                                          : ".");
}

bool CopiesFrom(const AVInputFormat* f) {
    const std::string name = f->name;
    return name.find("mov") != std::string::npos || name.find("matroska") != std::string::npos || name == "mpegts";
}

}  // namespace

bool FallbackKeepsColour(const AVCodecParameters* par) {
    const int m = par->color_space;
    const bool scalerMakes = m == AVCOL_SPC_BT709 || m == AVCOL_SPC_BT470BG || m == AVCOL_SPC_SMPTE170M ||
                             m == AVCOL_SPC_BT2020_NCL;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format));
    const bool yuv = d && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) && d->nb_components >= 3;
    return IsWideOrHdr(par) && scalerMakes && yuv;
}

TCutPoints PlanCut(const std::string& path, int64_t firstFrame, int64_t endFrameNumber) {
    TCutPoints cut;
    cut.Path = path;
    TCopyPlan& plan = cut.Plan;
    TInputFile in = TInputFile::Open(path);
    auto refuse = [&](const std::string& why) {
        plan.CanCopy = false;
        plan.Why = why;
        if (cut.VideoStream >= 0) plan.FallbackColour = FallbackColourNote(in.Format->streams[cut.VideoStream]->codecpar);
        return cut;
    };
    AVFormatContext* fmt = in.Format.get();
    const int vs = in.FirstVideoStream();
    cut.VideoStream = vs;
    cut.AudioStream = in.FirstAudioStream();
    plan.HasAudio = cut.AudioStream >= 0;
    if (plan.HasAudio) {
        const AVOutputFormat* mp4 = av_guess_format("mp4", nullptr, nullptr);
        const AVCodecParameters* apar = fmt->streams[cut.AudioStream]->codecpar;
        // Sound web browsers play out of MP4 as it is. Chromium plays no AC-3
        // or E-AC-3 (an HEVC + AC-3 clip does not even open), starts copied
        // MP3 early (it skips no encoder delay), and neither Chromium nor
        // Firefox plays ALAC: those are made AAC like any other sound.
        static constexpr AVCodecID kCopied[] = {AV_CODEC_ID_AAC, AV_CODEC_ID_OPUS};
        plan.AudioCopied = mp4 && std::find(std::begin(kCopied), std::end(kCopied), apar->codec_id) != std::end(kCopied) &&
                           avformat_query_codec(mp4, apar->codec_id, FF_COMPLIANCE_NORMAL) == 1 && apar->sample_rate > 0;
    }
    if (vs < 0) return refuse("The movie has no pictures to copy.");
    const AVStream* st = fmt->streams[vs];
    const AVCodecParameters* par = st->codecpar;
    const bool hevc = IsHevc(par);
    if (par->codec_id == AV_CODEC_ID_H264) plan.Codec = "h264";
    if (hevc) plan.Codec = "hevc";
    if (plan.Codec.empty()) {
        const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id);
        return refuse(std::string("The movie's pictures are ") + (d ? d->long_name : "of an unknown kind") +
                      "; only H.264 and HEVC pictures are copied.");
    }
    if (!CopiesFrom(fmt->iformat))
        return refuse("Pictures are copied only out of MP4, MOV, Matroska and MPEG transport stream files.");
    if (par->field_order != AV_FIELD_PROGRESSIVE && par->field_order != AV_FIELD_UNKNOWN)
        return refuse("The movie is interlaced; its pictures are not copied.");
    const AVCodec* encoder = SameCodecEncoder(par);
    if (!encoder)
        return refuse(std::string("This installation lacks the ") + (hevc ? "libx265" : "libx264") +
                      " encoder the frames around the cut need.");
    if (!EncoderTakes(encoder, par->format)) {
        const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
        return refuse(std::string("The movie's pixel format ") + (name ? name : "(unknown)") + " can not be re-encoded with " +
                      encoder->name + ".");
    }

    // The span's frames by the frame clock's rule, as stamps of the file.
    cut.Clock = ListedClock(st, path, FirstFrameTicks(path, vs));
    const double mediaStop = cut.Clock.TimeOfFrame(endFrameNumber);
    const bool pastLast = cut.Clock.Variable() && endFrameNumber >= int64_t(cut.Clock.List->Times.size());
    const int64_t startTicks = cut.Clock.StampOf(cut.Clock.TicksOfFrame(firstFrame));
    // A range past the last picture reaches the movie's end.
    const int64_t stopTicks = pastLast ? std::numeric_limits<int64_t>::max() / 4
                                       : cut.Clock.StampOf(cut.Clock.TicksOfFrame(endFrameNumber));
    if (cut.Clock.Jumps() && cut.Clock.PieceOf(startTicks, -1) != cut.Clock.PieceOf(stopTicks, -1))
        return refuse("The movie's clock jumps inside the clip; its pictures can not be cut by their time stamps.");
    cut.ReadFromTicks = SeekBefore(in, vs, startTicks);

    // The picture packets from a key frame at or before the start to a little
    // past the end: enough that no frame of the clip comes later in the file.
    const int lengthSize = NalLengthSize(par);
    std::vector<TIndexEntry> index;
    bool eof = false;
    int pastEnd = 0;
    // Pictures come out of order by well under two seconds; a bigger step
    // back, or a gap of over a minute, is the clock jumping (recordings
    // joined end to end, a restarted transport stream).
    const int64_t second = std::max<int64_t>(1, av_rescale_q(1, AVRational{1, 1}, st->time_base));
    int64_t highest = std::numeric_limits<int64_t>::min();
    AvPacketPtr pkt = MakePacket();
    for (;;) {
        if (av_read_frame(fmt, pkt.get()) < 0) {
            eof = true;
            break;
        }
        if (pkt->stream_index != vs) {
            av_packet_unref(pkt.get());
            continue;
        }
        if (pkt->pts == AV_NOPTS_VALUE) return refuse("The movie's pictures carry no time stamps to cut by.");
        if (highest != std::numeric_limits<int64_t>::min() &&
            (pkt->pts < highest - 2 * second || pkt->pts > highest + 60 * second))
            return refuse("The movie's clock jumps near the clip; its pictures can not be cut by their time stamps.");
        highest = std::max(highest, pkt->pts);
        // No real picture lasts more than a minute; copied, such a duration would stretch the clip by it.
        if (pkt->duration > 60 * second)
            return refuse("The movie's pictures state durations of more than a minute; its time stamps are damaged.");
        TIndexEntry e;
        e.Pts = pkt->pts;
        e.Duration = pkt->duration > 0 ? pkt->duration : cut.Clock.FrameTicks;
        e.Key = pkt->flags & AV_PKT_FLAG_KEY;
        e.CopyStart = HasNal(pkt.get(), hevc, lengthSize, IsCopyStartNal);
        e.WholePicture = e.CopyStart;
        if (e.Key && !e.CopyStart && !hevc)
            ForEachNal(pkt->data, size_t(pkt->size), lengthSize, [&](const uint8_t* nal, size_t len) {
                if ((nal[0] & 0x1f) == 1 && IsIntraSlice(nal, len)) e.WholePicture = true;
            });
        if (!hevc)
            ForEachNal(pkt->data, size_t(pkt->size), lengthSize, [&](const uint8_t* nal, size_t len) {
                if (IsH264ParameterSet(nal[0] & 0x1f)) e.ParameterSets.emplace_back(reinterpret_cast<const char*>(nal), len);
            });
        av_packet_unref(pkt.get());
        index.push_back(e);
        if (e.Pts > stopTicks && ++pastEnd >= 64) break;
    }
    if (index.empty()) return refuse("No picture of the movie lies in the clip's range.");
    const size_t n = index.size();

    std::vector<int64_t> sorted;
    sorted.reserve(n);
    for (const auto& e : index) sorted.push_back(e.Pts);
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
        return refuse("Two of the movie's pictures carry the same time stamp; the cut can not be trusted.");

    // The clip: the frame on screen at the start up to the one on screen at the end.
    auto lastAtOrBefore = [&](int64_t t) {
        auto it = std::upper_bound(sorted.begin(), sorted.end(), t);
        return it == sorted.begin() ? sorted.front() : *std::prev(it);
    };
    cut.StartPts = lastAtOrBefore(startTicks);
    const int64_t endFrame = lastAtOrBefore(stopTicks);
    const int64_t lastEnd = LastPictureEnd(st, index, sorted);
    const bool toTheEnd = eof && endFrame == sorted.back() && stopTicks >= lastEnd;
    if (toTheEnd) {
        // Pictures that end over a second before the length the file states
        // are missing (a damaged or cut-short file); the re-encoding path names them.
        const auto lastEntry = std::max_element(index.begin(), index.end(),
                                                [](const TIndexEntry& a, const TIndexEntry& b) { return a.Pts < b.Pts; });
        const double tb = av_q2d(st->time_base);
        const double picturesEnd = double(lastEntry->Pts + lastEntry->Duration - cut.Clock.Origin) * tb;
        double stated = 0;
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0) stated = double(st->duration) * tb;
        else if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0 && fmt->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
            stated = double(fmt->duration) / AV_TIME_BASE;
        if (stated > picturesEnd + 1.0 && mediaStop > picturesEnd + 1.0)
            return refuse("The movie's pictures end before the length its file states.");
    }
    cut.EndPts = toTheEnd ? kNoEnd : endFrame;
    cut.EndSecondsPts = toTheEnd ? lastEnd : endFrame;
    auto inClip = [&](int64_t pts) { return pts >= cut.StartPts && pts < cut.EndPts; };
    plan.Frames = std::count_if(sorted.begin(), sorted.end(), inClip);
    if (plan.Frames == 0) return refuse("No picture of the movie lies in the clip's range.");

    // The copy starts on the first IDR picture of the clip (HEVC: random
    // access point) that nothing before it shows later than, and that no
    // later packet shows earlier than, but for its own leading pictures
    // (HEVC: RASL and RADL pictures come right after it). Those are left out
    // of the copy; the head re-encodes them.
    std::vector<int64_t> suffixMin(n + 1);
    // Past the read packets everything shows later than the clip (they were
    // read until well past its end); only the file's end may end the copy there.
    suffixMin[n] = kNoEnd;
    for (size_t i = n; i-- > 0;) suffixMin[i] = std::min(suffixMin[i + 1], index[i].Pts);
    size_t k = n, leadingEnd = n;
    int64_t prefixMax = std::numeric_limits<int64_t>::min();
    bool keyInClip = false, wholeKeyInClip = false;
    for (size_t i = 0; i < n; ++i) {
        const TIndexEntry& e = index[i];
        keyInClip = keyInClip || (e.Key && inClip(e.Pts));
        wholeKeyInClip = wholeKeyInClip || (e.Key && e.WholePicture && inClip(e.Pts));
        if (e.CopyStart && inClip(e.Pts) && prefixMax < e.Pts) {
            size_t j = i + 1;
            if (hevc)
                while (j < n && index[j].Pts < e.Pts) ++j;
            if (suffixMin[j] > e.Pts) {
                k = i;
                leadingEnd = j;
                break;
            }
        }
        prefixMax = std::max(prefixMax, e.Pts);
    }
    if (k == n) {
        if (keyInClip && !wholeKeyInClip)
            return refuse("The movie refreshes its pictures a stripe at a time (intra refresh): its key frames in the "
                          "clip's range are recovery points whose picture is whole only some frames later, so no part of it "
                          "can be copied on its own.");
        if (keyInClip)
            return refuse("The movie's key frames in the clip's range are not IDR pictures (open groups of pictures), so "
                          "no part of it can be copied on its own.");
        return refuse("The clip lies inside one group of pictures: it holds no key frame to copy from.");
    }
    // The copy ends at the last packet boundary before which every packet is
    // in the clip and shows earlier than every packet after it.
    size_t end = leadingEnd;
    prefixMax = index[k].Pts;
    for (size_t i = leadingEnd; i <= n; ++i) {
        if (i > leadingEnd) prefixMax = std::max(prefixMax, index[i - 1].Pts);
        if (prefixMax >= cut.EndPts || (i == n && !eof)) break;
        if (prefixMax < suffixMin[i]) end = i;
    }
    cut.CopyStartPts = index[k].Pts;
    cut.CopyEndPts = suffixMin[end];
    cut.CopiedPts.push_back(index[k].Pts);
    for (size_t i = leadingEnd; i < end; ++i) cut.CopiedPts.push_back(index[i].Pts);
    plan.CopiedFrames = int64_t(cut.CopiedPts.size());
    plan.HeadFrames = std::count_if(sorted.begin(), sorted.end(), [&](int64_t p) { return inClip(p) && p < cut.CopyStartPts; });
    plan.TailFrames = std::count_if(sorted.begin(), sorted.end(), [&](int64_t p) { return inClip(p) && p >= cut.CopyEndPts; });
    if (plan.HeadFrames + plan.CopiedFrames + plan.TailFrames != plan.Frames)
        return refuse("The movie's time stamps do not follow its pictures; the cut can not be trusted.");

    // Decode stamps for the whole clip come from one rule (see TCutPoints):
    // the copied packets' own reordering, and the re-encoder's (at most two
    // places with the B-frame pyramid of its presets).
    for (int64_t p : sorted)
        if (inClip(p)) cut.ClipPts.push_back(p);
    std::vector<int64_t> shown = cut.CopiedPts;
    std::sort(shown.begin(), shown.end());
    cut.ReorderDepth = kEncoderReorderDepth;
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto rank = std::lower_bound(shown.begin(), shown.end(), cut.CopiedPts[i]) - shown.begin();
        cut.ReorderDepth = std::max<int64_t>(cut.ReorderDepth, int64_t(i) - rank);
    }

    // H.264: one set of parameter sets through the copy (the extradata's and
    // any in the copied packets agree) goes into an avc1 sample entry.
    if (!hevc) {
        std::map<std::pair<int, int>, std::string> sets;
        bool clash = false;
        auto add = [&](const std::string& nal) {
            const int id = ParameterSetId(reinterpret_cast<const uint8_t*>(nal.data()), nal.size());
            if (id < 0) {
                clash = true;
                return;
            }
            auto [it, added] = sets.emplace(std::make_pair(nal[0] & 0x1f, id), nal);
            clash = clash || (!added && it->second != nal);
        };
        // The sets the copy starts with: its first picture's own, else the
        // stream's (a transport stream's are only the first ones in the file).
        bool ownAtStart = false, spsAtStart = false;
        for (const auto& nal : index[k].ParameterSets) {
            spsAtStart = spsAtStart || (nal[0] & 0x1f) == 7;
            ownAtStart = ownAtStart || (spsAtStart && (nal[0] & 0x1f) == 8);
        }
        if (!ownAtStart)
            for (const auto& nal : ExtradataParameterSets(par)) add(nal);
        for (size_t i = k; i < end; ++i)
            for (const auto& nal : index[i].ParameterSets) add(nal);
        int own = -1;
        for (int id = 1; id < 32 && own < 0; ++id)
            if (!sets.count({7, id}) && !sets.count({8, id})) own = id;
        if (!clash && own > 0 && sets.size() < 31) {
            for (const auto& [key, nal] : sets) (key.first == 7 ? cut.SourceSps : cut.SourcePps).push_back(nal);
            if (!cut.SourceSps.empty() && !cut.SourcePps.empty()) cut.OwnParameterSetId = own;
        }
    }
    plan.CanCopy = true;
    return cut;
}

TCopyPlan PlanCopy(const std::string& sourceFile, int64_t firstFrame, int64_t endFrame) {
    return PlanCut(sourceFile, firstFrame, endFrame).Plan;
}


// ------------------------------------------------------------------ video

std::unique_ptr<TCopyVideo> MakeCopyVideo(const TCutPoints& cut, AVFormatContext* out) {
    auto job = std::make_unique<TCopyVideo>();
    job->Cut = cut;
    job->In = TInputFile::Open(cut.Path);
    const AVStream* ist = job->In.Format->streams[cut.VideoStream];
    const AVCodecParameters* par = ist->codecpar;
    job->SourceTb = ist->time_base;

    AVStream* st = avformat_new_stream(out, nullptr);
    if (!st) throw std::bad_alloc();
    CheckRc(avcodec_parameters_copy(st->codecpar, par), "Setting up the output stream");
    if (cut.OwnParameterSetId > 0) {
        // The re-encoder's parameter sets, from an encoder set up as the real ones will be.
        AvFramePtr shape = MakeFrame();
        shape->width = par->width;
        shape->height = par->height;
        shape->format = par->format;
        shape->sample_aspect_ratio = par->sample_aspect_ratio;
        AvCodecContextPtr probe = OpenSameCodecEncoder(ist, shape.get(), cut.Clock, cut.OwnParameterSetId);
        job->OwnParameterSets.assign(reinterpret_cast<const char*>(probe->extradata), size_t(probe->extradata_size));
        std::vector<std::string> sps = cut.SourceSps, pps = cut.SourcePps;
        ForEachNal(probe->extradata, size_t(probe->extradata_size), 0, [&](const uint8_t* nal, size_t len) {
            const int type = nal[0] & 0x1f;
            if (type == 7) sps.emplace_back(reinterpret_cast<const char*>(nal), len);
            if (type == 8) pps.emplace_back(reinterpret_cast<const char*>(nal), len);
        });
        if (sps.size() != cut.SourceSps.size() + 1 || pps.size() != cut.SourcePps.size() + 1)
            throw MediaError("The H.264 encoder gave no parameter sets for the frames around the cut.");
        const std::string record = AvcConfigRecord(sps, pps, par);
        av_freep(&st->codecpar->extradata);
        st->codecpar->extradata = static_cast<uint8_t*>(av_mallocz(record.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!st->codecpar->extradata) throw std::bad_alloc();
        std::memcpy(st->codecpar->extradata, record.data(), record.size());
        st->codecpar->extradata_size = int(record.size());
    } else if (NalLengthSize(par) > 0) {
        const AVBitStreamFilter* filter = av_bsf_get_by_name(IsHevc(par) ? "hevc_mp4toannexb" : "h264_mp4toannexb");
        if (!filter) throw MediaError("This installation lacks the filter that turns the movie's pictures into a byte stream.");
        AVBSFContext* raw = nullptr;
        CheckRc(av_bsf_alloc(filter, &raw), "Setting up the copy");
        job->ToByteStream.reset(raw);
        CheckRc(avcodec_parameters_copy(raw->par_in, par), "Setting up the copy");
        raw->time_base_in = ist->time_base;
        CheckRc(av_bsf_init(raw), "Setting up the copy");
        // The sample entry describes the stream by the source's parameter sets, as start codes.
        CheckRc(avcodec_parameters_copy(st->codecpar, raw->par_out), "Setting up the output stream");
    }
    // Parameter sets in the sample entry (avc1), or in the stream, every part bringing its own.
    st->codecpar->codec_tag = IsHevc(par)                  ? MKTAG('h', 'e', 'v', '1')
                              : cut.OwnParameterSetId > 0 ? MKTAG('a', 'v', 'c', '1')
                                                          : MKTAG('a', 'v', 'c', '3');
    st->time_base = ist->time_base;
    st->avg_frame_rate = cut.Clock.Rate;
    st->sample_aspect_ratio = ist->sample_aspect_ratio;
    size_t size = 0;
    if (const uint8_t* matrix = av_stream_get_side_data(ist, AV_PKT_DATA_DISPLAYMATRIX, &size)) {
        uint8_t* copy = av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, size);
        if (!copy) throw std::bad_alloc();
        std::memcpy(copy, matrix, size);
    }
    job->Stream = st;
    return job;
}

namespace {

// The copy's first picture in HEVC, a CRA, becomes a BLA: a decoder then
// drops what it holds for references (the re-encoded head's) and starts the
// source's pictures afresh, as the standard has spliced streams do. The
// packet is a byte stream (start codes) by now.
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

class TVideoWriter {
public:
    TVideoWriter(TCopyVideo& job, TShared& shared) : FJob(job), FShared(shared) {}

    // Writes a packet stamped in source ticks; the clip's first frame is 0.
    // lengthSize: how its NAL units are framed (0: start codes).
    void Write(AVPacket* pkt, int lengthSize) {
        if (FJob.Cut.OwnParameterSetId > 0) ToLengthPrefixed(pkt, lengthSize);
        // The n-th packet decodes at the time the clip's picture ReorderDepth
        // places before the n-th is shown: rising, never after its own
        // picture, and the decode times span exactly the clip's length.
        const TCutPoints& cut = FJob.Cut;
        const int64_t n = FWritten - cut.ReorderDepth;
        if (FWritten >= int64_t(cut.ClipPts.size())) throw MediaError("More pictures came out than the clip holds.");
        // Each picture lasts until the next one of the clip shows, the last
        // until the clip's end: the packets' own durations are not trusted
        // (placeholders in variable-rate sources), and the picture track ends
        // with the sound.
        const auto shown = std::lower_bound(cut.ClipPts.begin(), cut.ClipPts.end(), pkt->pts);
        if (shown != cut.ClipPts.end() && *shown == pkt->pts)
            pkt->duration = std::next(shown) != cut.ClipPts.end() ? *std::next(shown) - pkt->pts
                                                                  : std::max<int64_t>(1, cut.EndSecondsPts - pkt->pts);
        pkt->dts = n >= 0 ? cut.ClipPts[size_t(n)] : cut.ClipPts.front() + n * cut.Clock.FrameTicks;
        if (pkt->pts == AV_NOPTS_VALUE || pkt->dts > pkt->pts)
            throw MediaError("The pictures around the cut come in an order that can not be written.");
        ++FWritten;
        pkt->pts -= cut.StartPts;
        pkt->dts -= cut.StartPts;
        av_packet_rescale_ts(pkt, FJob.SourceTb, FJob.Stream->time_base);
        pkt->stream_index = FJob.Stream->index;
        FShared.Write(pkt);
    }

    // Decodes the frames stamped from..to-1 and encodes them as a part of
    // their own; false when stopped part-way (what was encoded is written).
    bool Reencode(int64_t from, int64_t to, int64_t expected) {
        const TCutPoints& cut = FJob.Cut;
        const AVStream* st = FJob.In.Format->streams[cut.VideoStream];
        TFrameDecoder dec(FJob.In, cut.VideoStream, cut.Clock.FrameTicks, cut.Clock.Origin);
        const int64_t startTicks = st->start_time != AV_NOPTS_VALUE ? st->start_time : cut.Clock.Origin;
        AvFramePtr f = MakeFrame();
        bool have = dec.SeekTo(from, startTicks, f.get());
        if (dec.SeekFailed()) throw MediaError("Seeking in the movie failed.");
        // Pictures nothing refers to are not decoded on the way to the part.
        dec.SkipBefore(from);
        AvCodecContextPtr enc;
        auto write = [&](AVPacket* pkt) {
            if (pkt->duration <= 0) pkt->duration = cut.Clock.FrameTicks;
            Write(pkt, 0);
        };
        int64_t done = 0;
        bool stopped = false;
        while (have && f->pts < to) {
            if (FShared.ShouldEnd()) {
                stopped = true;
                break;
            }
            if (f->pts >= from) {
                if (!enc) {
                    enc = OpenSameCodecEncoder(st, f.get(), cut.Clock, cut.OwnParameterSetId);
                    if (enc->has_b_frames > kEncoderReorderDepth)
                        throw MediaError("The encoder for the frames around the cut reorders them more than expected.");
                    if (cut.OwnParameterSetId > 0 &&
                        std::string(reinterpret_cast<const char*>(enc->extradata), size_t(std::max(0, enc->extradata_size))) !=
                            FJob.OwnParameterSets)
                        throw MediaError("The H.264 encoder's parameter sets differ from the ones written for it.");
                }
                if (f->width != enc->width || f->height != enc->height || f->format != enc->pix_fmt)
                    throw MediaError("The movie's picture size or format changes next to the cut; it can not be re-encoded as one part.");
                f->pict_type = AV_PICTURE_TYPE_NONE;
                EncodeFrame(enc.get(), f.get(), write);
                ++done;
                ++FJob.FramesDone;
            }
            av_frame_unref(f.get());
            have = dec.Next(f.get());
        }
        if (dec.Cancelled()) stopped = true;
        if (enc) EncodeFrame(enc.get(), nullptr, write);
        if (!stopped && done != expected)
            throw MediaError("Only " + std::to_string(done) + " of the " + std::to_string(expected) +
                             " pictures next to the cut could be decoded.");
        return !stopped;
    }

    // Copies the planned packets as they are; false when stopped part-way.
    bool Copy() {
        const TCutPoints& cut = FJob.Cut;
        AVFormatContext* fmt = FJob.In.Format.get();
        const AVStream* st = fmt->streams[cut.VideoStream];
        const bool hevc = IsHevc(st->codecpar);
        SeekAgain(FJob.In, cut.VideoStream, cut.ReadFromTicks);
        AvPacketPtr pkt = MakePacket();
        AvPacketPtr filtered = MakePacket();
        AVBSFContext* bsf = FJob.ToByteStream.get();
        if (bsf) av_bsf_flush(bsf);
        size_t j = 0;
        const size_t count = cut.CopiedPts.size();
        while (j < count) {
            if (FShared.ShouldEnd()) return false;
            if (av_read_frame(fmt, pkt.get()) < 0) throw MediaError("The movie ended before its copied part did; was it changed meanwhile?");
            // Before the copy's first picture, and its leading pictures after it: not copied.
            if (pkt->stream_index != cut.VideoStream || (j == 0 && pkt->pts != cut.CopyStartPts) ||
                (j > 0 && pkt->pts < cut.CopyStartPts)) {
                av_packet_unref(pkt.get());
                continue;
            }
            if (pkt->pts != cut.CopiedPts[j]) throw MediaError("The movie's packets differ from what was read before; was it changed meanwhile?");
            AVPacket* out = pkt.get();
            int lengthSize = 0;
            if (cut.OwnParameterSetId > 0) {
                lengthSize = NalLengthSize(st->codecpar);
            } else if (bsf) {
                CheckRc(av_bsf_send_packet(bsf, pkt.get()), "Copying the pictures");
                CheckRc(av_bsf_receive_packet(bsf, filtered.get()), "Copying the pictures");
                out = filtered.get();
            } else if (j == 0 && !HasNal(out, hevc, 0, IsSpsNal) && st->codecpar->extradata_size > 0) {
                // A byte stream whose first copied IDR lacks its parameter sets: put the stream's in front.
                const int extra = st->codecpar->extradata_size;
                CheckRc(av_packet_make_writable(out), "Copying the pictures");
                const int size = out->size;
                CheckRc(av_grow_packet(out, extra), "Copying the pictures");
                std::memmove(out->data + extra, out->data, size_t(size));
                std::memcpy(out->data, st->codecpar->extradata, size_t(extra));
            }
            if (j == 0 && hevc) MarkCraAsBla(out);
            out->pts = cut.CopiedPts[j];
            if (out->duration <= 0) out->duration = cut.Clock.FrameTicks;
            if (j == 0) out->flags |= AV_PKT_FLAG_KEY;
            Write(out, lengthSize);
            av_packet_unref(pkt.get());
            av_packet_unref(filtered.get());
            ++j;
            ++FJob.FramesDone;
        }
        return true;
    }

private:
    TCopyVideo& FJob;
    TShared& FShared;
    int64_t FWritten = 0;  // packets written
};

}  // namespace

void RunCopyVideo(TCopyVideo& job, TShared& shared) {
    const TCutPoints& cut = job.Cut;
    TVideoWriter writer(job, shared);
    if (cut.Plan.HeadFrames > 0 && !writer.Reencode(cut.StartPts, cut.CopyStartPts, cut.Plan.HeadFrames)) return;
    if (!writer.Copy()) return;
    if (cut.Plan.TailFrames > 0) writer.Reencode(cut.CopyEndPts, cut.EndPts, cut.Plan.TailFrames);
}

// ------------------------------------------------------------------ audio

std::unique_ptr<TCopyAudio> MakeCopyAudio(const TCutPoints& cut, AVFormatContext* out) {
    auto job = std::make_unique<TCopyAudio>();
    job->Cut = cut;
    job->In = TInputFile::Open(cut.Path);
    const AVStream* ist = job->In.Format->streams[cut.AudioStream];
    job->SourceTb = ist->time_base;
    AVStream* st = avformat_new_stream(out, nullptr);
    if (!st) throw std::bad_alloc();
    CheckRc(avcodec_parameters_copy(st->codecpar, ist->codecpar), "Setting up the output stream");
    st->codecpar->codec_tag = 0;
    st->time_base = ist->time_base;
    job->Stream = st;
    return job;
}

// The sound's packets that play during the clip, the first one starting at
// most one packet before the picture (the writer's edit list skips the
// difference), the last one reaching at most one packet past its end.
void RunCopyAudio(TCopyAudio& job, TShared& shared) {
    const TCutPoints& cut = job.Cut;
    AVFormatContext* fmt = job.In.Format.get();
    const int as = cut.AudioStream;
    const AVCodecParameters* par = fmt->streams[as]->codecpar;
    const double vtb = av_q2d(cut.Clock.TimeBase);
    const double atb = av_q2d(job.SourceTb);
    const int64_t from = std::llround(double(cut.StartPts) * vtb / atb);
    const int64_t to = std::llround(double(cut.EndSecondsPts) * vtb / atb);
    const int64_t frameTicks = par->frame_size > 0 && par->sample_rate > 0
                                   ? av_rescale_q(par->frame_size, AVRational{1, par->sample_rate}, job.SourceTb)
                                   : 0;
    SeekBefore(job.In, as, from);
    AvPacketPtr pkt = MakePacket();
    int64_t lastDts = std::numeric_limits<int64_t>::min();
    while (!shared.ShouldEnd()) {
        if (av_read_frame(fmt, pkt.get()) < 0) break;
        if (pkt->stream_index != as || (pkt->pts == AV_NOPTS_VALUE && pkt->dts == AV_NOPTS_VALUE)) {
            av_packet_unref(pkt.get());
            continue;
        }
        if (pkt->pts == AV_NOPTS_VALUE) pkt->pts = pkt->dts;
        if (pkt->duration <= 0) pkt->duration = frameTicks;
        if (pkt->pts + std::max<int64_t>(pkt->duration, 1) <= from) {
            av_packet_unref(pkt.get());
            continue;
        }
        if (pkt->pts >= to) break;
        pkt->pts -= from;
        pkt->dts = pkt->pts;
        if (pkt->dts <= lastDts) {
            av_packet_unref(pkt.get());  // a repeated or backward stamp: the packet is not played
            continue;
        }
        lastDts = pkt->dts;
        av_packet_rescale_ts(pkt.get(), job.SourceTb, job.Stream->time_base);
        pkt->stream_index = job.Stream->index;
        shared.Write(pkt.get());
        av_packet_unref(pkt.get());
    }
}

}  // namespace media
