// The media detector over libavformat/libavcodec/libswscale.
//
// Frame exactness: the frame at time t is the last frame whose presentation
// time, counted from the stream's first picture (FirstFrameTicks), is not
// after t; a picture without a timestamp comes one frame after the one
// before it. Times are turned into
// stream ticks with a small tolerance (kTimeTolerance, at least one tick but
// never more than a quarter frame) so that t = p / FrameRate, computed in
// floating point, does not fall just before frame p's timestamp.
//
// Speed: the demuxer and decoder stay open between requests. The decoder
// keeps the frame last shown (Cur) and, when it had to look one frame past
// the target to know Cur is the answer, that next frame (Ahead). A target at
// or after Cur is reached by decoding forward unless it lies more than
// kSeekThresholdFrames ahead with a key frame in between (or no index to tell),
// in which case we seek backward to a key frame. Frames well before the
// target are decoded with non-reference frames skipped; if a skipped packet
// could have been the answer, the request is repeated without skipping.
#include "media/MediaDetector.h"

#include "media/InputFile.h"
#include "media/Scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace media {

namespace {

constexpr uint64_t kMaxBitmapBytes = 256ull << 20;   // refuse larger output bitmaps
constexpr double kSeekThresholdFrames = 64;           // decode forward up to this far
constexpr double kTimeTolerance = 1e-6;               // seconds
constexpr int kSkipMarginFrames = 3;                  // never skip this close to the target
constexpr int kMaxAwaitKeyFrames = 600;               // give up waiting for a key frame after a seek

uint64_t BitmapBytes(int width, int height) {
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t(3);
    return kBitmapInfoHeaderSize + stride * static_cast<uint64_t>(height);
}

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

bool IsVideo(const AVStream* s) {
    return s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

// End of the stream's last packet (pts plus duration, one frame when the
// packet has none) counted from the stream's start, found by reading packets.
// tailBytes > 0 reads only that much from the end of the file.
double ScanStreamLength(const std::string& path, int stream, int64_t tailBytes) {
    try {
        TInputFile in = TInputFile::Open(path);
        if (stream >= int(in.Format->nb_streams)) return 0;
        const AVStream* st = in.Format->streams[stream];
        const AVRational rate = StreamFrameRate(st);
        const int64_t frameTicks =
            UsableFrameRate(rate) ? std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), st->time_base)) : 0;
        AvPacketPtr pkt = MakePacket();
        int64_t first = AV_NOPTS_VALUE, end = AV_NOPTS_VALUE;
        if (tailBytes > 0) {
            const int64_t size = avio_size(in.Format->pb);
            if (size > tailBytes) av_seek_frame(in.Format.get(), -1, size - tailBytes, AVSEEK_FLAG_BYTE);
        }
        while (av_read_frame(in.Format.get(), pkt.get()) >= 0) {
            if (pkt->stream_index == stream) {
                const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
                if (ts != AV_NOPTS_VALUE) {
                    if (first == AV_NOPTS_VALUE || ts < first) first = ts;
                    const int64_t e = ts + (pkt->duration > 0 ? pkt->duration : frameTicks);
                    if (end == AV_NOPTS_VALUE || e > end) end = e;
                }
            }
            av_packet_unref(pkt.get());
        }
        if (first == AV_NOPTS_VALUE) return 0;
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : first;
        return std::max(0.0, double(end - start) * av_q2d(st->time_base));
    } catch (const MediaError&) {
        return 0;
    }
}

}  // namespace

struct TMediaDetector::TImpl {
    std::string File;
    std::string Error;
    std::optional<TInputFile> In;
    int Current = -1;
    int VideoStream = -1;
    std::vector<double> Lengths;  // seconds per stream, worked out when the file opens
    TStats Stats;

    // Decoding state of stream DecStream.
    int DecStream = -1;
    AvCodecContextPtr Dec;
    AvPacketPtr Pkt;
    AvFramePtr Cur, Ahead, Scratch;
    bool HasCur = false, HasAhead = false;
    int64_t CurPts = 0, AheadPts = 0, ScratchPts = 0;
    bool DemuxEof = false, DecoderEof = false;
    bool AtStart = true;     // demuxer and decoder have not moved since the file opened or sought to its start
    bool AwaitKey = false;   // after a seek: drop frames until a key frame comes out
    int Awaited = 0;
    int64_t MaxSkippedPts = AV_NOPTS_VALUE;
    int64_t LastPts = AV_NOPTS_VALUE;
    int64_t Origin = 0;      // ticks of the stream's first frame
    int64_t FrameTicks = 1;  // one frame's duration in ticks (at least 1)
    double Fps = 25;

