#include "media/RenderEngine.h"
#include "media/StagedFile.h"

#include "media/AvPtr.h"
#include "media/CopyCut.h"
#include "media/FrameClock.h"
#include "media/FrameDecoder.h"
#include "media/InputFile.h"
#include "media/RenderShared.h"
#include "media/Scaler.h"
#include "media/WmProfiles.h"

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <limits>
#include <algorithm>
#include <map>
#include <tuple>
#include <utility>
#include <mutex>
#include <thread>
#include <vector>

namespace media {

namespace {

struct AvAudioFifoDeleter {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
using AvAudioFifoPtr = std::unique_ptr<AVAudioFifo, AvAudioFifoDeleter>;

// The sample format of decoded audio frames, to notice when it changes.
struct TAudioInput {
    AVChannelLayout Layout{};
    int Rate = 0;
    int Format = -1;

    TAudioInput() = default;
    TAudioInput(const TAudioInput&) = delete;
    TAudioInput& operator=(const TAudioInput&) = delete;
    ~TAudioInput() { av_channel_layout_uninit(&Layout); }

    bool Matches(const AVFrame* f) const {
        return f->sample_rate == Rate && f->format == Format && av_channel_layout_compare(&f->ch_layout, &Layout) == 0;
    }
    void Set(const AVFrame* f) {
        av_channel_layout_uninit(&Layout);
        CheckRc(av_channel_layout_copy(&Layout, &f->ch_layout), "Audio layout");
        Rate = f->sample_rate;
        Format = f->format;
    }
};


std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// No clip is longer than a day: a longer one comes from a broken frame rate or
// time base, and would fill the disk with repeated frames or silence.
constexpr double kMaxClipSeconds = 24 * 3600.0;

// "12.5" with at most `digits` decimals and no trailing zeros.
std::string ShortNumber(double v, int digits = 3) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    std::string s = buf;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s;
}

// The stream's frame rate for the output (25 when it states none). Throws
// MediaError when the stream says that its frames last longer than a minute
// each: its time base is broken (an AVI scale of 100000, a time scale of 1).
AVRational OutputFrameRate(const AVStream* s, const std::string& fileName) {
    AVRational r = StreamFrameRate(s);
    if (!UsableFrameRate(r)) {
        for (AVRational slow : {s->avg_frame_rate, s->r_frame_rate})
            if (slow.num > 0 && slow.den > 0 && av_q2d(slow) < kMinFrameRate)
                throw MediaError("The video of " + Quoted(fileName) + " claims to show each frame for " +
                                 ShortNumber(1 / av_q2d(slow), 0) +
                                 " seconds, which no real movie does; its time stamps are broken and it can not be "
                                 "rendered.");
        r = AVRational{25, 1};
    }
    // Codecs limit the time base to 16 bits; keep exact rates like 30000/1001.
    if (r.num > 65535 || r.den > 65535) r = av_d2q(av_q2d(r), 65535);
    return r;
}

// Refuses a clip that would last more than a day. A clip that reaches past the
// end the movie states is measured to that end, as the render cuts it there.
void CheckClipLength(double clipLength, double mediaStart, double declaredEnd) {
    const double reach = declaredEnd > 0 ? std::min(clipLength, std::max(0.0, declaredEnd - mediaStart)) : clipLength;
    if (reach > kMaxClipSeconds)
        throw MediaError("The clip would last " + ShortNumber(reach / 3600, 1) +
                         " hours; a clip can last at most 24 hours. Is the movie's frame rate right?");
}

// A count from a double, saturated instead of overflowing for absurd times.
int64_t Saturated(double v) {
    if (!(v > -9e18)) return std::numeric_limits<int64_t>::min() / 2;
    if (!(v < 9e18)) return std::numeric_limits<int64_t>::max() / 2;
    return static_cast<int64_t>(v);
}
// Seconds to stream ticks (rounded down).
int64_t SecondsToTicks(double seconds, double tb) { return Saturated(std::floor(seconds / tb)); }

// How far the stated length of a movie may reach past the end of its last
// picture before the difference counts as pictures missing: containers round
// their lengths, and the sound may run on a little after the picture.
constexpr double kStatedEndSlack = 1.0;  // seconds

// The size and change time of a source file, to tell whether it changed while
// a job read it (cut short, or written over).
struct TSourceState {
    bool Known = false;
    off_t Size = 0;
    struct timespec Changed {};

    static TSourceState Of(const char* path) {
        TSourceState s;
        struct stat st {};
        if (!path || ::stat(path, &st) != 0) return s;
        s.Known = true;
        s.Size = st.st_size;
        s.Changed = st.st_mtim;
        return s;
    }
    bool SameAs(const TSourceState& o) const {
        return Known == o.Known && Size == o.Size && Changed.tv_sec == o.Changed.tv_sec &&
               Changed.tv_nsec == o.Changed.tv_nsec;
    }
};

// Refuses a job whose source changed since `before` was taken: what was read
// no longer belongs to one movie. `unread` names the frames that could not be
// read ("" when all were).
void CheckSourceUnchanged(const char* path, const TSourceState& before, const std::string& unread) {
    const TSourceState now = TSourceState::Of(path);
    if (now.SameAs(before)) return;
    std::string text = "The movie " + Quoted(path ? path : "") + " changed while the clip was being made";
    if (now.Known && before.Known && now.Size != before.Size)
        text += " (it has " + std::to_string(now.Size) + " bytes now, " + std::to_string(before.Size) + " before)";
    text += "; the clip would not show it as it was";
    text += unread.empty() ? "." : ": " + unread + " could not be read.";
    throw MediaError(text);
}

// "frames 12 to 40" of a clip, by the source's frame numbers.
std::string FramesText(int64_t first, int64_t last) {
    return first == last ? "frame " + std::to_string(first)
                         : "frames " + std::to_string(first) + " to " + std::to_string(last);
}

// How long the file says its movie is, in seconds from its first frame: the
// video stream's length, else the container's (unless that is only a guess
// from the bit rate); 0 when it says nothing or has no video.
double DeclaredLength(const TInputFile& in) {
    const AVFormatContext* fmt = in.Format.get();
    const int vs = in.FirstVideoStream();
    if (vs < 0) return 0;
    const AVStream* st = fmt->streams[vs];
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0) return double(st->duration) * av_q2d(st->time_base);
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0 &&
        fmt->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
        return double(fmt->duration) / AV_TIME_BASE;
    return 0;
}

// A fresh, open encoder with the settings of an open one (for segments).
AvCodecContextPtr CloneVideoEncoder(const AVCodecContext* t) {
    AvCodecContextPtr ctx(avcodec_alloc_context3(t->codec));
    if (!ctx) throw std::bad_alloc();
    AVCodecContext* c = ctx.get();
    c->width = t->width;
    c->height = t->height;
    c->pix_fmt = t->pix_fmt;
    c->time_base = t->time_base;
    c->framerate = t->framerate;
    c->sample_aspect_ratio = t->sample_aspect_ratio;
    c->flags = t->flags;
    c->flags2 = t->flags2;
    c->gop_size = t->gop_size;
    c->keyint_min = t->keyint_min;
    c->max_b_frames = t->max_b_frames;
    c->bit_rate = t->bit_rate;
    c->rc_buffer_size = t->rc_buffer_size;
    c->rc_max_rate = t->rc_max_rate;
    c->rc_min_rate = t->rc_min_rate;
    c->global_quality = t->global_quality;
    c->qmin = t->qmin;
    c->qmax = t->qmax;
    c->color_range = t->color_range;
    c->colorspace = t->colorspace;
    c->color_primaries = t->color_primaries;
    c->color_trc = t->color_trc;
    c->thread_count = 1;
    if (t->codec->priv_class && t->priv_data && c->priv_data) CheckRc(av_opt_copy(c->priv_data, t->priv_data), "Setting up the video encoder");
    int rc = avcodec_open2(c, t->codec, nullptr);
    if (rc < 0) throw MediaError("The " + std::string(t->codec->name) + " encoder failed: " + AvErrorText(rc));
    return ctx;
}

}  // namespace

// ------------------------------------------------------------------ the graph


struct TVideoPath {
    int Group = -1;
    TInputFile In;
    TSourceState SourceBefore;
    int StreamIndex = -1;
    TFrameClock Clock;        // which source frame is on screen when, as in the preview
    TPictureShape Shape;      // how the source's pictures are shown (turned, display aspect)
    std::unique_ptr<TFrameDecoder> Dec;
    double MovieStart = 0;    // seconds of the movie's first frame in the container clock
    double MediaStart = 0;    // seconds from the movie's first frame
    double DeclaredEnd = 0;   // seconds: the movie's length as the file states it (0: unknown)
    // MP4 and WebM clips of a movie whose pictures are not on one grid keep
    // each picture once with its own time (the encoder counts source ticks):
    // output frame n is source frame FirstFrame + n by the frame clock's rule.
    bool OwnTimes = false;
    int64_t FirstFrame = 0;
    int64_t StartTicks = 0;   // OwnTimes: continuous ticks of the first frame, output time 0
    AVRational SrcRate{25, 1};
    AVRational OutRate{25, 1};
    // Output frames: the clip's, lowered by the decoder when the movie ends
    // before the clip does.
    std::atomic<int64_t> Slots{0};
    std::atomic<int64_t> SlotsDecoded{0};  // output frames the decoder has handed on
    std::atomic<bool> DecodeDone{false};   // Slots is final
    int OutWidth = 0, OutHeight = 0;
    AVPixelFormat OutFormat = AV_PIX_FMT_YUV420P;
    bool OutFullRange = false;                        // YUV output: full-range levels
    AVColorSpace OutMatrix = AVCOL_SPC_UNSPECIFIED;   // YUV output: the matrix its pictures are made in
    TEncoderOut Out;
    TFrameQueue Decoded{4};
    TFrameQueue Scaled{4};
    std::atomic<int64_t> FramesEncoded{0};
    // Frames handed to an encoder: with segments, ahead of FramesEncoded
    // (written frames) by the segments encoded side by side; progress and
    // time left count this work, so they move as the encoders do.
    std::atomic<int64_t> FramesWorked{0};
    std::atomic<bool> Done{false};
    // Segment encoding (a single-threaded encoder on several cores): one
    // queue per worker, each holding a whole segment and its end mark.
    std::vector<std::unique_ptr<TFrameQueue>> Segments;
    int64_t SegmentFrames = 0;

