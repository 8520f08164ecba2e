// The render engine: turns the description of one clip into a running
// pipeline that writes one file (a video stream and a sound stream at most).
// Private to media/: the clip job (media/ClipJob.h) is its user.
//
//   decode (own thread per group) -> scale (video, own thread) -> encode + write
//
// Video sources are decoded from the clip's first frame (its time by the
// frame clock's rule, media/FrameClock.h, clock jumps removed); output frame
// n is the source frame on screen at that time + n / output rate, for
// round(clip length x output rate) frames. With the source's own rate that is
// exactly the source frames of the span.
// Audio is resampled to the writer's format (following any change of layout,
// rate or sample format part-way), trimmed to the same span and padded with
// silence where the source has none (or no audio stream at all).
//
// A clip never runs past the movie's end: when the source ends before the
// clip does, the last frame is repeated only up to where the movie ends (that
// frame's end, or the length the file states when longer) and the file ends
// there, sound included; FramesTotal then gives the shorter length. Without a
// picture the sound's end (or the stated length) bounds it the same way.
//
// A single-threaded video encoder (Cinepak) on a machine with several cores
// encodes segments of about a second side by side, each starting with a key
// frame, and they are written in order; progress counts written frames.
//
// Threads: BuildRender and the TRenderGraph methods are called from one thread (the
// window's); the pipeline runs on worker threads of its own. No call blocks
// for longer than the wait asked for, except the destructor, which stops and
// joins the workers.
#pragma once

#include "media/Compressors.h"
#include "media/MediaTypes.h"
#include "media/PcmFormat.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

// The kinds of file the engine writes.
enum class TOutputFormat {
    Asf,   // wmv2/wmav2 by Windows Media profile
    Avi,   // by compressors
    Mp4,   // H.264 (libx264) + AAC, yuv420p, BT.709 tags, index before the data
    WebM,  // VP9 (libvpx-vp9, row threading) + Opus
    // The source's own pictures: H.264 or HEVC from MP4, MOV, Matroska or an
    // MPEG transport stream, into MP4 (avc1 / hvc1 sample entries holding the
    // parameter sets when they stay the same, else avc3 / hev1 with them in band). Packets between the cut points are copied; the frames
    // before the first copied key frame and after the last copied one are
    // re-encoded with the source's codec, profile, size, pixel format and
    // colour tags. Sound is copied when MP4 takes its codec, else made AAC.
    // The clip's video size is not used. BuildRender refuses a source
    // PlanCopy cannot copy.
    Copy,
    // Animations without sound (media/RenderAnim.h): an animated GIF whose
    // palette is made from the clip's own frames, and an animated WebP
    // (libwebp, lossy). Frame rate, size and loop from TAnimOptions.
    Gif,
    WebP,
};

// What copying a span of a movie does. The clip is the source's frames
// firstFrame .. endFrame - 1 by the frame clock's rule, as in TRenderClip.
struct TCopyPlan {
    bool CanCopy = false;
    std::string Why;            // !CanCopy: one sentence for the user, ending with a full stop
    std::string Codec;          // "h264" or "hevc" ("" when not one of them)
    int64_t Frames = 0;         // frames of the clip
    int64_t HeadFrames = 0;     // re-encoded, output frames 0 .. HeadFrames - 1
    int64_t CopiedFrames = 0;   // copied untouched, the next CopiedFrames output frames
    int64_t TailFrames = 0;     // re-encoded, the rest
    bool HasAudio = false;      // the source has sound
    bool AudioCopied = false;   // its packets are copied (else re-encoded to AAC)
    // !CanCopy: what the MP4 clip made instead does to the movie's colours
    // (TWebOptions::KeepSourceColour), as sentences after a space; "" when
    // they come through as they are (8-bit BT.709 or BT.601).
    std::string FallbackColour;
    // CanCopy: a sentence for the user about the file's form when it is not
    // the plain one (HEVC whose parameter sets change: hev1), else "".
    std::string SampleEntryNote;
};
// Reads the source's packets around the span (no decoding) and plans the cut.
// Throws MediaError only when the file can not be read at all.
TCopyPlan PlanCopy(const std::string& sourceFile, int64_t firstFrame, int64_t endFrame);

