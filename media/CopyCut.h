// Cutting a clip out of an H.264 or HEVC movie while keeping the source's own
// pictures: the packets from the first IDR key frame in the clip up to the
// last point after which no kept frame needs anything are copied; the frames
// before and after are decoded and re-encoded with the same codec. Private to
// media/ (FFmpeg types); the render graph runs the workers.
//
//   head   frames StartPts .. CopyStartPts - 1     decoded, re-encoded
//   copy   packets from the IDR stamped CopyStartPts, in file order, for
//          CopiedPts.size() packets: frames CopyStartPts .. CopyEndPts - 1
//   tail   frames CopyEndPts .. EndPts - 1         decoded, re-encoded
//
// Every part starts with an IDR picture carrying its own parameter sets, so a
// decoder takes each part as it comes (avc3 / hev1 sample entries in MP4).
#pragma once

#include "media/AvPtr.h"
#include "media/FrameClock.h"
#include "media/HevcParameterSets.h"
#include "media/InputFile.h"
#include "media/RenderEngine.h"
#include "media/RenderShared.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace media {

constexpr int64_t kNoEnd = std::numeric_limits<int64_t>::max();

struct TCutPoints {
    TCopyPlan Plan;
    std::string Path;
    int VideoStream = -1;
    int AudioStream = -1;
    TFrameClock Clock;
    // Where reading starts for the copy: the demuxer is put there the same way
    // the planning read did (AV_NOPTS_VALUE: the start of the file).
    int64_t ReadFromTicks = AV_NOPTS_VALUE;
    int64_t StartPts = 0;          // the clip's first frame (video ticks)
    int64_t EndPts = kNoEnd;       // frames stamped before it are in the clip
    int64_t EndSecondsPts = 0;     // where the clip's last frame ends (ticks)
    int64_t CopyStartPts = 0;      // the IDR the copy starts with
    int64_t CopyEndPts = kNoEnd;   // the first frame after the copied ones
    std::vector<int64_t> CopiedPts;  // the copied packets' stamps, in file order
    // The clip's pictures' stamps, in order. Packet n of the written picture
    // stream decodes at ClipPts[n - ReorderDepth] (before the first picture
    // by whole frames for n < ReorderDepth): ReorderDepth is the most places
    // any packet comes after pictures shown later than it.
    std::vector<int64_t> ClipPts;
    int64_t ReorderDepth = 0;
    // H.264 or HEVC whose parameter sets stay the same through the copy: an
    // avc1 / hvc1 sample entry holds the source's sets and the re-encoder's,
    // which get a number the source does not use. -1: every part brings its
    // own sets in the stream instead (avc3, hev1).
    int OwnParameterSetId = -1;
    // NAL units, by number (HEVC: all of VPS, SPS and PPS in SourceSps, in that order).
    std::vector<std::string> SourceSps, SourcePps;
    // Planning was stopped by its cancel flag (see PlanCut): only Path and Plan.Why are filled.
    bool Cancelled = false;
};

// Whether an MP4 clip made instead of a copy (TWebOptions::KeepSourceColour)
// keeps the movie's colour description: wide or HDR colours (BT.2020 or P3
// primaries, HLG or PQ transfer, the BT.2020 matrix) in a matrix the scaler
// makes pictures in. Other movies are made BT.709 as in the MP4 mode, a proper
// conversion for ordinary colours.
bool FallbackKeepsColour(const AVCodecParameters* par);

// Reads the packets around the span and finds the cut points. Throws
// MediaError when the file can not be read; otherwise Plan.CanCopy tells.
//
// Stopping: planning reads the movie's packets (all of them for a clip of
// the whole movie, and the frame clock lists every picture of Matroska and
// MPEG-TS files), so it watches `cancel` when given one: before the first
// packet of each read and every kPlanCancelPackets packets after. Once the
// flag is raised it ends early and returns a plan marked Cancelled, with
// Plan.CanCopy false and Plan.Why saying it was stopped. It throws nothing
// for a stop: a caller that looks at its own flag after planning (a job
// then ends Stopped) needs nothing more, and must not take a cancelled plan
// for a refusal (the fallback to MP4).
constexpr int kPlanCancelPackets = 256;
TCutPoints PlanCut(const std::string& path, int64_t firstFrame, int64_t endFrame,
                   const std::atomic<bool>* cancel = nullptr);
// PlanCopy (media/RenderEngine.h) with PlanCut's stop: a cancelled plan has
// CanCopy false and says so in Why; the caller tells it by its own flag.
TCopyPlan PlanCopy(const std::string& sourceFile, int64_t firstFrame, int64_t endFrame,
                   const std::atomic<bool>* cancel);

// The video part of a copy: the output stream and what the worker needs.
struct TCopyVideo {
    TCutPoints Cut;
    TInputFile In;
    AvBsfPtr ToByteStream;         // in band, length-prefixed sources: to start codes, parameter sets before each IDR
    std::string OwnParameterSets;  // avc1, hvc1: the re-encoder's parameter sets as it gives them (start codes)
    copycut::THevcRenumber Renumber;       // hvc1: the re-encoder's stream given the number OwnParameterSetId
    AVStream* Stream = nullptr;    // the output's video stream
    AVRational SourceTb{1, 1};
    std::atomic<int64_t> FramesDone{0};
    // Joined spans: the cuts of the spans after the first (Cut), in order;
    // each is written after the one before it without a gap.
    std::vector<TCutPoints> MoreCuts;
    // Frames of every span.
    int64_t AllFrames() const {
        int64_t n = Cut.Plan.Frames;
        for (const auto& c : MoreCuts) n += c.Plan.Frames;
        return n;
    }
};
// Adds the video stream to `out` (before its header is written).
std::unique_ptr<TCopyVideo> MakeCopyVideo(const TCutPoints& cut, AVFormatContext* out);
// Writes head, copy and tail; returns early (the file still playable) on a stop.
void RunCopyVideo(TCopyVideo& job, TShared& shared);

// The sound of a copy when MP4 takes its codec: packets copied as they are.
struct TCopyAudio {
    TCutPoints Cut;
    TInputFile In;
    AVStream* Stream = nullptr;
    AVRational SourceTb{1, 1};
};
std::unique_ptr<TCopyAudio> MakeCopyAudio(const TCutPoints& cut, AVFormatContext* out);
void RunCopyAudio(TCopyAudio& job, TShared& shared);

}  // namespace media