    // How long the first `slots` output frames last, in seconds.
    double SecondsOfSlots(int64_t slots) const {
        if (!OwnTimes) return double(slots) / av_q2d(OutRate);
        return Clock.TimeOfFrame(FirstFrame + slots) - Clock.TimeOfFrame(FirstFrame);
    }
    // OwnTimes: how long the picture at output time `pts` (source ticks) stays, up to the next one.
    int64_t OwnDuration(int64_t pts) const {
        const auto& times = Clock.List->Times;
        const auto next = std::upper_bound(times.begin(), times.end(), pts + StartTicks);
        return std::max<int64_t>(1, (next == times.end() ? Clock.List->EndTicks : *next) - (pts + StartTicks));
    }
};

struct TAudioPath {
    int Group = -1;
    bool HasSource = false;
    TInputFile In;
    int StreamIndex = -1;
    std::unique_ptr<TFrameDecoder> Dec;
    double MovieStart = 0;
    double MediaStart = 0;
    double DeclaredEnd = 0;    // seconds: the movie's length as the file states it (0: unknown)
    // Samples at the encoder's rate: the clip's, lowered when the movie ends
    // before the clip does.
    std::atomic<int64_t> TotalSamples{0};
    TEncoderOut Out;
    std::atomic<int64_t> SamplesEncoded{0};
    // What becomes of the encoder's priming (initial_padding samples).
    enum class TPriming {
        Played,      // ASF, AVI: readers play it, so it stands in for as much source sound
        EditList,    // MP4: the writer's edit list skips it
        CodecDelay,  // WebM: the track's codec delay skips it, counted from the first packet's stamp
    };
    TPriming Priming = TPriming::Played;
};

struct TRenderGraph::TImpl {
    TShared Shared;
    std::unique_ptr<TVideoPath> Video;
    std::unique_ptr<TAudioPath> Audio;
    // A copy: the picture's parts, and the sound when its packets are copied.
    std::unique_ptr<TCopyVideo> CopyVideo;
    std::unique_ptr<TCopyAudio> CopyAudio;
    std::vector<TOutputStreamInfo> Streams;
    double ClipLength = 0;
    std::atomic<int64_t> Duration{0};  // 100 ns units: the clip's, or the movie's rest when that is shorter
    std::string FileName;

    std::thread Supervisor;
    bool Started = false;
    std::mutex EventMutex;
    std::condition_variable EventCv;
    long Event = kEcRunning;

    ~TImpl() {
        Shared.StopFlag = true;
        if (Supervisor.joinable()) Supervisor.join();
    }

    void RunAll();
    void VideoDecode();
    void VideoScale();
    void VideoEncode();
    void VideoEncodeSegments();
    void AudioWork();
    void CopyVideoWork() { RunCopyVideo(*CopyVideo, Shared); }
    void CopyAudioWork() { RunCopyAudio(*CopyAudio, Shared); }
    void Finish(bool stoppedEarly);
};

// The frame on screen at time t is the one the stream's frame clock puts
// there (the last frame stamped not after t, within the clock's tolerance),
// as in the preview; frames come out of the one decode path.
void TRenderGraph::TImpl::VideoDecode() {
    auto& v = *Video;
    AVFormatContext* fmt = v.In.Format.get();
    const double tb = v.Clock.Tick();
    const double rate = av_q2d(v.OutRate);
    TFrameDecoder& dec = *v.Dec;
    AvFramePtr first;  // the picture a seek landed on, taken first

    if (v.MediaStart > 0) {
        // Land on a key frame at or before the frame on screen at the clip's start.
        const AVStream* st = fmt->streams[v.StreamIndex];
        const int64_t startTicks = st->start_time != AV_NOPTS_VALUE ? st->start_time : v.Clock.Origin;
        const int64_t target = v.Clock.StampOf(v.Clock.TicksAt(v.MediaStart));
        if (target > startTicks) {
            first = MakeFrame();
            if (!dec.SeekTo(target, startTicks, first.get())) first.reset();
            if (dec.SeekFailed()) throw MediaError("Seeking in the movie failed.");
        }
    }

    const TSourceState& sourceBefore = v.SourceBefore;
    int64_t slot = 0;
    AvFramePtr current;  // the latest frame that is on screen at the next slot's time
    double lastTime = -1e300;
    const double framePeriod = 1 / av_q2d(v.SrcRate);
    double lastDuration = framePeriod;  // how long the latest frame stays on screen
    // The longest step between two pictures so far. A picture stays on screen
    // no longer than that (or one frame), or up to the length the file states
    // (a still picture lasting to the end), whatever its packet says: a
    // damaged duration can not stretch the last frame over minutes.
    double longestStep = framePeriod;
    // Clock jumps are removed by the frame clock's rule: the pictures after
    // one follow on from the picture before it (media/FrameClock.h), as in
    // the preview. A clock whose jumps were closed up states a length that
    // means nothing.
    TJumpFollower follow(v.Clock, fmt->iformat->flags & AVFMT_TS_DISCONT);
    if (first && first->pts != AV_NOPTS_VALUE && v.Clock.Jumps())
        follow.Resume(first->pts, v.Clock.List->Pieces[size_t(v.Clock.PieceOf(first->pts, -1))].Shift);
    bool closedUp = v.Clock.Jumps();
    auto slotTime = [&](int64_t n) { return v.MediaStart + double(n) / rate; };
    const int64_t maxSlots = std::llround(kMaxClipSeconds * rate) + 1;
    auto emit = [&](const AVFrame* f) {
        // The movie's stamps run on past what any clip may last.
        if (slot >= maxSlots) throw MediaError("The clip would last more than 24 hours; a clip can last at most 24 hours.");
        AvFramePtr copy(av_frame_clone(f));
        if (!copy) throw std::bad_alloc();
        copy->pts = slot;
        if (!v.Decoded.Push(std::move(copy))) throw TAborted{};
        ++slot;
        v.SlotsDecoded = slot;
    };
    auto take = [&](AvFramePtr f) {
        // The decoder stamps every picture (one without a stamp comes where the one before it ends).
        const bool stamped = f->pts != AV_NOPTS_VALUE;
        double t = stamped ? double(follow.Follow(f->pts)) * tb - v.MovieStart : lastTime + lastDuration;
        closedUp = closedUp || follow.Jumped();
        if (t <= lastTime) t = lastTime + 1e-9;  // keep decode order for broken stamps
        if (lastTime > -1e299) longestStep = std::max(longestStep, t - lastTime);
        lastTime = t;
        const double cap = std::min(std::max(longestStep, v.DeclaredEnd - t), 1 / kMinFrameRate);
        lastDuration = std::min(f->pkt_duration > 0 ? f->pkt_duration * tb : lastDuration, cap);
        while (slot < v.Slots && !v.Clock.OnScreenAt(t, slotTime(slot))) emit(current ? current.get() : f.get());
        current = std::move(f);
    };

    if (v.OwnTimes) {
        // Every picture from the clip's first frame on, once, at its own time.
        int64_t lastPts = -1;
        auto own = [&](AvFramePtr f) {
            if (f->pts == AV_NOPTS_VALUE) return;
            const int64_t pts = follow.Follow(f->pts) - v.StartTicks;
            if (pts < 0 || slot >= v.Slots) return;
            f->pts = std::max(pts, lastPts + 1);
            lastPts = f->pts;
            if (!v.Decoded.Push(std::move(f))) throw TAborted{};
            ++slot;
            v.SlotsDecoded = slot;
        };
        if (first) own(std::move(first));
        while (slot < v.Slots) {
            if (Shared.ShouldEnd()) throw TAborted{};
            AvFramePtr f = MakeFrame();
            if (!dec.Next(f.get())) break;
            own(std::move(f));
        }
        CheckSourceUnchanged(fmt->url, sourceBefore,
                             slot < v.Slots ? FramesText(v.FirstFrame + slot, v.FirstFrame + v.Slots - 1) : "");
        if (slot == 0) throw MediaError("No picture of the movie could be decoded in the clip.");
        if (slot < v.Slots) {
            v.Slots = slot;
            Duration = std::min<int64_t>(Duration, std::llround(v.SecondsOfSlots(slot) * 1e7));
        }
        v.DecodeDone = true;
        v.Decoded.Close();
        return;
    }

    if (first) take(std::move(first));
    // The end of the file, or a truncated or damaged file: what was read is all there is.
    while (slot < v.Slots) {
        if (Shared.ShouldEnd()) throw TAborted{};
        AvFramePtr f = MakeFrame();
        if (!dec.Next(f.get())) break;
        take(std::move(f));
    }
    if (slot < v.Slots) {
        // The source has ended. Its last frame stays on screen to the clip's
        // end, but not past the movie's end: where that frame ends, or the
        // length the file states when that is longer. A clip that reaches
        // beyond the movie is cut there.
        const double picturesEnd = current ? lastTime + lastDuration : 0.0;
        const int64_t firstFrame = std::llround(v.MediaStart * rate);
        // A source cut short or written over while it was read.
        CheckSourceUnchanged(fmt->url, sourceBefore,
                             FramesText(firstFrame + slot, firstFrame + v.Slots - 1));
        // Pictures that end well before the length the file states (by more
        // than the slack and than ten steps between its pictures), where the
        // clip wants them, are missing (a damaged or cut-short file): the
        // last picture is not stretched over them. A clock whose jumps were
        // closed up states a length that means nothing.
        const double missing = v.DeclaredEnd - picturesEnd;
        if (current && !closedUp && missing > kStatedEndSlack && missing > 10 * longestStep &&
            slotTime(slot) + v.Clock.Tolerance < v.DeclaredEnd) {
            const int64_t firstMissing = std::max<int64_t>(firstFrame + slot, std::llround(picturesEnd * rate));
            const int64_t lastStated = std::min<int64_t>(firstFrame + v.Slots, std::llround(v.DeclaredEnd * rate)) - 1;
            throw MediaError("The movie's pictures end at " + ShortNumber(picturesEnd) + " seconds, but the file says it lasts " +
                             ShortNumber(v.DeclaredEnd) + " seconds: " + FramesText(firstMissing, std::max(firstMissing, lastStated)) +
                             " could not be read. The file is damaged or cut short; choose a range that ends by frame " +
                             std::to_string(firstMissing) + ".");
        }
        const double movieEnd = closedUp ? picturesEnd : std::max(picturesEnd, v.DeclaredEnd);
        while (slot < v.Slots && current && slotTime(slot) + v.Clock.Tolerance < movieEnd) emit(current.get());
        if (slot == 0) {
            if (!current) throw MediaError("No picture of the movie could be decoded.");
            throw MediaError("The clip starts after the end of the movie, which is " + ShortNumber(movieEnd) +
                             " seconds long.");
        }
        if (slot < v.Slots) {
            v.Slots = slot;
            Duration = std::min<int64_t>(Duration, std::llround(double(slot) / rate * 1e7));
        }
    } else {
        CheckSourceUnchanged(fmt->url, sourceBefore, "");
    }
    v.DecodeDone = true;
    v.Decoded.Close();
}