    TScaler Scaler;

    void Close() {
        Dec.reset();
        DecStream = -1;
        In.reset();
        Lengths.clear();
        Current = -1;
        VideoStream = -1;
        Stats = {};
        ResetDecodeState();
    }
    void ResetDecodeState() {
        HasCur = HasAhead = false;
        DemuxEof = DecoderEof = false;
        AwaitKey = false;
        Awaited = 0;
        MaxSkippedPts = AV_NOPTS_VALUE;
        LastPts = AV_NOPTS_VALUE;
        if (Cur) av_frame_unref(Cur.get());
        if (Ahead) av_frame_unref(Ahead.get());
    }

    AVStream* Stream(int i) const {
        return In && i >= 0 && i < int(In->Format->nb_streams) ? In->Format->streams[i] : nullptr;
    }

    double FrameRateOf(int i) const {
        const AVStream* s = Stream(i);
        if (!s || !IsVideo(s)) return 0;
        const AVRational rate = StreamFrameRate(s);
        return UsableFrameRate(rate) ? av_q2d(rate) : 0;
    }

    double LengthOf(int i) const {
        const AVStream* s = Stream(i);
        if (!s) return 0;
        if (s->duration != AV_NOPTS_VALUE && s->duration > 0) return double(s->duration) * av_q2d(s->time_base);
        if (In->Format->duration != AV_NOPTS_VALUE && In->Format->duration > 0)
            return double(In->Format->duration) / AV_TIME_BASE;
        return 0;
    }

    // Opens the decoder for the current stream when it is not the one open.
    void EnsureDecoder() {
        if (Dec && DecStream == Current) return;
        AVStream* st = Stream(Current);
        Dec = OpenDecoder(st);
        DecStream = Current;
        if (!Pkt) Pkt = MakePacket();
        if (!Cur) Cur = MakeFrame();
        if (!Ahead) Ahead = MakeFrame();
        if (!Scratch) Scratch = MakeFrame();
        ResetDecodeState();
        Fps = FrameRateOf(Current);
        if (Fps <= 0) Fps = 25;
        FrameTicks = std::max<int64_t>(1, av_rescale_q(1, av_d2q(1.0 / Fps, 1 << 30), st->time_base));
        Origin = FirstFrameTicks(File, Current);
        if (!AtStart) SeekToStart();
    }

    int64_t TicksFor(double seconds) const {
        const AVStream* st = Stream(DecStream);
        const double tick = av_q2d(st->time_base);
        // At least one tick (timestamps rounded to the time base), at most a quarter frame.
        const double tol = std::min(std::max(kTimeTolerance, 1.01 * tick), 0.25 / Fps);
        const double ticks = std::floor((seconds + tol) / tick);
        const double lim = 4e18;
        return Origin + static_cast<int64_t>(std::clamp(ticks, -lim, lim));
    }

    // Pulls the next frame out of the decoder into Scratch (ScratchPts), feeding
    // packets as needed. False at the end of the stream.
    bool ReceiveNext(int64_t targetTs, bool allowSkip) {
        for (;;) {
            int rc = avcodec_receive_frame(Dec.get(), Scratch.get());
            if (rc == 0) {
                ++Stats.FramesDecoded;
                int64_t pts = Scratch->best_effort_timestamp;
                if (pts == AV_NOPTS_VALUE) pts = LastPts == AV_NOPTS_VALUE ? Origin : LastPts + FrameTicks;
                LastPts = pts;
                if (AwaitKey && !Scratch->key_frame && ++Awaited < kMaxAwaitKeyFrames) {
                    av_frame_unref(Scratch.get());
                    continue;
                }
                AwaitKey = false;
                ScratchPts = pts;
                return true;
            }
            if (rc != AVERROR(EAGAIN)) {  // end of stream, or a decoder that cannot go on
                DecoderEof = true;
                return false;
            }
            if (DemuxEof) {  // the decoder wants input that will never come
                DecoderEof = true;
                return false;
            }
            rc = av_read_frame(In->Format.get(), Pkt.get());
            if (rc < 0) {  // end of file or a read error: let the decoder give out what it holds
                DemuxEof = true;
                avcodec_send_packet(Dec.get(), nullptr);
                continue;
            }
            if (Pkt->stream_index != DecStream) {
                av_packet_unref(Pkt.get());
                continue;
            }
            AtStart = false;
            const bool skip = allowSkip && !AwaitKey && Pkt->pts != AV_NOPTS_VALUE &&
                              Pkt->pts < targetTs - kSkipMarginFrames * FrameTicks;
            Dec->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            if (skip && (MaxSkippedPts == AV_NOPTS_VALUE || Pkt->pts > MaxSkippedPts)) MaxSkippedPts = Pkt->pts;
            // A damaged packet is dropped; the decoder carries on with the next one.
            avcodec_send_packet(Dec.get(), Pkt.get());
            av_packet_unref(Pkt.get());
        }
    }