// Encoder choices of the MP4 and WebM files.
struct TWebOptions {
    int Crf = -1;          // constant quality; -1: the codec's default (x264 23, VP9 33)
    std::string Preset;    // x264: "ultrafast" .. "veryslow"; VP9: cpu-used "0" .. "8"; "": the default
    int AudioKbps = 0;     // 0: the codec's default (AAC 128, Opus 96)
    // MP4: the pictures keep the source's colour description (matrix, range,
    // primaries, transfer) in 8 bits where the source names a matrix the
    // scaler knows, instead of being made BT.709. For a copy that falls back:
    // its clip keeps the source's look until colours can be converted properly.
    bool KeepSourceColour = false;
};

// Throws MediaError with a sentence for the user when the MP4 (x264 CRF 0..51,
// preset by name, AAC 16..512 kb/s) or WebM (VP9 CRF 0..63, cpu-used "0".."8",
// Opus 6..510 kb/s) encoders would not take these choices.
void CheckWebOptions(TOutputFormat format, const TWebOptions& options);

// Choices of the GIF and WebP animations.
struct TAnimOptions {
    int Fps = 15;            // frames per second, 5 .. 30
    bool Loop = true;        // play again and again; off: once
    enum class TDither { None, Bayer, ErrorDiffusion };
    TDither Dither = TDither::ErrorDiffusion;  // GIF only
    bool PalettePerScene = false;              // GIF: a palette per scene instead of one for the clip
    int WebPQuality = 75;    // WebP: 0 .. 100
    // Pixels wide (0: the source's picture as shown), the height by the
    // picture's shape; both rounded down to even numbers. The clip's own
    // Width and Height are not used.
    int Width = 0;
};

// What file to write.
struct TOutputSpec {
    std::string FileName;       // UTF-8 path
    TOutputFormat Format = TOutputFormat::Asf;
    std::string ProfileGuid;    // ASF: one of the 27 profile identifiers
    // AVI: the video goes through VideoCompressor, the sound through
    // AudioCompressor; nullptr writes uncompressed (RGB555 / the clip's PCM).
    TCompressorFilterPtr VideoCompressor;
    TCompressorFilterPtr AudioCompressor;
    TWebOptions Web;            // Mp4 and WebM
    TAnimOptions Anim;          // Gif and WebP
};

// Facts about one written stream, for progress and tests.
struct TOutputStreamInfo {
    TMajorType MajorType = TMajorType::Unknown;
    std::string Encoder;        // FFmpeg encoder name
    int Width = 0, Height = 0;  // video
    double FrameRate = 0;       // video
    int SampleRate = 0, Channels = 0;  // audio
};

struct TCutPoints;

// A span of a movie's frames: First .. End - 1.
struct TFrameRange {
    int64_t First = 0;
    int64_t End = 0;  // exclusive
    bool operator==(const TFrameRange&) const = default;
};