void TRenderGraph::TImpl::VideoScale() {
    auto& v = *Video;
    TScaler scaler;
    AvFramePtr in;
    while (v.Decoded.Pop(in)) {
        AvFramePtr out =
            scaler.Scale(in.get(), v.OutWidth, v.OutHeight, v.OutFormat, v.OutFullRange, v.OutMatrix, v.Shape);
        out->pts = in->pts;
        in.reset();
        if (!v.Scaled.Push(std::move(out))) throw TAborted{};
    }
    if (Shared.ShouldEnd()) throw TAborted{};
    v.Scaled.Close();
}

void TRenderGraph::TImpl::VideoEncode() {
    auto& v = *Video;
    if (!v.Segments.empty()) {
        VideoEncodeSegments();
        return;
    }
    AvFramePtr f;
    while (v.Scaled.Pop(f)) {
        f->pict_type = AV_PICTURE_TYPE_NONE;
        // Fixed-quantiser encoders take the quantiser from each frame.
        if (v.Out.Enc->flags & AV_CODEC_FLAG_QSCALE) f->quality = v.Out.Enc->global_quality;
        if (v.OwnTimes) v.Out.Durations[f->pts] = v.OwnDuration(f->pts);
        v.Out.Encode(Shared, f.get());
        ++v.FramesEncoded;
    }
    if (Shared.Failed) throw TAborted{};
    v.Out.Encode(Shared, nullptr);
    v.Done = true;
}

// A single-threaded encoder on several cores: consecutive runs of frames
// (segments) go round-robin to one worker per core; each segment is encoded by
// an encoder of its own (so it starts with a key frame) and written whole, in
// segment order, once every earlier segment is written. Progress counts only
// written frames. On a stop the file ends after the last segment that follows
// on without a gap (a part-way segment is written, later ones are not).
void TRenderGraph::TImpl::VideoEncodeSegments() {
    auto& v = *Video;
    const int workers = static_cast<int>(v.Segments.size());
    std::mutex turnMutex;
    std::condition_variable turnCv;
    int64_t turn = 0;         // the next segment to write
    int64_t dispatched = 0;   // segments that were given at least one frame
    bool truncated = false;   // a segment ended part-way: nothing after it is written

    auto work = [&](int w) {
        TFrameQueue& queue = *v.Segments[static_cast<size_t>(w)];
        const AVCodecContext* tmpl = v.Out.Enc.get();
        for (int64_t seg = w;; seg += workers) {
            AvCodecContextPtr enc;
            std::vector<AvPacketPtr> packets;
            int64_t frames = 0;
            bool whole = false;  // the segment's end mark came
            auto drain = [&] {
                for (;;) {
                    AvPacketPtr pkt = MakePacket();
                    int rc = avcodec_receive_packet(enc.get(), pkt.get());
                    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return;
                    if (rc < 0) throw MediaError("The " + std::string(tmpl->codec->name) + " encoder failed: " + AvErrorText(rc));
                    packets.push_back(std::move(pkt));
                }
            };
            AvFramePtr f;
            while (queue.Pop(f)) {
                if (!f) {
                    whole = true;
                    break;
                }
                if (!enc) enc = CloneVideoEncoder(tmpl);
                f->pict_type = frames == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
                if (tmpl->flags & AV_CODEC_FLAG_QSCALE) f->quality = tmpl->global_quality;
                int rc = avcodec_send_frame(enc.get(), f.get());
                if (rc < 0) throw MediaError("The " + std::string(tmpl->codec->name) + " encoder failed: " + AvErrorText(rc));
                f.reset();
                ++frames;
                ++v.FramesWorked;
                drain();
            }
            if (frames == 0 && !whole) {
                // No frame of this segment: the end of the clip, or a stop.
                std::lock_guard lock(turnMutex);
                if (seg >= dispatched) return;
            }
            if (enc) {
                int rc = avcodec_send_frame(enc.get(), nullptr);
                if (rc < 0 && rc != AVERROR_EOF)
                    throw MediaError("The " + std::string(tmpl->codec->name) + " encoder failed: " + AvErrorText(rc));
                drain();
                enc.reset();
            }
            std::unique_lock lock(turnMutex);
            while (turn != seg && !Shared.Failed) turnCv.wait_for(lock, std::chrono::milliseconds(20));
            if (Shared.Failed) throw TAborted{};
            if (!truncated) {
                for (auto& pkt : packets) {
                    av_packet_rescale_ts(pkt.get(), tmpl->time_base, v.Out.Stream->time_base);
                    pkt->stream_index = v.Out.Stream->index;
                    Shared.Write(pkt.get());
                }
                v.FramesEncoded += frames;
                if (!whole) truncated = true;
            }
            ++turn;
            turnCv.notify_all();
            if (!whole) return;
        }
    };

    auto abortAll = [&] {
        for (auto& q : v.Segments) q->Abort();
    };
    std::atomic<bool> workerFailed{false};
    std::vector<std::thread> threads;
    struct TJoin {
        std::vector<std::thread>& T;
        ~TJoin() {
            for (auto& t : T)
                if (t.joinable()) t.join();
        }
    } join{threads};
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            try {
                work(w);
            } catch (const TAborted&) {
                workerFailed = true;
            } catch (const std::exception& e) {
                workerFailed = true;
                Shared.Fail(e.what());
            }
            if (workerFailed) abortAll();
        });
    }

    // Hand the frames out: v.SegmentFrames to a worker, then on to the next.
    try {
        AvFramePtr f;
        int64_t inSegment = 0, seg = 0;
        while (v.Scaled.Pop(f)) {
            TFrameQueue& q = *v.Segments[static_cast<size_t>(seg % workers)];
            if (inSegment == 0) {
                std::lock_guard lock(turnMutex);
                dispatched = seg + 1;
            }
            if (!q.Push(std::move(f))) throw TAborted{};
            if (++inSegment == v.SegmentFrames) {
                if (!q.Push(AvFramePtr())) throw TAborted{};
                inSegment = 0;
                ++seg;
            }
        }
        if (!Shared.ShouldEnd() && inSegment > 0) {
            if (!v.Segments[static_cast<size_t>(seg % workers)]->Push(AvFramePtr())) throw TAborted{};
        }
        if (Shared.ShouldEnd()) {
            // A stop: the workers write what follows on without a gap.
            abortAll();
        } else {
            for (auto& q : v.Segments) q->Close();
        }
    } catch (...) {
        abortAll();
        throw;
    }
    for (auto& t : threads) t.join();
    if (Shared.Failed) throw TAborted{};
    v.Done = true;
}