    void TakeScratchAsCur() {
        std::swap(Cur, Scratch);
        CurPts = ScratchPts;
        HasCur = true;
        av_frame_unref(Scratch.get());
    }

    bool SeekToStart() {
        ++Stats.Seeks;
        const bool ok = In->SeekToStart(DecStream);
        avcodec_flush_buffers(Dec.get());
        ResetDecodeState();
        AtStart = true;
        return ok;
    }

    // Seeks to a key frame at or before targetTs and decodes it into Cur.
    // Seeks that land after the target (no index) are repeated further back.
    bool SeekTo(int64_t targetTs, bool allowSkip) {
        AVStream* st = Stream(DecStream);
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : Origin;
        int64_t seekTs = targetTs;
        int64_t backoff = std::max<int64_t>(FrameTicks, av_rescale_q(1, AVRational{1, 1}, st->time_base));
        for (int tries = 0;; ++tries) {
            bool toStart = seekTs <= start || tries >= 10;
            if (!toStart) {
                ++Stats.Seeks;
                int rc = avformat_seek_file(In->Format.get(), DecStream, INT64_MIN, seekTs, seekTs, 0);
                if (rc < 0) rc = av_seek_frame(In->Format.get(), DecStream, seekTs, AVSEEK_FLAG_BACKWARD);
                if (rc < 0) {
                    toStart = true;
                } else {
                    avcodec_flush_buffers(Dec.get());
                    ResetDecodeState();
                    AtStart = false;
                    AwaitKey = true;
                }
            }
            if (toStart && !SeekToStart()) {
                Error = "Seeking in the movie failed.";
                return false;
            }
            if (!ReceiveNext(targetTs, allowSkip)) {
                if (toStart) return false;  // nothing decodable at all
            } else if (ScratchPts <= targetTs || toStart) {
                TakeScratchAsCur();
                return true;
            }
            // Landed after the target (or on nothing): go further back.
            seekTs = std::min(seekTs, HasCur ? CurPts : seekTs) - backoff;
            backoff *= 2;
        }
    }

    bool KeyFrameBetween(int64_t fromTs, int64_t toTs) {
        AVStream* st = Stream(DecStream);
        if (avformat_index_get_entries_count(st) == 0) return true;  // no index: cannot tell
        const int idx = av_index_search_timestamp(st, toTs, AVSEEK_FLAG_BACKWARD);
        if (idx < 0) return false;
        const AVIndexEntry* e = avformat_index_get_entry(st, idx);
        return e && e->timestamp > fromTs;
    }

    // Makes Cur the last frame whose time is not after targetTs, decoding forward.
    void DecodeForward(int64_t targetTs, bool allowSkip) {
        if (HasAhead) {
            if (AheadPts > targetTs) return;
            std::swap(Cur, Ahead);
            CurPts = AheadPts;
            HasCur = true;
            HasAhead = false;
            av_frame_unref(Ahead.get());
        }
        while (ReceiveNext(targetTs, allowSkip)) {
            if (!HasCur || ScratchPts <= targetTs) {
                const bool past = ScratchPts > targetTs;  // the movie's first frame comes after t
                TakeScratchAsCur();
                if (past) return;
                continue;
            }
            std::swap(Ahead, Scratch);
            AheadPts = ScratchPts;
            HasAhead = true;
            av_frame_unref(Scratch.get());
            return;
        }
    }