// One clip to render: frames FirstFrame .. EndFrame - 1 of the source's video
// stream by the frame clock's rule (media/FrameClock.h).
struct TRenderClip {
    std::string Source;         // UTF-8 path of the movie
    int64_t FirstFrame = 0;
    int64_t EndFrame = 0;       // exclusive
    // Frames per second that give the clip its length where the movie's
    // pictures are on one grid, and that count the span of a movie without
    // pictures; a movie off one grid takes its pictures' own times.
    double FrameRate = 0;
    // The output's frame size; 0 x 0 asks for the source's picture as it is
    // shown (rotated, at its display aspect ratio), rounded to what the
    // encoder takes. At most 8192 x 8192.
    int Width = 0, Height = 0;
    enum class TSound {
        None,     // no sound stream (a copy has the source's sound whatever this says)
        Pcm,      // uncompressed AVI and WMV: PCM in the format Pcm
        Encoder,  // the encoder picks its own format, following the source as far as it can
    };
    TSound Sound = TSound::None;
    TPcmFormat Pcm;
    // TOutputFormat::Copy: the cut PlanCut made for this span; nullptr: BuildRender plans it.
    const TCutPoints* Cut = nullptr;
    // Raised when the job is cancelled: reading the movie's frame times ends
    // early (the caller then drops the graph unrun).
    const std::atomic<bool>* Cancel = nullptr;
    // Which of the source's audio tracks is the clip's sound (counted from 0
    // in file order); -1: the first. A track the movie lacks is refused.
    int AudioTrack = -1;
    // Several spans joined into one file, in this order (they may overlap);
    // FirstFrame and EndFrame then hold the first one. Empty or one span: the
    // clip is FirstFrame .. EndFrame - 1 as above. Joined spans follow each
    // other on the output's frame grid (a movie off one grid is put on it);
    // each must lie within the movie. Their sound is cut on the same frame
    // edges and cross-faded over a few milliseconds at each join. A copy cuts
    // each span on its own (Cuts, one per span, or planned here) and
    // re-encodes the sound, as copied sound would not meet the joins.
    std::vector<TFrameRange> Ranges;
    std::vector<const TCutPoints*> Cuts;
};

// How the pipeline ends.
enum class TGraphEnd {
    Running,  // still running (or not started)
    Done,     // every stream written to its end, file closed
    Stopped,  // stopped by Stop(); the file is finished and playable
    // Failed; ErrorText() says why. The file is written under a temporary name
    // (TStagedFile) and takes the output's name only when it is complete or
    // stopped: after a failure the temporary file is removed and an old file of
    // the output's name is as it was.
    Failed,
};

class TRenderGraph {
public:
    ~TRenderGraph();
    TRenderGraph(const TRenderGraph&) = delete;
    TRenderGraph& operator=(const TRenderGraph&) = delete;

    // Starts the worker threads. A second call does nothing.
    void Run();
    // Waits up to `ms` milliseconds for the end; Running while the pipeline
    // still runs, else how it ended.
    TGraphEnd Wait(int ms);
    // Asks the pipeline to stop; it flushes the encoders and finishes the file
    // on its own threads (Wait then gives Stopped, or Done when everything was
    // already written). Does not block.
    void Stop();

    // Frames of the clip (for a copy: of the copy plan), lowered once the
    // movie is found to end before the clip; at least 1.
    int64_t FramesTotal() const;
    // Frames of the clip written (or handed to the encoders), at most FramesTotal().
    int64_t FramesWritten() const;

    // The failure's text once Wait gave Failed.
    std::string ErrorText() const;

    const std::vector<TOutputStreamInfo>& OutputStreams() const;
    // TOutputFormat::Copy: the plan being carried out.
    const TCopyPlan& CopyPlan() const;

    struct TImpl;

private:
    friend std::unique_ptr<TRenderGraph> BuildRender(const TRenderClip& clip, const TOutputSpec& output);
    explicit TRenderGraph(std::unique_ptr<TImpl> impl);
    std::unique_ptr<TImpl> Impl;
};

// Builds the pipeline for the clip and creates the output file: opens the
// source and decoders, checks and opens every encoder, and only then creates
// the file and writes its header. Throws MediaError with a sentence for the
// user when anything is refused; nothing is written then (a file this call
// created for a header it could not write is removed). Refused among others:
// a clip longer than 24 hours, and a video whose stamps show each frame for
// more than a minute (a broken time base).
//
// A stream the writer has none for (an audio-only profile's video, a
// video-only profile's sound) is left out.
std::unique_ptr<TRenderGraph> BuildRender(const TRenderClip& clip, const TOutputSpec& output);

}  // namespace media