void TRenderGraph::TImpl::AudioWork() {
    auto& a = *Audio;
    AVCodecContext* enc = a.Out.Enc.get();
    const int outRate = enc->sample_rate;
    const int channels = enc->ch_layout.nb_channels;
    const int frameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    AvAudioFifoPtr fifo(av_audio_fifo_alloc(enc->sample_fmt, channels, frameSize * 4));
    if (!fifo) throw std::bad_alloc();
    int64_t emitted = 0;      // samples handed to the encoder
    int64_t toDrop = 0;       // resampled samples before the clip's start
    // Encoders with priming (wmav2, mp3, ac3) put that many samples of their
    // own in front; decoders in ASF and AVI play them. Stamping the input that
    // much later and leaving out as much source sound keeps the first packet
    // at time 0, level with the picture, and the sound in step with it.
    // WebM's readers skip the priming from the first packet's stamp on: the
    // input is stamped later so that this packet comes at 0 (an earlier one
    // would move every stream of the file later), and no sound is left out.
    // MP4's edit list takes the priming off by itself.
    const int64_t padding = std::max(0, enc->initial_padding);
    const int64_t priming = a.Priming == TAudioPath::TPriming::Played ? padding : 0;
    const int64_t stampShift = a.Priming == TAudioPath::TPriming::EditList ? 0 : padding;

    // Output samples of the first `slots` output frames.
    auto samplesOfSlots = [&](int64_t slots) {
        if (Video->OwnTimes) return int64_t(std::llround(Video->SecondsOfSlots(slots) * outRate));
        return av_rescale_q(slots, av_inv_q(Video->OutRate), AVRational{1, outRate});
    };
    // Waits until the next `n` samples may go out. While the video decoder may
    // still find the movie ending before the clip does, the sound does not
    // run past the picture it has handed on (the clip is then cut where the
    // picture ends); and it keeps no more than a second ahead of the encoded
    // picture, so the muxer interleaves without piling up packets.
    auto waitForVideo = [&](int64_t n) {
        while (Video && !Shared.ShouldEnd()) {
            if (Video->DecodeDone) {
                const int64_t end = std::max(samplesOfSlots(Video->Slots), emitted);
                if (end < a.TotalSamples) a.TotalSamples = end;
            } else if (emitted + n > samplesOfSlots(Video->SlotsDecoded)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (Video->Done) return;
            const double vpos = Video->SecondsOfSlots(Video->FramesEncoded);
            if (double(emitted) / outRate < vpos + 1.0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    auto encodeFromFifo = [&](bool final) {
        while (emitted < a.TotalSamples) {
            int avail = av_audio_fifo_size(fifo.get());
            int n = static_cast<int>(std::min<int64_t>(frameSize, a.TotalSamples - emitted));
            if (avail < n && !final) return;
            waitForVideo(n);
            if (Shared.ShouldEnd()) throw TAborted{};
            if (emitted >= a.TotalSamples) break;
            n = static_cast<int>(std::min<int64_t>(n, a.TotalSamples - emitted));
            if (avail < n) {
                // Pad the clip's end with silence.
                AvFramePtr pad = MakeFrame();
                pad->nb_samples = n - avail;
                pad->format = enc->sample_fmt;
                CheckRc(av_channel_layout_copy(&pad->ch_layout, &enc->ch_layout), "Audio layout");
                CheckRc(av_frame_get_buffer(pad.get(), 0), "Allocating audio");
                av_samples_set_silence(pad->data, 0, pad->nb_samples, channels, enc->sample_fmt);
                av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(pad->data), pad->nb_samples);
            }
            if (emitted + n > std::llround(kMaxClipSeconds * outRate) + frameSize)
                throw MediaError("The clip would last more than 24 hours; a clip can last at most 24 hours.");
            AvFramePtr f = MakeFrame();
            f->nb_samples = n;
            f->format = enc->sample_fmt;
            f->sample_rate = outRate;
            CheckRc(av_channel_layout_copy(&f->ch_layout, &enc->ch_layout), "Audio layout");
            CheckRc(av_frame_get_buffer(f.get(), 0), "Allocating audio");
            av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(f->data), n);
            f->pts = emitted + stampShift;
            a.Out.Encode(Shared, f.get());
            emitted += n;
            a.SamplesEncoded = emitted;
        }
    };
    // Adds resampled samples to the fifo, dropping those before the clip.
    auto addSamples = [&](uint8_t** data, int count) {
        int skip = static_cast<int>(std::min<int64_t>(toDrop, count));
        toDrop -= skip;
        if (count - skip <= 0) return;
        uint8_t* planes[AV_NUM_DATA_POINTERS] = {nullptr};
        const int bps = av_get_bytes_per_sample(enc->sample_fmt);
        const bool planar = av_sample_fmt_is_planar(enc->sample_fmt);
        for (int c = 0; c < (planar ? channels : 1); ++c)
            planes[c] = data[c] + static_cast<ptrdiff_t>(skip) * bps * (planar ? 1 : channels);
        av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(planes), count - skip);
    };

    bool first = true;  // no frame of the source decoded yet
    if (a.HasSource) {
        AVFormatContext* fmt = a.In.Format.get();
        const AVStream* st = fmt->streams[a.StreamIndex];
        const double tb = av_q2d(st->time_base);
        TFrameDecoder& dec = *a.Dec;
        AvFramePtr landed;  // the frame a seek landed on, taken first
        if (a.MediaStart > 0) {
            const double target = a.MovieStart + a.MediaStart - 1.0;
            if (target > a.MovieStart) {
                const int64_t startTicks = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
                landed = MakeFrame();
                if (!dec.SeekTo(SecondsToTicks(target, tb), startTicks, landed.get())) landed.reset();
                if (dec.SeekFailed()) throw MediaError("Seeking in the movie failed.");
            }
        }
        auto next = [&](AvFramePtr& f) {
            if (landed) {
                f = std::move(landed);
                return true;
            }
            f = MakeFrame();
            return dec.Next(f.get());
        };
        SwrContextPtr swr;
        TAudioInput swrIn;  // the format swr was set up for
        AvFramePtr out = MakeFrame();
        auto resample = [&](const AVFrame* f) {
            const int inCount = f ? f->nb_samples : 0;
            const int cap = static_cast<int>(av_rescale_rnd(swr_get_delay(swr.get(), outRate) + inCount, outRate,
                                                            f ? f->sample_rate : outRate, AV_ROUND_UP)) + 64;
            av_frame_unref(out.get());
            out->nb_samples = cap;
            out->format = enc->sample_fmt;
            CheckRc(av_channel_layout_copy(&out->ch_layout, &enc->ch_layout), "Audio layout");
            CheckRc(av_frame_get_buffer(out.get(), 0), "Allocating audio");
            int got = swr_convert(swr.get(), out->data, cap, f ? const_cast<const uint8_t**>(f->extended_data) : nullptr, inCount);
            CheckRc(got, "Resampling the audio");
            addSamples(out->data, got);
        };
        // A stream may change its layout, rate or sample format part-way (joined
        // recordings): the samples still held for the old format are drained
        // first, then a resampler for the new one carries on at the same place.
        auto setUpResampler = [&](AVFrame* f) {
            if (swr && swrIn.Matches(f)) return;
            if (swr) resample(nullptr);
            swr.reset();
            SwrContext* raw = nullptr;
            CheckRc(swr_alloc_set_opts2(&raw, &enc->ch_layout, enc->sample_fmt, outRate, &f->ch_layout,
                                        static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr),
                    "Setting up the audio resampler");
            swr.reset(raw);
            CheckRc(swr_init(swr.get()), "Setting up the audio resampler");
            swrIn.Set(f);
        };
        AvFramePtr f;
        // Up to the end of the file, or of what a truncated or damaged file holds.
        while (emitted < a.TotalSamples && next(f)) {
            if (Shared.ShouldEnd()) throw TAborted{};
            {
                // A damaged frame that names no channels, rate or format carries no sound.
                if (f->nb_samples <= 0 || f->sample_rate <= 0 || f->ch_layout.nb_channels <= 0 || f->format < 0)
                    continue;
                if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                    av_channel_layout_default(&f->ch_layout, f->ch_layout.nb_channels);
                setUpResampler(f.get());
                if (first) {
                    first = false;
                    // Where this first frame sits against the clip's start.
                    const double t = f->pts != AV_NOPTS_VALUE ? f->pts * tb - a.MovieStart : 0;
                    const int64_t offset = Saturated(std::round((a.MediaStart - t) * outRate));
                    if (offset + priming >= 0) {
                        toDrop = offset + priming;
                    } else {
                        // The source's sound starts after the clip: silence first,
                        // a piece at a time so that a long gap needs no more memory.
                        int64_t gap = -(offset + priming);
                        while (gap > 0 && emitted < a.TotalSamples) {
                            AvFramePtr sil = MakeFrame();
                            sil->nb_samples = static_cast<int>(std::min<int64_t>(gap, 1 << 16));
                            sil->format = enc->sample_fmt;
                            CheckRc(av_channel_layout_copy(&sil->ch_layout, &enc->ch_layout), "Audio layout");
                            CheckRc(av_frame_get_buffer(sil.get(), 0), "Allocating audio");
                            av_samples_set_silence(sil->data, 0, sil->nb_samples, channels, enc->sample_fmt);
                            av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(sil->data), sil->nb_samples);
                            gap -= sil->nb_samples;
                            encodeFromFifo(false);
                        }
                    }
                }
                resample(f.get());
                encodeFromFifo(false);
            }
        }
        if (swr) resample(nullptr);
    }
    if (!Video && emitted < a.TotalSamples) {
        // Sound only: the clip ends where the movie does, when that is sooner:
        // at the end of the source's sound, or the length the file states
        // when that is longer.
        const int64_t soundEnd = emitted + av_audio_fifo_size(fifo.get());
        const int64_t statedEnd = a.DeclaredEnd > 0 ? std::llround((a.DeclaredEnd - a.MediaStart) * outRate) : 0;
        const int64_t end = std::max(soundEnd, statedEnd);
        if ((a.HasSource || a.DeclaredEnd > 0) && end < a.TotalSamples) {
            if (end <= 0) {
                if (first && a.DeclaredEnd <= 0) throw MediaError("No sound of the movie could be decoded.");
                throw MediaError("The clip starts after the end of the movie" +
                                 (a.DeclaredEnd > 0 ? ", which is " + ShortNumber(a.DeclaredEnd) + " seconds long."
                                                    : std::string(".")));
            }
            a.TotalSamples = end;
            Duration = std::min<int64_t>(Duration, std::llround(double(end) * 1e7 / outRate));
        }
    }
    encodeFromFifo(true);
    if (Shared.Failed) throw TAborted{};
    a.Out.Encode(Shared, nullptr);
}

void TRenderGraph::TImpl::Finish(bool stoppedEarly) {
    long event = kEcComplete;
    if (!Shared.Failed) {
        try {
            std::lock_guard lock(Shared.MuxMutex);
            int rc = av_write_trailer(Shared.Out.get());
            if (rc < 0) throw MediaError("Finishing the output file failed: " + AvErrorText(rc));
            if (Shared.Out->pb) {
                avio_flush(Shared.Out->pb);
                if (Shared.Out->pb->error < 0)
                    throw MediaError("Writing the output file failed: " + AvErrorText(Shared.Out->pb->error));
                rc = avio_closep(&Shared.Out->pb);
                if (rc < 0) throw MediaError("Closing the output file failed: " + AvErrorText(rc));
            }
        } catch (const std::exception& e) {
            Shared.Fail(e.what());
        }
    }
    if (Shared.Failed) {
        event = kEcErrorAbort;
        // One failure flag: nothing more goes into the file; let go of it and
        // take the unfinished file away (a stop keeps its playable file).
        if (Shared.Out && Shared.Out->pb) avio_closep(&Shared.Out->pb);
        Shared.Output.Discard();
    } else {
        // Finished, or stopped with a playable file: it takes its name now.
        try {
            Shared.Output.Commit();
            if (stoppedEarly) event = kEcUserAbort;
        } catch (const std::exception& e) {
            Shared.Fail(e.what());
            event = kEcErrorAbort;
        }
    }
    std::lock_guard lock(EventMutex);
    Event = event;
    EventCv.notify_all();
}

void TRenderGraph::TImpl::RunAll() {
    std::vector<std::thread> workers;
    auto guarded = [this](void (TImpl::*fn)()) {
        return std::thread([this, fn] {
            try {
                (this->*fn)();
            } catch (const TAborted&) {
                for (auto* q : Shared.Queues) q->Abort();
            } catch (const std::exception& e) {
                Shared.Fail(e.what());
            }
            if (Video) Video->Done = Video->Done || Shared.ShouldEnd();
        });
    };
    if (Video) {
        workers.push_back(guarded(&TImpl::VideoDecode));
        workers.push_back(guarded(&TImpl::VideoScale));
        workers.push_back(guarded(&TImpl::VideoEncode));
    }
    if (Audio) workers.push_back(guarded(&TImpl::AudioWork));
    if (CopyVideo) workers.push_back(guarded(&TImpl::CopyVideoWork));
    if (CopyAudio) workers.push_back(guarded(&TImpl::CopyAudioWork));
    for (auto& w : workers) w.join();

    bool complete = true;
    if (CopyVideo && CopyVideo->FramesDone < CopyVideo->Cut.Plan.Frames) complete = false;
    if (Video && Video->FramesEncoded < Video->Slots) complete = false;
    if (Audio && Audio->SamplesEncoded < Audio->TotalSamples) complete = false;
    if (!complete && !Shared.Failed && Shared.StopFlag) {
        // Stopped part-way: flush what the encoders still hold so the file ends cleanly.
        try {
            if (Video) Video->Out.Encode(Shared, nullptr);
            if (Audio) Audio->Out.Encode(Shared, nullptr);
        } catch (const TAborted&) {
        } catch (const std::exception& e) {
            Shared.Fail(e.what());
        }
    } else if (!complete && !Shared.Failed) {
        Shared.Fail("The pipeline ended before the clip was written.");
    }
    Finish(!complete);
}