    // Leaves the frame for `seconds` in Cur. False when none could be decoded.
    bool FrameAt(double seconds) {
        const int64_t targetTs = TicksFor(seconds);
        bool allowSkip = true, forceSeek = false;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const bool answered = !forceSeek && HasCur && targetTs >= CurPts &&
                                  (HasAhead ? targetTs < AheadPts : DecoderEof);
            if (!answered) {
                bool seek = forceSeek || (HasCur && targetTs < CurPts) || (!HasCur && !AtStart);
                if (!seek) {
                    const int64_t last = HasAhead ? AheadPts : HasCur ? CurPts : Origin;
                    const double framesAhead = double(targetTs - last) / double(FrameTicks);
                    seek = framesAhead > kSeekThresholdFrames && KeyFrameBetween(last, targetTs);
                }
                if (seek) {
                    if (!SeekTo(targetTs, allowSkip)) break;
                }
                DecodeForward(targetTs, allowSkip);
            }
            if (!HasCur) break;
            if (MaxSkippedPts == AV_NOPTS_VALUE || CurPts >= MaxSkippedPts) return true;
            // A skipped non-reference frame may have been the one on screen: do it again in full.
            allowSkip = false;
            forceSeek = true;
        }
        if (!HasCur) {
            if (Error.empty()) Error = "No picture could be decoded from the movie at this time.";
            return false;
        }
        return true;
    }

    // Writes f, scaled to width x height, as bottom-up BGR rows padded to 4 bytes.
    bool Scale(const AVFrame* f, uint8_t* buffer, int width, int height) {
        AvFramePtr picture;
        try {
            picture = Scaler.Scale(f, width, height, AV_PIX_FMT_BGR24);
        } catch (const MediaError& e) {
            Error = e.what();
            return false;
        }
        const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t(3);
        const std::size_t row = static_cast<std::size_t>(width) * 3;
        uint8_t* pixels = buffer + kBitmapInfoHeaderSize;
        for (int y = 0; y < height; ++y) {
            uint8_t* dst = pixels + stride * static_cast<std::size_t>(height - 1 - y);
            std::memcpy(dst, picture->data[0] + static_cast<std::ptrdiff_t>(picture->linesize[0]) * y, row);
            std::memset(dst + row, 0, stride - row);
        }
        return true;
    }
};

TMediaDetector::TMediaDetector() : Impl(std::make_unique<TImpl>()) {}
TMediaDetector::~TMediaDetector() = default;

bool TMediaDetector::put_Filename(const std::string& path) {
    Impl->Close();
    Impl->File = path;
    Impl->Error.clear();
    try {
        Impl->In.emplace(TInputFile::Open(path));
    } catch (const MediaError& e) {
        Impl->In.reset();
        Impl->Error = e.what();
        return false;
    }
    const int n = int(Impl->In->Format->nb_streams);
    Impl->Lengths.resize(n);
    const auto method = Impl->In->Format->duration_estimation_method;
    for (int i = 0; i < n; ++i) {
        Impl->Lengths[i] = Impl->LengthOf(i);
        if (!IsVideo(Impl->In->Format->streams[i])) continue;
        if (Impl->Lengths[i] <= 0 || method == AVFMT_DURATION_FROM_BITRATE) {
            // Unknown (live recordings, some WebM files) or guessed from the bit rate: read all packets.
            const double scanned = ScanStreamLength(path, i, 0);
            if (scanned > 0) Impl->Lengths[i] = scanned;
        } else if (method == AVFMT_DURATION_FROM_PTS) {
            // MPEG program and transport streams: FFmpeg takes the last timestamp near the end of
            // the file, which misses the last frame's own duration and frames reordered after it.
            const double scanned = ScanStreamLength(path, i, 4 << 20);
            if (scanned > 0) Impl->Lengths[i] = scanned;
        }
    }
    Impl->Current = n > 0 ? 0 : -1;
    Impl->VideoStream = Impl->In->FirstVideoStream();
    Impl->AtStart = true;
    return true;
}

const std::string& TMediaDetector::Filename() const { return Impl->File; }

int TMediaDetector::get_OutputStreams() const { return Impl->In ? int(Impl->In->Format->nb_streams) : 0; }

bool TMediaDetector::put_CurrentStream(int index) {
    if (index < 0 || index >= get_OutputStreams()) return false;
    Impl->Current = index;
    return true;
}

int TMediaDetector::get_CurrentStream() const { return Impl->Current; }

int TMediaDetector::get_VideoStream() const { return Impl->VideoStream; }

