// The movie reader over libavformat/libavcodec/libswscale.
//
// Frame exactness: the frame at time t is the one the stream's frame clock
// (media/FrameClock) puts on screen at t; pictures come out of the one decode
// path (media/FrameDecoder) and are scaled by the one scaler (media/Scaler).
//
// Speed: the decoder keeps the frame last shown (Cur) and, when it had to
// look one frame past the target to know Cur is the answer, that next frame
// (Ahead). A target at or after Cur is reached by decoding forward unless it
// lies more than kSeekThresholdFrames ahead with a key frame in between (or no
// index to tell), in which case we seek backward to a key frame. Frames well
// before the target are decoded with non-reference frames skipped; if a
// skipped packet could have been the answer, the request is repeated without
// skipping.
//
// The time origin is the stamp of the first picture the decoder gives from
// the start of the file; the first request decodes it anyway.
#include "media/MovieReader.h"

#include "media/FrameClock.h"
#include "media/FrameDecoder.h"
#include "media/InputFile.h"
#include "media/PacketIndex.h"
#include "media/Scaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <optional>

namespace media {

namespace {

constexpr uint64_t kMaxPictureBytes = 256ull << 20;  // refuse larger pictures
constexpr double kSeekThresholdFrames = 64;          // decode forward up to this far
constexpr int kStandInDistanceFrames = 8;            // no stand-ins this close to the target

uint64_t PictureBytes(int width, int height) {
    return static_cast<uint64_t>(width) * 3 * static_cast<uint64_t>(height);
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
        const AVRational rate = media::StreamFrameRate(st);
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

struct TMovieReader::TImpl {
    std::string File;
    std::string Error;
    std::optional<TInputFile> In;
    int VideoStream = -1;
    std::vector<double> Lengths;  // seconds per stream, worked out when the file opens
    TStats Stats;
    bool Cancelled = false;

    // Decoding state of stream DecStream.
    int DecStream = -1;
    TFrameClock Clock;
    // Removes clock jumps from the pictures as they are decoded (reset at
    // the start of the file, resumed in the piece a seek lands in).
    std::optional<TJumpFollower> Follow;
    // The video stream's pictures as listed when the file opened (measured
    // lengths): the clock's list, shared by the facts and the decoder.
    std::shared_ptr<const TFrameClock::TList> OpenList;
    TFrameClock OpenClock;
    TPictureShape Shape;  // how DecStream's pictures are shown
    std::optional<TFrameDecoder> Dec;
    AvFramePtr Cur, Ahead, Scratch;
    bool HasCur = false, HasAhead = false;
    int64_t CurPts = 0, AheadPts = 0;
    bool AtStart = true;  // demuxer and decoder have not moved since the file opened or sought to its start

    TScaler Scaler;

    // Adds the counters of the decoder that is about to go.
    void KeepStats() {
        if (!Dec) return;
        Stats.Seeks += Dec->Seeks();
        Stats.FramesDecoded += Dec->FramesDecoded();
    }

    void Close() {
        KeyPictures.clear();
        OpenList.reset();
        OpenClock = {};
        Follow.reset();
        Dec.reset();
        DecStream = -1;
        In.reset();
        Lengths.clear();
        VideoStream = -1;
        Stats = {};
        HasCur = HasAhead = false;
        AtStart = true;
    }
    void ForgetFrames() {
        HasCur = HasAhead = false;
        if (Cur) av_frame_unref(Cur.get());
        if (Ahead) av_frame_unref(Ahead.get());
    }

    AVStream* Stream(int i) const {
        return In && i >= 0 && i < int(In->Format->nb_streams) ? In->Format->streams[i] : nullptr;
    }

    double FrameRateOf(int i) const {
        const AVStream* s = Stream(i);
        if (!s || !IsVideo(s)) return 0;
        const AVRational rate = media::StreamFrameRate(s);
        return UsableFrameRate(rate) ? av_q2d(rate) : 0;
    }

    double DeclaredLengthOf(int i) const {
        const AVStream* s = Stream(i);
        if (!s) return 0;
        if (s->duration != AV_NOPTS_VALUE && s->duration > 0) return double(s->duration) * av_q2d(s->time_base);
        if (In->Format->duration != AV_NOPTS_VALUE && In->Format->duration > 0)
            return double(In->Format->duration) / AV_TIME_BASE;
        return 0;
    }

    int64_t DecodedUntil() const { return HasAhead ? AheadPts : HasCur ? CurPts : Clock.Origin; }

    bool NextInto(AvFramePtr& f, int64_t skipBefore) {
        Dec->SkipBefore(skipBefore == AV_NOPTS_VALUE ? skipBefore : Clock.StampOf(skipBefore));
        const bool got = Dec->Next(f.get());
        if (Dec->PacketsRead() > 0) AtStart = false;
        if (Dec->Cancelled()) Cancelled = true;
        if (got) ToContinuous(f.get());
        return got;
    }

    // Pictures are handled in continuous ticks (clock jumps removed).
    void ToContinuous(AVFrame* f) {
        if (!Follow) Follow.emplace(Clock, In->Format->iformat->flags & AVFMT_TS_DISCONT);
        if (f->pts != AV_NOPTS_VALUE) f->pts = Follow->Follow(f->pts);
    }

    void TakeScratchAsCur() {
        std::swap(Cur, Scratch);
        CurPts = Cur->pts;
        HasCur = true;
        av_frame_unref(Scratch.get());
    }

    bool SeekToStart() {
        const bool ok = Dec->SeekToStart();
        Follow.reset();
        ForgetFrames();
        AtStart = true;
        return ok;
    }

    // Opens the decoder and the frame clock of `stream` when it is not the one
    // open. The clock's origin is the first picture, which is decoded (and
    // kept as Cur) here.
    void EnsureDecoder(int stream) {
        if (Dec && DecStream == stream) return;
        AVStream* st = Stream(stream);
        KeepStats();
        Dec.reset();
        ForgetFrames();
        KeyPictures.clear();
        DecStream = stream;
        Shape = ShapeOfStream(st);
        TFrameClock provisional = TFrameClock::For(st, st->start_time != AV_NOPTS_VALUE ? st->start_time : 0);
        Dec.emplace(*In, stream, provisional.FrameTicks, provisional.Origin);
        if (!Cur) Cur = MakeFrame();
        if (!Ahead) Ahead = MakeFrame();
        if (!Scratch) Scratch = MakeFrame();
        Clock = provisional;
        if (!AtStart) SeekToStart();
        // A damaged start may hold no picture for a while; a file that gives
        // none keeps the provisional origin.
        Dec->PacketBudget = 2000;
        const bool got = NextInto(Scratch, AV_NOPTS_VALUE);
        Dec->PacketBudget = 0;
        if (got) {
            const int64_t origin = Scratch->pts;
            Clock = TFrameClock::For(st, origin);
            if (stream == VideoStream && OpenList) Clock.Adopt(OpenList);
            else Clock = ListedClock(st, File, origin);
            Follow.reset();
            ToContinuous(Scratch.get());
            TakeScratchAsCur();
        } else {
            SeekToStart();
        }
    }

    // Seeks to a key frame at or before targetTs and decodes it into Cur.
    bool SeekTo(int64_t targetTs, int64_t skipBefore) {
        AVStream* st = Stream(DecStream);
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : Clock.Origin;
        ForgetFrames();
        Dec->SkipBefore(skipBefore == AV_NOPTS_VALUE ? skipBefore : Clock.StampOf(skipBefore));
        const int64_t targetStamp = Clock.StampOf(targetTs);
        const bool got = Dec->SeekTo(targetStamp, start, Scratch.get());
        AtStart = false;
        if (Dec->Cancelled()) Cancelled = true;
        if (Dec->SeekFailed()) Error = "Seeking in the movie failed.";
        if (!got) return false;
        // Decoding carries on in the piece the target lies in.
        Follow.reset();
        if (Clock.Jumps() && Scratch->pts != AV_NOPTS_VALUE) {
            const int64_t shift = Clock.List->Pieces[size_t(Clock.PieceOf(targetStamp, -1))].Shift;
            Follow.emplace(Clock, In->Format->iformat->flags & AVFMT_TS_DISCONT);
            Follow->Resume(Scratch->pts, shift);
        }
        ToContinuous(Scratch.get());
        TakeScratchAsCur();
        return true;
    }

    bool KeyFrameBetween(int64_t fromTs, int64_t toTs) {
        AVStream* st = Stream(DecStream);
        if (avformat_index_get_entries_count(st) == 0) return true;  // no index: cannot tell
        if (Clock.Jumps()) return true;
        const int idx = av_index_search_timestamp(st, toTs, AVSEEK_FLAG_BACKWARD);
        if (idx < 0) return false;
        const AVIndexEntry* e = avformat_index_get_entry(st, idx);
        return e && e->timestamp > fromTs;
    }

    // Stand-ins shown while a request decodes: where a seek lands, and every
    // StandInEvery along a long forward decode. They are scaled with a
    // cheaper filter than exact pictures (they stay on screen for moments),
    // and the ones of key frames are kept: a later seek to the same key frame
    // shows its stand-in before decoding anything.
    std::function<void(const TRgbPicture&)> StandIn;
    int StandInWidth = 0, StandInHeight = 0;
    std::chrono::milliseconds StandInEvery{0};
    std::chrono::steady_clock::time_point LastStandIn;
    TScaler StandInScaler{SWS_FAST_BILINEAR};
    struct TKeyPicture {
        int64_t Key = 0;  // the index entry's stamp of the key frame
        TRgbPicture Picture;
    };
    std::deque<TKeyPicture> KeyPictures;  // newest first
    static constexpr std::size_t kKeyPictures = 64;

    void Deliver(const TRgbPicture& picture) {
        StandIn(picture);
        LastStandIn = std::chrono::steady_clock::now();
    }
    void ShowStandIn(int64_t key = AV_NOPTS_VALUE) {
        if (!StandIn || !HasCur) return;
        TRgbPicture picture;
        ToRgb(StandInScaler, Cur.get(), StandInWidth, StandInHeight, picture);
        Deliver(picture);
        if (key == AV_NOPTS_VALUE) return;
        KeyPictures.push_front(TKeyPicture{key, std::move(picture)});
        if (KeyPictures.size() > kKeyPictures) KeyPictures.pop_back();
    }
    // The stamp of the index entry a seek to targetTs lands on; none without an index.
    int64_t KeyEntryBefore(int64_t targetTs) const {
        const AVStream* st = Stream(DecStream);
        if (avformat_index_get_entries_count(st) == 0) return AV_NOPTS_VALUE;
        const int idx = av_index_search_timestamp(const_cast<AVStream*>(st), Clock.StampOf(targetTs), AVSEEK_FLAG_BACKWARD);
        const AVIndexEntry* e = idx >= 0 ? avformat_index_get_entry(const_cast<AVStream*>(st), idx) : nullptr;
        return e ? e->timestamp : AV_NOPTS_VALUE;
    }
    bool ShowKeptStandIn(int64_t key) {
        if (!StandIn || key == AV_NOPTS_VALUE) return false;
        for (const TKeyPicture& k : KeyPictures)
            if (k.Key == key && k.Picture.Width == StandInWidth && k.Picture.Height == StandInHeight) {
                Deliver(k.Picture);
                return true;
            }
        return false;
    }

    // Makes Cur the last frame whose time is not after targetTs, decoding forward.
    void DecodeForward(int64_t targetTs, int64_t skipBefore) {
        if (HasAhead) {
            if (AheadPts > targetTs) return;
            std::swap(Cur, Ahead);
            CurPts = AheadPts;
            HasCur = true;
            HasAhead = false;
            av_frame_unref(Ahead.get());
        }
        while (NextInto(Scratch, skipBefore)) {
            if (!HasCur || Scratch->pts <= targetTs) {
                const bool past = Scratch->pts > targetTs;  // the movie's first frame comes after t
                TakeScratchAsCur();
                if (past) return;
                // Far from the target, show how far the decoder has got now and then.
                if (StandIn && StandInEvery.count() > 0 && targetTs - CurPts > kStandInDistanceFrames * Clock.FrameTicks &&
                    std::chrono::steady_clock::now() - LastStandIn >= StandInEvery)
                    ShowStandIn();
                continue;
            }
            std::swap(Ahead, Scratch);
            AheadPts = Ahead->pts;
            HasAhead = true;
            av_frame_unref(Scratch.get());
            return;
        }
    }

    bool Answered(int64_t targetTs) const {
        return HasCur && targetTs >= CurPts && (HasAhead ? targetTs < AheadPts : Dec->AtEnd());
    }

    // Leaves the frame on screen at continuous tick targetTs in Cur. False
    // when none could be decoded or the request was cancelled.
    bool FrameAt(int64_t targetTs) {
        int64_t skipBefore = targetTs;
        bool forceSeek = false;
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (forceSeek || !Answered(targetTs)) {
                bool seek = forceSeek || (HasCur && targetTs < CurPts) || (!HasCur && !AtStart);
                if (!seek) {
                    const int64_t last = DecodedUntil();
                    const double framesAhead = double(targetTs - last) / double(Clock.FrameTicks);
                    seek = framesAhead > kSeekThresholdFrames && KeyFrameBetween(last, targetTs);
                }
                if (seek && Clock.PiecesHolding(Clock.StampOf(targetTs)) > 1) {
                    // Pieces of the clock repeat the target's stamp (recordings
                    // joined end to end): a seek can not tell them apart, so the
                    // file is decoded from its start (or on from here).
                    seek = false;
                    if (forceSeek || !HasCur || targetTs < CurPts) SeekToStart();
                }
                if (seek) {
                    const int64_t key = StandIn && !forceSeek ? KeyEntryBefore(targetTs) : AV_NOPTS_VALUE;
                    const bool shown = ShowKeptStandIn(key);
                    if (!SeekTo(targetTs, skipBefore)) break;
                    if (!Answered(targetTs) && !forceSeek && !shown) ShowStandIn(key);
                }
                DecodeForward(targetTs, skipBefore);
                if (Cancelled) return false;
            }
            if (!HasCur) break;
            const int64_t skipped = Dec->MaxSkippedPts();
            if (skipped == AV_NOPTS_VALUE || CurPts >= skipped + (Follow ? Follow->Shift() : 0)) return true;
            // A skipped non-reference frame may have been the one on screen: do it again in full.
            skipBefore = AV_NOPTS_VALUE;
            forceSeek = true;
        }
        if (Cancelled) return false;
        if (!HasCur) {
            if (Error.empty()) Error = "No picture could be decoded from the movie at this time.";
            return false;
        }
        return true;
    }

    // The picture as shown (turned, at its display aspect ratio) at width x height.
    void ToRgb(TScaler& scaler, const AVFrame* f, int width, int height, TRgbPicture& out) const {
        AvFramePtr picture = scaler.Scale(f, width, height, AV_PIX_FMT_RGB24, false, AVCOL_SPC_UNSPECIFIED, Shape);
        const std::size_t row = static_cast<std::size_t>(width) * 3;
        out.Width = width;
        out.Height = height;
        out.Rgb.resize(row * static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y)
            std::memcpy(out.Rgb.data() + row * static_cast<std::size_t>(y),
                        picture->data[0] + static_cast<std::ptrdiff_t>(picture->linesize[0]) * y, row);
    }
};

TMovieReader::TMovieReader() : Impl(std::make_unique<TImpl>()) {}
TMovieReader::~TMovieReader() = default;

bool TMovieReader::Open(const std::string& path, bool measureLengths) {
    TImpl& d = *Impl;
    d.Close();
    d.File = path;
    d.Error.clear();
    try {
        d.In.emplace(TInputFile::Open(path));
    } catch (const MediaError& e) {
        d.In.reset();
        d.Error = e.what();
        return false;
    }
    const int n = int(d.In->Format->nb_streams);
    d.Lengths.resize(n);
    const auto method = d.In->Format->duration_estimation_method;
    for (int i = 0; i < n; ++i) {
        d.Lengths[i] = d.DeclaredLengthOf(i);
        if (!measureLengths || !IsVideo(d.In->Format->streams[i])) continue;
        if (d.Lengths[i] <= 0 || method == AVFMT_DURATION_FROM_BITRATE) {
            // Unknown (live recordings, some WebM files) or guessed from the bit rate: read all packets.
            const double scanned = ScanStreamLength(path, i, 0);
            if (scanned > 0) d.Lengths[i] = scanned;
        } else if (method == AVFMT_DURATION_FROM_PTS) {
            // MPEG program and transport streams: FFmpeg takes the last timestamp near the end of
            // the file, which misses the last frame's own duration and frames reordered after it.
            const double scanned = ScanStreamLength(path, i, 4 << 20);
            if (scanned > 0) d.Lengths[i] = scanned;
        }
    }
    d.VideoStream = d.In->FirstVideoStream();
    if (const AVStream* vs = d.Stream(d.VideoStream)) {
        // The video stream's pictures by the frame clock's rule, counted from
        // the first listed one (the decoder's first picture, as a rule).
        d.OpenClock = TFrameClock::For(vs, vs->start_time != AV_NOPTS_VALUE ? vs->start_time : 0);
        if (measureLengths) {
            d.OpenClock = ListedClock(vs, path, AV_NOPTS_VALUE);
            if (d.OpenClock.List) d.OpenClock.Origin = d.OpenClock.List->Times.front();
            d.OpenList = d.OpenClock.List;
        }
    }
    d.AtStart = true;
    return true;
}

bool TMovieReader::IsOpen() const { return Impl->In.has_value(); }

const std::string& TMovieReader::FileName() const { return Impl->File; }

TMovieFacts TMovieReader::Facts() const {
    TMovieFacts f;
    f.VideoStream = Impl->VideoStream;
    if (f.VideoStream < 0) return f;
    f.FrameRate = StreamFrameRate(f.VideoStream);
    f.Length = StreamLength(f.VideoStream);
    f.MediaType = StreamMediaType(f.VideoStream);
    if (f.FrameRate > 0) {
        const TFrameClock& clock = Impl->OpenClock;
        f.FrameCount = std::clamp<int64_t>(clock.FrameCount(f.Length), 0, std::numeric_limits<int32_t>::max());
        if (clock.Variable())
            for (int64_t n = 0; n < f.FrameCount; ++n) f.FrameTimes.push_back(clock.TimeOfFrame(n));
        if (clock.List) f.Length = clock.SecondsOf(clock.List->EndTicks);
    }
    return f;
}

int TMovieReader::StreamCount() const { return Impl->In ? int(Impl->In->Format->nb_streams) : 0; }

TMajorType TMovieReader::StreamType(int stream) const {
    const AVStream* s = Impl->Stream(stream);
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

double TMovieReader::StreamLength(int stream) const {
    return stream >= 0 && stream < int(Impl->Lengths.size()) ? Impl->Lengths[stream] : 0;
}

double TMovieReader::StreamFrameRate(int stream) const { return Impl->FrameRateOf(stream); }

TMediaTypeInfo TMovieReader::StreamMediaType(int stream) const {
    TMediaTypeInfo info;
    const AVStream* s = Impl->Stream(stream);
    if (!s) return info;
    info.MajorType = StreamType(stream);
    const char* name = avcodec_get_name(s->codecpar->codec_id);
    info.CodecName = name && s->codecpar->codec_id != AV_CODEC_ID_NONE ? name : "";
    if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        info.StoredWidth = s->codecpar->width;
        info.StoredHeight = s->codecpar->height;
        const TPictureShape shape = ShapeOfStream(s);
        info.Rotation = shape.Rotation;
        if (info.StoredWidth > 0 && info.StoredHeight > 0)
            ShownSize(shape, info.StoredWidth, info.StoredHeight, &info.Width, &info.Height);
        info.FrameRate = StreamFrameRate(stream);
    } else if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        info.SampleRate = s->codecpar->sample_rate;
        info.Channels = s->codecpar->ch_layout.nb_channels;
    }
    return info;
}

std::string TMovieReader::PictureSizeProblem(int stream) const {
    const AVStream* st = Impl->Stream(stream);
    if (!st) return "No movie is open.";
    const int vw = st->codecpar->width, vh = st->codecpar->height;
    if (UsablePictureSize(vw, vh) && PictureBytes(vw, vh) <= kMaxPictureBytes) return {};
    return "The movie's frame size " + std::to_string(vw) + " x " + std::to_string(vh) + " is not usable.";
}

bool TMovieReader::PictureAt(const TPictureRequest& request, TRgbPicture& out) {
    TImpl& d = *Impl;
    d.Error.clear();
    d.Cancelled = false;
    const int stream = request.Stream >= 0 ? request.Stream : d.VideoStream;
    const AVStream* st = d.Stream(stream);
    if (!st) {
        d.Error = "No movie is open.";
        return false;
    }
    if (!IsVideo(st)) {
        d.Error = "The current stream is not a video stream.";
        return false;
    }
    d.Error = PictureSizeProblem(stream);
    if (!d.Error.empty()) return false;
    const int width = request.Width, height = request.Height;
    if (width <= 0 || height <= 0 || PictureBytes(width, height) > kMaxPictureBytes) {
        d.Error = "A picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels is not possible.";
        return false;
    }
    if (!std::isfinite(request.Seconds)) {
        d.Error = "The time of the frame is not a number.";
        return false;
    }
    try {
        d.EnsureDecoder(stream);
        d.Dec->Cancel = request.Cancel;
        d.StandIn = request.StandIn;
        d.StandInWidth = width;
        d.StandInHeight = height;
        d.StandInEvery = request.StandInEvery;
        // The first frame a long forward decode reaches is shown at once.
        d.LastStandIn = std::chrono::steady_clock::now() - request.StandInEvery;
        const bool ok = d.FrameAt(request.Frame >= 0 ? d.Clock.TicksOfFrame(request.Frame) : d.Clock.TicksAt(request.Seconds));
        d.StandIn = nullptr;
        d.Dec->Cancel = nullptr;
        if (!ok) return false;
        const AVFrame* f = d.Cur.get();
        if (f->width <= 0 || f->height <= 0 || PictureBytes(f->width, f->height) > kMaxPictureBytes) {
            d.Error = "The movie's picture has an unusable size.";
            return false;
        }
        d.ToRgb(d.Scaler, f, width, height, out);
    } catch (const MediaError& e) {
        d.StandIn = nullptr;
        if (d.Dec) d.Dec->Cancel = nullptr;
        d.Error = e.what();
        return false;
    }
    return true;
}

bool TMovieReader::FrameAt(int64_t frame, int width, int height, TRgbPicture& out) {
    const double rate = StreamFrameRate(Impl->VideoStream);
    if (rate <= 0) {
        Impl->Error = Impl->In ? "The movie has no usable frame rate." : "No movie is open.";
        return false;
    }
    TPictureRequest request;
    request.Frame = std::max<int64_t>(0, frame);
    request.Width = width;
    request.Height = height;
    return PictureAt(request, out);
}

double TMovieReader::TimeOfPosition(double position) const {
    const TFrameClock& clock = Impl->OpenClock;
    if (!clock.Variable()) {
        const double rate = StreamFrameRate(Impl->VideoStream);
        return rate > 0 ? position / rate : 0;
    }
    // A position between frames shows the frame it is within a quarter of, as at a constant rate.
    return clock.TimeOfFrame(std::max<int64_t>(0, int64_t(std::floor(position + 0.25))));
}

TMovieReader::TKeyFrames TMovieReader::KeyFrames(const std::atomic<bool>* cancel) const {
    const TImpl& d = *Impl;
    TKeyFrames out;
    const AVStream* vs = d.Stream(d.VideoStream);
    if (!vs) return out;
    // Times count from the first listed picture, else from the stream's start (as the facts' times do).
    TFrameClock clock = d.OpenClock;
    if (!clock.List) clock.Origin = vs->start_time != AV_NOPTS_VALUE ? vs->start_time : 0;
    TKeyStamps keys;
    try {
        keys = ReadKeyStamps(d.File, d.VideoStream, clock, cancel);
    } catch (const MediaError& e) {
        out.Error = e.what();
        return out;
    }
    out.PacketsRead = keys.PacketsRead;
    out.Cancelled = keys.Cancelled;
    const int64_t count = Facts().FrameCount;
    for (const int64_t stamp : keys.Stamps) {
        int64_t frame;
        if (clock.Variable()) {
            const auto& times = clock.List->Times;
            frame = std::lower_bound(times.begin(), times.end(), stamp) - times.begin();
        } else {
            // The first frame whose time shows this picture (the clock's quarter-frame tolerance).
            frame = int64_t(std::ceil(clock.SecondsOf(stamp) * clock.Fps() - 0.25 - 1e-9));
        }
        if (frame < 0 || frame >= count) continue;  // before the first picture shown, or after the end
        if (out.Frames.empty() || out.Frames.back() != frame) out.Frames.push_back(frame);
    }
    return out;
}

bool TMovieReader::Cancelled() const { return Impl->Cancelled; }

const std::string& TMovieReader::LastError() const { return Impl->Error; }

TMovieReader::TStats TMovieReader::Stats() const {
    TStats s = Impl->Stats;
    if (Impl->Dec) {
        s.Seeks += Impl->Dec->Seeks();
        s.FramesDecoded += Impl->Dec->FramesDecoded();
    }
    return s;
}

}  // namespace media