TRenderGraph::TRenderGraph(std::unique_ptr<TImpl> impl) : Impl(std::move(impl)) {}

TRenderGraph::~TRenderGraph() = default;

void TRenderGraph::Run() {
    if (Impl->Started) return;
    Impl->Started = true;
    Impl->Supervisor = std::thread([this] { Impl->RunAll(); });
}

long TRenderGraph::WaitForCompletion(int ms) {
    std::unique_lock lock(Impl->EventMutex);
    if (!Impl->Started) return kEcRunning;
    Impl->EventCv.wait_for(lock, std::chrono::milliseconds(std::max(0, ms)), [&] { return Impl->Event != kEcRunning; });
    return Impl->Event;
}

void TRenderGraph::Stop() {
    Impl->Shared.StopFlag = true;
    // Wake workers that wait on a full queue; the stop ends them.
    for (auto* q : Impl->Shared.Queues) q->Abort();
    if (!Impl->Started) {
        Impl->Started = true;
        Impl->Supervisor = std::thread([this] { Impl->RunAll(); });
    }
}

int64_t TRenderGraph::GetDuration() const { return Impl->Duration; }

int64_t TRenderGraph::GetCurrentPosition() const {
    int64_t pos = 0;
    if (Impl->CopyVideo) {
        const int64_t frames = Impl->CopyVideo->Cut.Plan.Frames;
        pos = frames > 0 ? GetDuration() * Impl->CopyVideo->FramesDone / frames : 0;
    } else if (Impl->Video) {
        const int64_t frames = std::max<int64_t>(Impl->Video->FramesEncoded, Impl->Video->FramesWorked);
        pos = static_cast<int64_t>(std::llround(double(frames) * 1e7 / av_q2d(Impl->Video->OutRate)));
    } else if (Impl->Audio) {
        pos = static_cast<int64_t>(std::llround(double(Impl->Audio->SamplesEncoded) * 1e7 / Impl->Audio->Out.Enc->sample_rate));
    }
    return std::min(pos, GetDuration());
}

std::string TRenderGraph::ErrorText() const {
    std::lock_guard lock(Impl->Shared.ErrorMutex);
    return Impl->Shared.Error;
}

const std::vector<TOutputStreamInfo>& TRenderGraph::OutputStreams() const { return Impl->Streams; }

const TCopyPlan& TRenderGraph::CopyPlan() const {
    static const TCopyPlan none;
    return Impl->CopyVideo ? Impl->CopyVideo->Cut.Plan : none;
}

// ------------------------------------------------------------------ building

namespace {

const TTimelineSource* FirstSource(const TTimelineGroup& g) {
    for (const auto& t : g.Tracks)
        if (!t.Sources.empty()) return &t.Sources.front();
    return nullptr;
}

AvCodecContextPtr NewEncoder(const std::string& name, const AVCodec** codecOut) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec) throw MediaError("The encoder " + Quoted(name) + " is not available in this installation.");
    AvCodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) throw std::bad_alloc();
    *codecOut = codec;
    return ctx;
}

void OpenEncoder(AVCodecContext* ctx, const AVCodec* codec, const std::string& friendly, const std::string& what) {
    int rc = avcodec_open2(ctx, codec, nullptr);
    if (rc < 0)
        throw MediaError("The " + what + " compressor " + Quoted(friendly) + " can not take these settings (" + what +
                         (ctx->codec_type == AVMEDIA_TYPE_VIDEO
                              ? " " + std::to_string(ctx->width) + " x " + std::to_string(ctx->height)
                              : " " + std::to_string(ctx->sample_rate) + " Hz") +
                         "): " + AvErrorText(rc));
}

AVStream* AddStream(AVFormatContext* out, AVCodecContext* enc) {
    AVStream* st = avformat_new_stream(out, nullptr);
    if (!st) throw std::bad_alloc();
    CheckRc(avcodec_parameters_from_context(st->codecpar, enc), "Setting up the output stream");
    st->time_base = enc->time_base;
    return st;
}

// Lossless compressors (Huffyuv, FFV1, Ut Video, ZMBV...) by what FFmpeg says
// of their format; one that can also be lossy (H.264) is not counted.
bool IsLosslessEncoder(const AVCodec* codec) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec->id);
    return d && (d->props & AV_CODEC_PROP_LOSSLESS) && !(d->props & AV_CODEC_PROP_LOSSY);
}

// RGB and palette pictures (a palette shows RGB colours).
bool ShowsAsRgb(AVPixelFormat f) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
}

// Whether pictures of width x height fit the format's chroma subsampling.
bool FitsSize(AVPixelFormat f, int width, int height) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d && ((width >> d->log2_chroma_w) << d->log2_chroma_w) == width &&
           ((height >> d->log2_chroma_h) << d->log2_chroma_h) == height;
}

// The encoder's format closest to the source's, so that a lossless output
// keeps the decoded pictures as they are where it can: RGB and palette
// sources stay RGB (the encoder gets no palette: it may change from frame to
// frame), YUV sources keep their subsampling when the encoder has it.
// Formats the scaler can not write or the size does not fit are left out;
// AV_PIX_FMT_NONE when none is left.
AVPixelFormat ClosestEncoderFormat(const AVCodec* codec, AVPixelFormat source, int width, int height) {
    std::vector<AVPixelFormat> list;
    for (const AVPixelFormat* p = codec->pix_fmts; p && *p != AV_PIX_FMT_NONE; ++p) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(*p);
        if (!d || (d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL)) || !sws_isSupportedOutput(*p) ||
            !FitsSize(*p, width, height))
            continue;
        list.push_back(*p);
    }
    if (list.empty()) return AV_PIX_FMT_NONE;
    list.push_back(AV_PIX_FMT_NONE);
    bool full = false;
    AVPixelFormat from = PlainPixelFormat(source, &full);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(from);
    if (!d) return list.front();
    if (d->flags & AV_PIX_FMT_FLAG_PAL) from = AV_PIX_FMT_RGB24;
    return avcodec_find_best_pix_fmt_of_list(list.data(), from, 0, nullptr);
}

// What a compressor's own stream tells its reader about colour. AVI and ASF
// carry nothing of their own, so this is all a player learns; without a
// tag, readers take video range and BT.601. (Checked with ffprobe on what
// this FFmpeg writes; Motion JPEG's JPEG-range formats stand for full range
// and BT.601 by themselves.)
struct TCarriedColour {
    bool Range = false;      // full or video range
    bool Bt709 = false;      // BT.709 besides BT.601
    bool AnyMatrix = false;  // every matrix
};
TCarriedColour CarriedColour(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_H264: return {true, true, true};     // the stream's video usability information
        case AV_CODEC_ID_UTVIDEO: return {false, true, false};  // its FourCC: ULY* BT.601, ULH* BT.709
        default: return {};
    }
}

// The colour of a written video stream: its levels, matrix and the tags.
struct TOutputColour {
    bool FullRange = false;
    AVColorSpace Matrix = AVCOL_SPC_BT470BG;
    AVColorPrimaries Primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic Transfer = AVCOL_TRC_UNSPECIFIED;
};

// RGB outputs are full range. YUV outputs keep the source's range and matrix
// where the stream can say so (a JPEG-range format is full range by itself);
// elsewhere their pictures are made in what readers take without a tag:
// video range, BT.601. RGB and palette sources go to YUV in BT.601.
TOutputColour ChooseOutputColour(const AVCodecParameters* src, AVPixelFormat out, AVCodecID encoder) {
    TOutputColour c;
    const auto srcFormat = static_cast<AVPixelFormat>(src->format);
    const bool srcRgb = ShowsAsRgb(srcFormat);
    const bool keepTags = !srcRgb && !ShowsAsRgb(out);
    if (ShowsAsRgb(out)) {
        c.FullRange = true;
        c.Matrix = AVCOL_SPC_RGB;
    } else {
        const TCarriedColour carried = CarriedColour(encoder);
        bool srcFull = src->color_range == AVCOL_RANGE_JPEG, outFull = false;
        PlainPixelFormat(srcFormat, &srcFull);
        PlainPixelFormat(out, &outFull);
        c.FullRange = outFull || (carried.Range && !srcRgb && srcFull);
        const AVColorSpace m = src->color_space;
        if (srcRgb || m == AVCOL_SPC_UNSPECIFIED || m == AVCOL_SPC_RGB || m == AVCOL_SPC_RESERVED)
            c.Matrix = AVCOL_SPC_BT470BG;
        else if (SameMatrix(m, AVCOL_SPC_BT470BG) || carried.AnyMatrix ||
                 (carried.Bt709 && SameMatrix(m, AVCOL_SPC_BT709)))
            c.Matrix = m;
        else
            c.Matrix = AVCOL_SPC_BT470BG;
    }
    // Primaries and transfer do not change the pixels: the source's where it
    // names them and its matrix is kept, else those that go with the matrix.
    if ((keepTags && c.Matrix == src->color_space) || c.Matrix == AVCOL_SPC_RGB) {
        c.Primaries = src->color_primaries;
        c.Transfer = src->color_trc;
    }
    if (c.Primaries == AVCOL_PRI_UNSPECIFIED || c.Primaries == AVCOL_PRI_RESERVED || c.Primaries == AVCOL_PRI_RESERVED0)
        c.Primaries = c.Matrix == AVCOL_SPC_RGB || c.Matrix == AVCOL_SPC_BT709 ? AVCOL_PRI_BT709
                      : c.Matrix == AVCOL_SPC_SMPTE170M                      ? AVCOL_PRI_SMPTE170M
                                                                              : AVCOL_PRI_BT470BG;
    if (c.Transfer == AVCOL_TRC_UNSPECIFIED || c.Transfer == AVCOL_TRC_RESERVED || c.Transfer == AVCOL_TRC_RESERVED0)
        c.Transfer = c.Matrix == AVCOL_SPC_RGB     ? AVCOL_TRC_IEC61966_2_1
                     : c.Matrix == AVCOL_SPC_BT709 ? AVCOL_TRC_BT709
                                                   : AVCOL_TRC_SMPTE170M;
    return c;
}

