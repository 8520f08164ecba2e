// The render graph's shared structures: the video and audio paths and the
// graph's private state, with the helpers the engine's files share. Private to
// media/ (FFmpeg types): media/RenderEngine.cpp builds and runs the graph,
// media/RenderVideo.cpp and media/RenderAudio.cpp are its workers.
#pragma once

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

inline std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// No clip is longer than a day: a longer one comes from a broken frame rate or
// time base, and would fill the disk with repeated frames or silence.
constexpr double kMaxClipSeconds = 24 * 3600.0;

// "12.5" with at most `digits` decimals and no trailing zeros.
inline std::string ShortNumber(double v, int digits = 3) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    std::string s = buf;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s;
}

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



// One span of a clip made of several joined spans (TRenderClip::Ranges).
struct TJoinedSpan {
    int64_t First = 0, End = 0;  // the source's frames First .. End - 1
    double Start = 0;            // seconds of frame First from the movie's first picture
    double OutStart = 0, OutEnd = 0;  // where the span lies in the output, seconds
    int64_t FirstSlot = 0, EndSlot = 0;  // video: its output frames
};

struct TVideoPath {
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
    // An animated GIF: the frames go through its palette (VideoEncodeGif, media/RenderAnim.h).
    bool PaletteGif = false;
    TAnimOptions Anim;

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
    // Seconds: the clip's length, or the movie's rest when that is shorter;
    // lowered by the workers when they find the movie's end.
    std::atomic<double> Length{0};
    double PlannedLength = 0;  // Length once built
    // Several spans joined, in output order; empty: the one span of the clip.
    std::vector<TJoinedSpan> Joined;
    int64_t ClipFrames = 0;    // frames of the clip (for a copy: of the copy plan)
    std::string FileName;

    std::thread Supervisor;
    bool Started = false;
    std::mutex EventMutex;
    std::condition_variable EventCv;
    TGraphEnd Event = TGraphEnd::Running;

    ~TImpl() {
        Shared.StopFlag = true;
        if (Supervisor.joinable()) Supervisor.join();
    }

    void RunAll();
    void VideoDecode();
    void VideoScale();
    void VideoEncode();
    void VideoEncodeSegments();
    void VideoEncodeGif();
    void AudioWork();
    // The same for joined spans (RenderJoined.cpp).
    void VideoDecodeJoined();
    void AudioWorkJoined();
    void CopyVideoWork() { RunCopyVideo(*CopyVideo, Shared); }
    void CopyAudioWork() { RunCopyAudio(*CopyAudio, Shared); }
    void Finish(bool stoppedEarly);
};

}  // namespace media