TMajorType TMediaDetector::get_StreamType() const {
    const AVStream* s = Impl->Stream(Impl->Current);
    if (!s) return TMajorType::Unknown;
    switch (s->codecpar->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        return (s->disposition & AV_DISPOSITION_ATTACHED_PIC) ? TMajorType::Attachment : TMajorType::Video;
    case AVMEDIA_TYPE_AUDIO: return TMajorType::Audio;
    case AVMEDIA_TYPE_SUBTITLE: return TMajorType::Subtitle;
    case AVMEDIA_TYPE_DATA: return TMajorType::Data;
    case AVMEDIA_TYPE_ATTACHMENT: return TMajorType::Attachment;
    default: return TMajorType::Unknown;
    }
}

double TMediaDetector::get_StreamLength() const {
    const int i = Impl->Current;
    return i >= 0 && i < int(Impl->Lengths.size()) ? Impl->Lengths[i] : 0;
}

double TMediaDetector::get_FrameRate() const { return Impl->FrameRateOf(Impl->Current); }

TMediaTypeInfo TMediaDetector::get_StreamMediaType() const {
    TMediaTypeInfo info;
    const AVStream* s = Impl->Stream(Impl->Current);
    if (!s) return info;
    info.MajorType = get_StreamType();
    const char* name = avcodec_get_name(s->codecpar->codec_id);
    info.CodecName = name && s->codecpar->codec_id != AV_CODEC_ID_NONE ? name : "";
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        info.Width = s->codecpar->width;
        info.Height = s->codecpar->height;
        info.FrameRate = get_FrameRate();
    } else if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        info.SampleRate = s->codecpar->sample_rate;
        info.Channels = s->codecpar->ch_layout.nb_channels;
    }
    return info;
}

bool TMediaDetector::GetBitmapBits(double streamTime, std::size_t* bufferSize, uint8_t* buffer, int width,
                                   int height) {
    TImpl& d = *Impl;
    d.Error.clear();
    if (!bufferSize) {
        d.Error = "No size was given for the bitmap.";
        return false;
    }
    const AVStream* st = d.Stream(d.Current);
    if (!st) {
        d.Error = "No movie is open.";
        return false;
    }
    if (!IsVideo(st)) {
        d.Error = "The current stream is not a video stream.";
        return false;
    }
    const int vw = st->codecpar->width, vh = st->codecpar->height;
    if (vw <= 0 || vh <= 0 || BitmapBytes(vw, vh) > kMaxBitmapBytes) {
        d.Error = "The movie's frame size " + std::to_string(vw) + " x " + std::to_string(vh) + " is not usable.";
        return false;
    }
    if (width <= 0 || height <= 0 || BitmapBytes(width, height) > kMaxBitmapBytes) {
        d.Error = "A picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels is not possible.";
        return false;
    }
    if (!std::isfinite(streamTime)) {
        d.Error = "The time of the frame is not a number.";
        return false;
    }
    const std::size_t needed = static_cast<std::size_t>(BitmapBytes(width, height));
    if (!buffer) {
        *bufferSize = needed;
        return true;
    }
    if (*bufferSize < needed) {
        d.Error = "The bitmap buffer is too small.";
        return false;
    }
    try {
        d.EnsureDecoder();
        if (!d.FrameAt(streamTime)) return false;
        const AVFrame* f = d.Cur.get();
        if (f->width <= 0 || f->height <= 0 || BitmapBytes(f->width, f->height) > kMaxBitmapBytes) {
            d.Error = "The movie's picture has an unusable size.";
            return false;
        }
        if (!d.Scale(f, buffer, width, height)) return false;
    } catch (const MediaError& e) {
        d.Error = e.what();
        return false;
    }
    uint8_t* h = buffer;
    std::memset(h, 0, kBitmapInfoHeaderSize);
    PutLe32(h, kBitmapInfoHeaderSize);
    PutLe32(h + 4, uint32_t(width));
    PutLe32(h + 8, uint32_t(height));  // positive: bottom-up rows
    PutLe16(h + 12, 1);
    PutLe16(h + 14, 24);
    PutLe32(h + 16, 0);  // BI_RGB
    PutLe32(h + 20, uint32_t(needed - kBitmapInfoHeaderSize));
    *bufferSize = needed;
    return true;
}

const std::string& TMediaDetector::LastError() const { return Impl->Error; }

TMediaDetector::TStats TMediaDetector::Stats() const { return Impl->Stats; }

}  // namespace media