int ClosestSampleRate(const AVCodec* codec, int wanted) {
    if (!codec->supported_samplerates) return wanted;
    int best = 0;
    for (const int* r = codec->supported_samplerates; *r; ++r) {
        if (*r == wanted) return wanted;
        if (!best || std::abs(*r - wanted) < std::abs(best - wanted)) best = *r;
    }
    return best ? best : wanted;
}

// The frame size a 0 x 0 video group asks for: the source's picture as it is
// shown (turned, at its display aspect ratio), rounded down to even sizes
// (4:2:0 pictures have whole chroma rows and columns).
std::pair<int, int> SourcePictureSize(const AVStream* st, const TPictureShape& shape) {
    if (st->codecpar->width <= 0 || st->codecpar->height <= 0) return {0, 0};
    int w = 0, h = 0;
    ShownSize(shape, st->codecpar->width, st->codecpar->height, &w, &h);
    return {std::max(2, w & ~1), std::max(2, h & ~1)};
}

bool IsWebFormat(TOutputFormat f) { return f == TOutputFormat::Mp4 || f == TOutputFormat::WebM; }

// The encoders and limits of the MP4 and WebM files.
struct TWebCodecs {
    const char* Muxer;
    const char* Video;           // FFmpeg encoder names
    const char* VideoFriendly;
    const char* Audio;
    const char* AudioFriendly;
    int DefaultCrf, MaxCrf;
    const char* DefaultPreset;
    int DefaultKbps, MinKbps, MaxKbps;
};
const TWebCodecs& WebCodecs(TOutputFormat f) {
    static const TWebCodecs mp4{"mp4", "libx264", "H.264", "aac", "AAC", 23, 51, "veryfast", 128, 16, 512};
    static const TWebCodecs webm{"webm", "libvpx-vp9", "VP9", "libopus", "Opus", 33, 63, "4", 96, 6, 510};
    return f == TOutputFormat::Mp4 ? mp4 : webm;
}

const char* const kX264Presets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                    "medium",    "slow",      "slower",   "veryslow", "placebo"};

const TOutputColour kWebColour{false, AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709};

// An MP4 clip that keeps the source's colour description (TWebOptions::
// KeepSourceColour): its matrix, range, primaries and transfer where
// FallbackKeepsColour says so; BT.709 otherwise.
TOutputColour KeptSourceColour(const AVCodecParameters* src) {
    const AVColorSpace m = src->color_space;
    if (!FallbackKeepsColour(src)) return kWebColour;
    TOutputColour c{src->color_range == AVCOL_RANGE_JPEG, m, src->color_primaries, src->color_trc};
    if (c.Primaries == AVCOL_PRI_UNSPECIFIED || c.Primaries == AVCOL_PRI_RESERVED || c.Primaries == AVCOL_PRI_RESERVED0)
        c.Primaries = m == AVCOL_SPC_BT709 ? AVCOL_PRI_BT709 : m == AVCOL_SPC_BT2020_NCL ? AVCOL_PRI_BT2020
                      : m == AVCOL_SPC_SMPTE170M ? AVCOL_PRI_SMPTE170M : AVCOL_PRI_BT470BG;
    if (c.Transfer == AVCOL_TRC_UNSPECIFIED || c.Transfer == AVCOL_TRC_RESERVED || c.Transfer == AVCOL_TRC_RESERVED0)
        c.Transfer = m == AVCOL_SPC_BT709 ? AVCOL_TRC_BT709 : m == AVCOL_SPC_BT2020_NCL ? AVCOL_TRC_BT2020_10
                                                                                     : AVCOL_TRC_SMPTE170M;
    return c;
}

}  // namespace

void CheckWebOptions(TOutputFormat f, const TWebOptions& o) {
    if (!IsWebFormat(f)) return;
    const TWebCodecs& c = WebCodecs(f);
    if (o.Crf != -1 && (o.Crf < 0 || o.Crf > c.MaxCrf))
        throw MediaError(std::string("The ") + c.VideoFriendly + " quality (CRF) must be from 0 to " +
                         std::to_string(c.MaxCrf) + ", not " + std::to_string(o.Crf) + ".");
    if (!o.Preset.empty()) {
        if (f == TOutputFormat::Mp4) {
            if (std::find(std::begin(kX264Presets), std::end(kX264Presets), o.Preset) == std::end(kX264Presets))
                throw MediaError("The H.264 preset " + Quoted(o.Preset) +
                                 " is not known; choose ultrafast, superfast, veryfast, faster, fast, medium, slow, "
                                 "slower, veryslow or placebo.");
        } else if (o.Preset.size() != 1 || o.Preset[0] < '0' || o.Preset[0] > '8') {
            throw MediaError("The VP9 speed (cpu-used) must be a digit from 0 to 8, not " + Quoted(o.Preset) + ".");
        }
    }
    if (o.AudioKbps != 0 && (o.AudioKbps < c.MinKbps || o.AudioKbps > c.MaxKbps))
        throw MediaError(std::string("The ") + c.AudioFriendly + " bit rate must be from " + std::to_string(c.MinKbps) +
                         " to " + std::to_string(c.MaxKbps) + " kb/s, not " + std::to_string(o.AudioKbps) + ".");
}

namespace {

void SetEncoderOption(AVCodecContext* enc, const char* key, const std::string& value) {
    const int rc = av_opt_set(enc->priv_data, key, value.c_str(), 0);
    if (rc < 0)
        throw MediaError("The " + std::string(enc->codec->name) + " encoder does not take " + key + " = " + value +
                         ": " + AvErrorText(rc));
}

// The H.264 or VP9 encoder of an MP4 or WebM file: constant quality, 4:2:0
// pictures made and tagged in BT.709 at video range, all cores. H.264 keeps
// its B-frames (MP4 stores the reordering).
void SetUpWebVideoEncoder(AVCodecContext* enc, TOutputFormat f, const TWebOptions& o) {
    const TWebCodecs& c = WebCodecs(f);
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->color_range = AVCOL_RANGE_MPEG;
    enc->colorspace = AVCOL_SPC_BT709;
    enc->color_primaries = AVCOL_PRI_BT709;
    enc->color_trc = AVCOL_TRC_BT709;
    const int crf = o.Crf >= 0 ? o.Crf : c.DefaultCrf;
    const std::string preset = o.Preset.empty() ? c.DefaultPreset : o.Preset;
    SetEncoderOption(enc, "crf", std::to_string(crf));
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (f == TOutputFormat::Mp4) {
        SetEncoderOption(enc, "preset", preset);
        enc->thread_count = 0;  // x264 chooses by the cores
    } else {
        enc->bit_rate = 0;  // with a CRF: constant quality, no bit rate target
        SetEncoderOption(enc, "deadline", "good");
        SetEncoderOption(enc, "cpu-used", preset);
        SetEncoderOption(enc, "row-mt", "1");
        // Tiles at least 256 pixels wide, as many as the cores can use.
        int log2Tiles = 0;
        while (log2Tiles < 6 && (enc->width >> (log2Tiles + 1)) >= 256 && (1 << log2Tiles) < cores) ++log2Tiles;
        SetEncoderOption(enc, "tile-columns", std::to_string(log2Tiles));
        enc->thread_count = std::min(cores, 16);
    }
}

// The AAC or Opus encoder of an MP4 or WebM file: the source's channels up to
// stereo (stereo without a source), AAC at the source's rate where it has it
// (else the closest), Opus at 48 kHz.
void SetUpWebAudioEncoder(AVCodecContext* enc, TOutputFormat f, const TWebOptions& o, const AVCodecParameters* src) {
    const TWebCodecs& c = WebCodecs(f);
    const int channels = src && src->ch_layout.nb_channels > 0 ? std::min(2, src->ch_layout.nb_channels) : 2;
    av_channel_layout_uninit(&enc->ch_layout);
    av_channel_layout_default(&enc->ch_layout, channels);
    const int rate = src && src->sample_rate > 0 ? src->sample_rate : 48000;
    enc->sample_rate = f == TOutputFormat::WebM ? 48000 : ClosestSampleRate(enc->codec, rate);
    enc->sample_fmt = enc->codec->sample_fmts ? enc->codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    enc->bit_rate = int64_t(o.AudioKbps > 0 ? o.AudioKbps : c.DefaultKbps) * 1000;
}

}  // namespace

