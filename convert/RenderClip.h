// A clip of the open movie as the window makes it: the window's choices
// (TOutputSettings, the mode, the range) become a clip job's description
// (media/ClipJob.h), and the job's events become what the window shows:
// the progress and time-left captions, the preview following the job, the
// copy's fallback notice, the hourglass while a stop winds down, and
// "Fail to make clip ..." when it fails. Everything shown goes through
// TRenderClipHost, so the main window, the command-line tool and the tests
// each supply their own.
//
// The window starts the job and listens to its events (TClipJobView does the
// showing); RenderClip runs a whole job for callers without an event loop of
// their own (the command-line tool, tests), waiting on the job's events on
// the calling thread.
#pragma once

#include "convert/OutputSettings.h"
#include "media/ClipJob.h"

#include <QString>
#include <cstdint>

class TRenderClipHost {
public:
    virtual ~TRenderClipHost() = default;

    // The output choices (profile, compressors, WithAudio). Read once per render.
    virtual const TOutputSettings& OutputSettings() = 0;
    // RenderClip only: set by a stop request; read once per poll.
    virtual bool StopRequested() { return false; }
    // RenderClip only: called once per poll (100 ms), while the job runs.
    virtual void ProcessMessages() {}

    // The progress label lbBusy and the time label lbTimeLeft.
    virtual void SetBusyCaption(const QString& caption) = 0;
    virtual void SetBusyVisible(bool visible) = 0;
    virtual void SetTimeLeftCaption(const QString& caption) = 0;
    virtual void SetTimeLeftVisible(bool visible) = 0;

    // "Show preview when clipping"; when on, the track bar follows the render.
    virtual bool ShowPreviewWhenClipping() = 0;
    virtual void SetTrackBarPosition(int32_t frame) = 0;

    // The hourglass cursor while a stopped render winds down.
    virtual void SetHourglass(bool on) = 0;

    // A failed render: `message` is "Fail to make clip " + the output file
    // name, to be shown as it stands; `reason` says what went wrong (may be
    // empty), for the host to add or log.
    virtual void ShowFailure(const QString& message, const QString& reason) = 0;

    // RenderClip only: the pause after a job that ran has ended (3000 ms);
    // the window runs a timer instead. Tests may return at once.
    virtual void Pause(int milliseconds) { (void)milliseconds; }

    // A one-line notice that does not stop the render (a copy that falls
    // back to re-encoding says why). Shown without a question.
    virtual void ShowNotice(const QString& text) { (void)text; }
};

// The percentage shown after "Progress: " for frames done of a total:
// round(done * 100 / total), ties to even.
int64_t ProgressPercent(int64_t done, int64_t total);
// "Progress: " + percent + "%".
QString ProgressCaption(int64_t done, int64_t total);
// The pause between a job's end and what comes after it (hiding the
// captions, the failure message or "Play the result?").
constexpr int kClosingPauseMs = 3000;
// "Please wait." + the first pollCounter + 1 dots of 14 (at most 14).
QString PleaseWaitCaption(int pollCounter);

// The kinds of clip file.
// Copy: the source's own pictures where they can be kept (see
// media::TOutputFormat::Copy); when the source can not be copied the clip
// is re-encoded to MP4 instead, after
// host.ShowNotice(CopyFallbackNotice(why) + plan.FallbackColour), with the MP4
// settings' quality, preset and audio bit rate, at width x height (0 x 0: the
// source's size), always with the source's sound, and keeping the source's
// colour description where it can.
// Gif and WebP: animations without sound at settings.Gif / .WebP's rate and
// width (the height by the picture's shape); width and height are not used.
enum class TClipFormat { Wmv, Avi, Mp4, WebM, Copy, Gif, WebP };

// The notice of a copy that falls back: why + " The clip is re-encoded to MP4 instead."
QString CopyFallbackNotice(const std::string& why);

// The clip job's description: frames rangeStart .. rangeEnd - 1 of the
// source into outputFile at width x height (0 x 0: the source's picture as
// shown). MP4 and WebM take their encoder choices and WithAudio from
// settings.Mp4 / .WebM; a copy keeps the source's sound and re-encodes with
// the MP4 choices when it can not copy.
media::TClipJobSpec ClipJobSpec(const TOutputSettings& settings, const QString& sourceFile, const QString& outputFile,
                                uint16_t width, uint16_t height, uint16_t audioFormatIndex, int32_t rangeStart,
                                int32_t rangeEnd, TClipFormat format, double frameRate = 0);

// Shows one clip job's events on a host; called on the host's thread.
class TClipJobView {
public:
    TClipJobView(TRenderClipHost& host, const QString& outputFile, int32_t rangeStart, int32_t rangeEnd);
    ~TClipJobView();  // the hourglass goes

    // A copy that falls back shows CopyFallbackNotice(why) + its colour note.
    void Plan(const media::TJobPlan& plan);
    // The busy caption; with moveTimeLeft also the time left and the preview.
    void Progress(const media::TJobProgress& progress, bool moveTimeLeft);
    // The user asked the job to stop: the hourglass shows until it ended.
    void Stopping();
    // Whether the job ran far enough that the closing pause belongs before Finish.
    bool Started() const { return FPlanned; }
    // The captions go; a failure shows "Fail to make clip " + output with its
    // reason. True when the file was written to its end or stopped by the user
    // (false, without a message, for a stop that came before the file was made).
    bool Finish(const media::TJobEnd& end);

private:
    TRenderClipHost& FHost;
    QString FOutput;
    int32_t FRangeStart, FRangeEnd;
    bool FPlanned = false;
    bool FStopping = false;
};

// Runs the clip job to its end on the calling thread (see the header
// comment), polling every 100 ms: each poll calls host.ProcessMessages, asks
// host.StopRequested (a stop cancels the job; the partial file stays and is
// playable) and shows the latest progress; the time left and the preview
// move every 11 polls. Returns true when the file was written to its end or
// stopped by the user; false when the frame rate is 0 (no message), or when
// the range holds no frame, or building or writing the file failed (after
// host.ShowFailure("Fail to make clip " + output)). A range that reaches past
// the movie's end is cut there.
bool RenderClip(TRenderClipHost& host, const QString& sourceFile, const QString& outputFile, uint16_t width,
                uint16_t height, uint16_t audioFormatIndex, double frameRate, int32_t rangeStart, int32_t rangeEnd,
                TClipFormat format);
// The same for a job description of the caller's: ClipJobSpec's with several
// segments filled in (Ranges, joined or Split).
bool RenderClip(TRenderClipHost& host, media::TClipJobSpec spec);
inline bool RenderClip(TRenderClipHost& host, const QString& sourceFile, const QString& outputFile, uint16_t width,
                       uint16_t height, uint16_t audioFormatIndex, double frameRate, int32_t rangeStart,
                       int32_t rangeEnd, bool wmv) {
    return RenderClip(host, sourceFile, outputFile, width, height, audioFormatIndex, frameRate, rangeStart, rangeEnd,
                      wmv ? TClipFormat::Wmv : TClipFormat::Avi);
}