std::unique_ptr<TRenderGraph> TRenderEngine::Build(const TTimeline& timeline, const TOutputSpec& spec) {
    auto impl = std::make_unique<TRenderGraph::TImpl>();
    impl->FileName = spec.FileName;
    if (spec.FileName.empty()) throw MediaError("No output file name was given.");
    // Never write over a movie being read, whatever name it is reached by.
    for (int g = 0; g < timeline.GetGroupCount(); ++g)
        for (const auto& track : timeline.Group(g).Tracks)
            for (const auto& source : track.Sources)
                if (SameFile(source.MediaName, spec.FileName))
                    throw MediaError("The output file " + Quoted(spec.FileName) +
                                     " is the movie being cut. Choose another name for the clip.");
    if (const std::string why = WhyNotReplaceable(spec.FileName); !why.empty()) throw MediaError(why);

    const bool copy = spec.Format == TOutputFormat::Copy;
    // A copy writes MP4; sound it can not copy is made AAC as in an MP4 clip.
    const TOutputFormat format = copy ? TOutputFormat::Mp4 : spec.Format;
    const TWmProfileDef* profile = nullptr;
    const bool asf = format == TOutputFormat::Asf;
    if (asf) {
        if (!WMAvailable())
            throw MediaError("Windows Media output is not available: this installation lacks the wmv2 or wmav2 encoder or the asf writer.");
        profile = FindWmProfile(spec.ProfileGuid);
        if (!profile) throw MediaError("The Windows Media profile " + Quoted(spec.ProfileGuid) + " is not known.");
    }
    const bool web = IsWebFormat(format);
    const char* muxer = asf ? "asf" : web ? WebCodecs(format).Muxer : "avi";
    if (web) {
        CheckWebOptions(format, spec.Web);
        if (!av_guess_format(muxer, nullptr, nullptr))
            throw MediaError(std::string("This installation can not write ") + (format == TOutputFormat::Mp4 ? "MP4" : "WebM") +
                             " files: it lacks the " + muxer + " writer.");
    }

    AVFormatContext* rawOut = nullptr;
    CheckRc(avformat_alloc_output_context2(&rawOut, nullptr, muxer, spec.FileName.c_str()),
            "Setting up the output file");
    impl->Shared.Out.reset(rawOut);
    AVFormatContext* out = rawOut;
    const bool globalHeader = out->oformat->flags & AVFMT_GLOBALHEADER;

    // The time origin of a file's video stream (its first picture), found once
    // per file and stream: the video and the audio group share it.
    struct TOrigin {
        int64_t Ticks = 0;
        double Seconds = 0;
    };
    std::map<std::pair<std::string, int>, TOrigin> origins;
    auto movieStart = [&origins](const std::string& file, const AVStream* st) {
        const auto key = std::make_pair(file, st->index);
        auto it = origins.find(key);
        if (it == origins.end()) {
            const int64_t ticks = FirstFrameTicks(file, st->index);
            it = origins.emplace(key, TOrigin{ticks, double(ticks) * av_q2d(st->time_base)}).first;
        }
        return it->second.Seconds;
    };
    // The clock of a file's video stream (the frame clock's rule), found once
    // per file: it turns the span's frames into times for every group.
    std::map<std::string, TFrameClock> clocks;
    auto clockOf = [&](const std::string& file) -> const TFrameClock* {
        auto it = clocks.find(file);
        if (it == clocks.end()) {
            TInputFile in = TInputFile::Open(file);
            const int vs = in.FirstVideoStream();
            if (vs < 0) return nullptr;
            const AVStream* st = in.Format->streams[vs];
            movieStart(file, st);
            it = clocks.emplace(file, ListedClock(st, file, origins[{file, vs}].Ticks)).first;
        }
        return &it->second;
    };
    for (int gi = 0; gi < timeline.GetGroupCount(); ++gi) {
        const TTimelineGroup& group = timeline.Group(gi);
        const TTimelineSource* src = FirstSource(group);
        if (!src) continue;
        if (src->FirstFrame < 0 || src->EndFrame <= src->FirstFrame)
            throw MediaError("The clip's start and end are not usable frames.");
        // The span in seconds from the first picture, clock jumps removed;
        // a movie without pictures counts frames at the timeline's rate.
        const TFrameClock* srcClock = clockOf(src->MediaName);
        const double timelineLength = src->TimelineStop - src->TimelineStart;
        double mediaStart = 0, clipLength = timelineLength;
        if (srcClock) {
            mediaStart = srcClock->TimeOfFrame(src->FirstFrame);
            if (srcClock->Variable()) clipLength = srcClock->TimeOfFrame(src->EndFrame) - mediaStart;
        } else if (timelineLength > 0) {
            mediaStart = timelineLength * double(src->FirstFrame) / double(src->EndFrame - src->FirstFrame);
        }
        if (!std::isfinite(clipLength) || !std::isfinite(mediaStart) || clipLength <= 0 || mediaStart < 0)
            throw MediaError("The clip's start and end are not usable times.");
        impl->ClipLength = std::max(impl->ClipLength, clipLength);

        if (copy && group.MediaType.MajorType == TMajorType::Video) {
            if (impl->CopyVideo) throw MediaError("Only one video group can be written.");
            const TCutPoints cut = PlanCut(src->MediaName, src->FirstFrame, src->EndFrame);
            if (!cut.Plan.CanCopy) throw MediaError(cut.Plan.Why);
            impl->CopyVideo = MakeCopyVideo(cut, out);
            const AVCodecParameters* par = impl->CopyVideo->Stream->codecpar;
            impl->Streams.push_back(TOutputStreamInfo{TMajorType::Video, "copy", par->width, par->height, cut.Clock.Fps(), 0, 0, gi});
            continue;
        }
        if (copy && group.MediaType.MajorType == TMajorType::Audio && impl->CopyVideo &&
            (impl->CopyVideo->Cut.Plan.AudioCopied || !impl->CopyVideo->Cut.Plan.HasAudio)) {
            // Sound MP4 takes is copied; a movie without sound gets none.
            if (!impl->CopyVideo->Cut.Plan.HasAudio) continue;
            if (impl->CopyAudio) throw MediaError("Only one audio group can be written.");
            impl->CopyAudio = MakeCopyAudio(impl->CopyVideo->Cut, out);
            const AVCodecParameters* par = impl->CopyAudio->Stream->codecpar;
            impl->Streams.push_back(TOutputStreamInfo{TMajorType::Audio, "copy", 0, 0, 0, par->sample_rate,
                                                      par->ch_layout.nb_channels, gi});
            continue;
        }
        if (group.MediaType.MajorType == TMajorType::Video) {
            if (impl->Video) throw MediaError("Only one video group can be written.");
            if (profile && !profile->Video.Present) continue;
            auto v = std::make_unique<TVideoPath>();
            v->Group = gi;
            v->In = TInputFile::Open(src->MediaName);
            // The source as it was opened: a change while the clip is made is a failure.
            v->SourceBefore = TSourceState::Of(src->MediaName.c_str());
            v->StreamIndex = v->In.FirstVideoStream();
            if (v->StreamIndex < 0) throw MediaError("The file " + Quoted(src->MediaName) + " has no video stream.");
            const AVStream* ist = v->In.Format->streams[v->StreamIndex];
            const AVRational srcRate = OutputFrameRate(ist, src->MediaName);
            v->SrcRate = srcRate;
            v->DeclaredEnd = DeclaredLength(v->In);
            // A clock that jumps states a length of its raw stamps: the movie lasts as long as its pictures do.
            if (srcClock && srcClock->Jumps()) v->DeclaredEnd = srcClock->SecondsOf(srcClock->List->EndTicks);
            CheckClipLength(clipLength, mediaStart, v->DeclaredEnd);
            // Times count from the first picture, as in the preview.
            v->MovieStart = movieStart(src->MediaName, ist);
            v->Clock = *srcClock;
            v->Shape = ShapeOfStream(ist);
            v->Dec = std::make_unique<TFrameDecoder>(v->In, v->StreamIndex, v->Clock.FrameTicks, v->Clock.Origin);
            v->MediaStart = mediaStart;
            v->OutRate = srcRate;
            v->OutWidth = group.MediaType.Width;
            v->OutHeight = group.MediaType.Height;
            if (v->OutWidth == 0 && v->OutHeight == 0) std::tie(v->OutWidth, v->OutHeight) = SourcePictureSize(ist, v->Shape);
            if (v->OutWidth <= 0 || v->OutHeight <= 0)
                throw MediaError("The frame size " + std::to_string(v->OutWidth) + " x " + std::to_string(v->OutHeight) +
                                 " is not usable.");
            if (profile && profile->Video.FrameRateNum > 0 && profile->Video.FrameRateDen > 0)
                v->OutRate = AVRational{profile->Video.FrameRateNum, profile->Video.FrameRateDen};
            if (profile && profile->Video.Width > 0 && profile->Video.Height > 0) {
                v->OutWidth = profile->Video.Width;
                v->OutHeight = profile->Video.Height;
            }
            v->Slots = std::max<int64_t>(1, std::llround(clipLength * av_q2d(v->OutRate)));
            v->FirstFrame = src->FirstFrame;
            if (web && v->Clock.Variable()) {
                v->OwnTimes = true;
                v->StartTicks = v->Clock.TicksOfFrame(src->FirstFrame);
                v->Slots = std::max<int64_t>(1, std::min<int64_t>(src->EndFrame, v->Clock.FrameCount(0)) - src->FirstFrame);
            }

            std::string encoderName = "rawvideo", friendly = "uncompressed RGB555";
            if (profile) {
                encoderName = "wmv2";
                friendly = "Windows Media Video 8";
            } else if (web) {
                encoderName = WebCodecs(format).Video;
                friendly = WebCodecs(format).VideoFriendly;
            } else if (spec.VideoCompressor) {
                encoderName = spec.VideoCompressor->EncoderName();
                friendly = spec.VideoCompressor->FriendlyName();
            }
            const AVCodec* codec = nullptr;
            v->Out.Enc = NewEncoder(encoderName, &codec);
            AVCodecContext* enc = v->Out.Enc.get();
            // Uncompressed AVI is RGB555; a lossless compressor gets the format
            // closest to the source's; a lossy one its first, or RGB555.
            AVPixelFormat pix = AV_PIX_FMT_RGB555LE;
            if (web) {
                pix = AV_PIX_FMT_YUV420P;
            } else if (encoderName != "rawvideo") {
                pix = IsLosslessEncoder(codec) ? ClosestEncoderFormat(codec, static_cast<AVPixelFormat>(ist->codecpar->format),
                                                                      v->OutWidth, v->OutHeight)
                                               : AV_PIX_FMT_NONE;
                if (pix == AV_PIX_FMT_NONE) {
                    pix = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
                    for (const AVPixelFormat* p = codec->pix_fmts; p && *p != AV_PIX_FMT_NONE; ++p)
                        if (*p == AV_PIX_FMT_RGB555LE) pix = *p;
                }
            }
            const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pix);
            if (desc && (((v->OutWidth >> desc->log2_chroma_w) << desc->log2_chroma_w) != v->OutWidth ||
                         ((v->OutHeight >> desc->log2_chroma_h) << desc->log2_chroma_h) != v->OutHeight))
                throw MediaError("The video compressor " + Quoted(friendly) + " can not take a frame size of " +
                                 std::to_string(v->OutWidth) + " x " + std::to_string(v->OutHeight) +
                                 ": choose an even width and height.");
            v->OutFormat = pix;
            TOutputColour colour = ChooseOutputColour(ist->codecpar, pix, codec->id);
            if (web) colour = format == TOutputFormat::Mp4 && spec.Web.KeepSourceColour ? KeptSourceColour(ist->codecpar)
                                                                                         : kWebColour;
            v->OutFullRange = colour.FullRange;
            v->OutMatrix = colour.Matrix;
            enc->color_range = colour.FullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
            enc->colorspace = colour.Matrix;
            enc->color_primaries = colour.Primaries;
            enc->color_trc = colour.Transfer;
            enc->width = v->OutWidth;
            enc->height = v->OutHeight;
            enc->pix_fmt = pix;
            enc->time_base = v->OwnTimes ? v->Clock.TimeBase : av_inv_q(v->OutRate);
            enc->framerate = v->OutRate;
            enc->sample_aspect_ratio = AVRational{1, 1};
            enc->thread_count = 0;
            if (globalHeader) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            if (web) {
                SetUpWebVideoEncoder(enc, format, spec.Web);
                enc->color_range = colour.FullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
                enc->colorspace = colour.Matrix;
                enc->color_primaries = colour.Primaries;
                enc->color_trc = colour.Transfer;
                // Each packet lasts one frame, also the last one the file's length ends with
                // (with own times: up to the next picture, set by VideoEncode).
                v->Out.FrameDuration = v->OwnTimes ? 0 : 1;
            } else if (profile) {
                enc->gop_size = std::max(1, static_cast<int>(std::lround(av_q2d(v->OutRate) * 4)));
                if (profile->Video.Quality > 0) {
                    enc->flags |= AV_CODEC_FLAG_QSCALE;
                    enc->global_quality = profile->Video.Quality * FF_QP2LAMBDA;
                } else {
                    enc->bit_rate = profile->Video.BitRate;
                    enc->rc_buffer_size = profile->Video.BitRate * 2;
                    enc->rc_max_rate = profile->Video.BitRate * 3 / 2;
                }
            } else {
                enc->max_b_frames = 0;  // AVI keeps no reordering information
                if (spec.VideoCompressor) {
                    const auto& f = *spec.VideoCompressor;
                    const int kbps = f.OptionValue("bitrate", 0);
                    if (kbps > 0) enc->bit_rate = int64_t(kbps) * 1000;
                    const int q = f.OptionValue("quality", 0);
                    if (q > 0) {
                        enc->flags |= AV_CODEC_FLAG_QSCALE;
                        enc->global_quality = q * FF_QP2LAMBDA;
                    }
                    const int keyint = f.OptionValue("keyint", 0);
                    if (keyint > 0) enc->gop_size = keyint;
                    const int crf = f.OptionValue("crf", -1);
                    if (crf >= 0) av_opt_set_int(enc->priv_data, "crf", crf, 0);
                }
            }
            OpenEncoder(enc, codec, friendly, "video");
            // A single-threaded encoder uses the other cores by encoding
            // segments of about a second (whole key frame intervals) side by side.
            const unsigned cores = std::thread::hardware_concurrency();
            constexpr int kThreadCaps = AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS | AV_CODEC_CAP_OTHER_THREADS;
            if (!profile && !web && encoderName != "rawvideo" && !(codec->capabilities & kThreadCaps) && cores >= 2 &&
                enc->extradata_size == 0) {
                const int64_t period = std::max(1, enc->keyint_min);
                const int64_t second = std::max<int64_t>({1, std::llround(std::ceil(av_q2d(v->OutRate))), enc->gop_size});
                int64_t frames = (second + period - 1) / period * period;
                // Each worker holds a whole segment of pictures: keep that within bounds.
                const int64_t bytes = std::max(1, av_image_get_buffer_size(pix, v->OutWidth, v->OutHeight, 1));
                const int64_t fit = std::max<int64_t>(1, (int64_t(48) << 20) / bytes / period) * period;
                frames = std::min(frames, fit);
                if (v->Slots > frames) {
                    v->SegmentFrames = frames;
                    const int workers = static_cast<int>(std::min(4u, cores));
                    for (int w = 0; w < workers; ++w)
                        v->Segments.push_back(std::make_unique<TFrameQueue>(static_cast<size_t>(frames) + 1));
                }
            }
            v->Out.Stream = AddStream(out, enc);
            impl->Streams.push_back(TOutputStreamInfo{TMajorType::Video, codec->name, v->OutWidth, v->OutHeight,
                                                      av_q2d(v->OutRate), 0, 0, gi});
            impl->Video = std::move(v);
        } else if (group.MediaType.MajorType == TMajorType::Audio) {
            if (impl->Audio) throw MediaError("Only one audio group can be written.");
            if (profile && !profile->Audio.Present) continue;
            auto a = std::make_unique<TAudioPath>();
            a->Group = gi;
            a->In = TInputFile::Open(src->MediaName);
            a->StreamIndex = a->In.FirstAudioStream();
            a->HasSource = a->StreamIndex >= 0;
            // A profile that writes only sound would write nothing but silence.
            if (!a->HasSource && profile && !profile->Video.Present)
                throw MediaError("The movie " + Quoted(src->MediaName) +
                                 " has no sound, and the chosen profile writes only sound: there is nothing to write. "
                                 "Choose a profile with video.");
            const int vs = a->In.FirstVideoStream();
            // MP4, WebM and Windows Media clips of a movie without sound get
            // no sound track (rather than a silent one) beside their pictures.
            if (!a->HasSource && vs >= 0 && (web || asf) && (!profile || profile->Video.Present)) continue;
            if (a->HasSource) {
                a->Dec = std::make_unique<TFrameDecoder>(a->In, a->StreamIndex, 1, AV_NOPTS_VALUE, 1);
                // Audio counts from the same zero as the picture, so both start together.
                a->MovieStart = vs >= 0 ? movieStart(src->MediaName, a->In.Format->streams[vs])
                                        : a->In.StreamStartSeconds(a->StreamIndex);
            }
            a->MediaStart = mediaStart;
            // The movie's stated length counts when it comes from a picture
            // whose stamps can be trusted; without a picture the sound is the movie.
            if (vs >= 0) {
                OutputFrameRate(a->In.Format->streams[vs], src->MediaName);
                a->DeclaredEnd = DeclaredLength(a->In);
                if (srcClock && srcClock->Jumps()) a->DeclaredEnd = srcClock->SecondsOf(srcClock->List->EndTicks);
            }
            CheckClipLength(clipLength, mediaStart, a->DeclaredEnd);

            TPcmFormat pcm = group.MediaType.HasFormat ? group.MediaType.Pcm : PcmFormatByIndex(0);
            std::string encoderName = pcm.Bits == 8 ? "pcm_u8" : "pcm_s16le";
            std::string friendly = "PCM";
            int64_t bitRate = 0;
            if (profile) {
                encoderName = "wmav2";
                friendly = "Windows Media Audio 8";
                pcm = TPcmFormat{profile->Audio.SampleRate, static_cast<int16_t>(profile->Audio.Bits),
                                 static_cast<int16_t>(profile->Audio.Channels)};
                bitRate = profile->Audio.BitRate;
            } else if (web) {
                encoderName = WebCodecs(format).Audio;
                friendly = WebCodecs(format).AudioFriendly;
            } else if (spec.AudioCompressor) {
                encoderName = spec.AudioCompressor->EncoderName();
                friendly = spec.AudioCompressor->FriendlyName();
                const int kbps = spec.AudioCompressor->OptionValue("bitrate", 0);
                if (kbps > 0) bitRate = int64_t(kbps) * 1000;
            }
            const AVCodec* codec = nullptr;
            a->Out.Enc = NewEncoder(encoderName, &codec);
            AVCodecContext* enc = a->Out.Enc.get();
            enc->sample_rate = ClosestSampleRate(codec, pcm.SampleRate);
            av_channel_layout_default(&enc->ch_layout, pcm.Channels);
            enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
            if (web) {
                SetUpWebAudioEncoder(enc, format, spec.Web, a->HasSource ? a->In.Format->streams[a->StreamIndex]->codecpar : nullptr);
                a->Priming = format == TOutputFormat::Mp4 ? TAudioPath::TPriming::EditList
                                                               : TAudioPath::TPriming::CodecDelay;
            }
            enc->time_base = AVRational{1, enc->sample_rate};
            if (bitRate > 0) enc->bit_rate = bitRate;
            if (globalHeader) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            OpenEncoder(enc, codec, friendly, "audio");
            a->TotalSamples = std::max<int64_t>(1, std::llround(clipLength * enc->sample_rate));
            a->Out.Stream = AddStream(out, enc);
            impl->Streams.push_back(TOutputStreamInfo{TMajorType::Audio, codec->name, 0, 0, 0, enc->sample_rate,
                                                      enc->ch_layout.nb_channels, gi});
            impl->Audio = std::move(a);
        }
    }
    if (copy && !impl->CopyVideo) throw MediaError("A copy needs the movie's pictures.");
    if (!impl->Video && !impl->Audio && !impl->CopyVideo)
        throw MediaError("There is nothing to write: the output has no stream for the clip.");
    // Until the sources show where the movie ends, its stated length is the
    // best guess at how much of the clip there is.
    double expected = impl->ClipLength;
    if (impl->Video && impl->Video->DeclaredEnd > 0)
        expected = std::min(expected, std::max(impl->Video->DeclaredEnd - impl->Video->MediaStart, 1.0 / av_q2d(impl->Video->OutRate)));
    else if (!impl->Video && impl->Audio && impl->Audio->DeclaredEnd > 0)
        expected = std::min(expected, std::max(impl->Audio->DeclaredEnd - impl->Audio->MediaStart, 0.1));
    if (impl->CopyVideo) {
        const TCutPoints& cut = impl->CopyVideo->Cut;
        expected = double(cut.EndSecondsPts - cut.StartPts) * cut.Clock.Tick();
    }
    impl->Duration = std::llround(expected * 1e7);
    if (impl->Video) {
        impl->Shared.Queues = {&impl->Video->Decoded, &impl->Video->Scaled};
        for (auto& q : impl->Video->Segments) impl->Shared.Queues.push_back(q.get());
    }

    AVDictionary* options = nullptr;
    struct TOptionsFree {
        AVDictionary*& D;
        ~TOptionsFree() { av_dict_free(&D); }
    } optionsFree{options};
    // MP4: the index goes before the data once the file is finished, so that it plays while it downloads.
    if (format == TOutputFormat::Mp4) CheckRc(av_dict_set(&options, "movflags", "+faststart", 0), "Setting up the output file");
    // Everything is accepted: only now create the file.
    // The clip is written under a temporary name and takes the chosen one
    // when it is finished (Finish); an old file of that name stays as it is
    // until then.
    try {
        impl->Shared.Output = TStagedFile(spec.FileName);
    } catch (const std::runtime_error& e) {
        throw MediaError(e.what());
    }
    // The writer opens the file again by this name to move the MP4 index
    // to the front.
    av_freep(&out->url);
    out->url = av_strdup(impl->Shared.Output.WritePath().c_str());
    if (!out->url) throw MediaError("Out of memory while setting up the output file.");
    int rc = avio_open(&out->pb, out->url, AVIO_FLAG_WRITE);
    if (rc < 0) throw MediaError("The file " + Quoted(spec.FileName) + " can not be created: " + AvErrorText(rc) + ".");
    rc = avformat_write_header(out, &options);
    if (rc >= 0 && out->pb->error < 0) rc = out->pb->error;
    if (rc < 0) {
        avio_closep(&out->pb);
        impl->Shared.Output.Discard();
        throw MediaError("Writing the header of " + Quoted(spec.FileName) + " failed: " + AvErrorText(rc) + ".");
    }
    return std::unique_ptr<TRenderGraph>(new TRenderGraph(std::move(impl)));
}

}  // namespace media
