// The timeline clip renderer without a window: cuts frames RangeStart ..
// RangeEnd - 1 of the source into a new WMV (by profile) or AVI (by
// compressors) file, polling the render engine every 100 ms. Everything the
// renderer shows or asks goes through TRenderClipHost, so the main window, the
// command-line tool and the tests each supply their own.
//
// Runs on the caller's (the window's) thread; the media work runs on the
// engine's threads and the caller never waits longer than one 100 ms poll
// before the host's ProcessMessages is called again.
#pragma once

#include "convert/OutputSettings.h"

#include <QString>
#include <cstdint>

class TRenderClipHost {
public:
    virtual ~TRenderClipHost() = default;

    // The output choices (profile, compressors, WithAudio). Read once per render.
    virtual const TOutputSettings& OutputSettings() = 0;
    // Set by the Stop button or the close request; read once per poll.
    virtual bool StopRequested() = 0;
    // Lets the window handle its pending events (Stop, the busy animation).
    virtual void ProcessMessages() = 0;

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

    // The pause after the graph was stopped (3000 ms). The window sleeps;
    // tests may return at once.
    virtual void Pause(int milliseconds) = 0;

    // The current local time as a date-time value (days); tests may fake it.
    virtual double Now();

    // A one-line notice that does not stop the render (a copy that falls
    // back to re-encoding says why). Shown without a question.
    virtual void ShowNotice(const QString& text) { (void)text; }
};

// The percentage shown after "Progress: " for a position and total (100 ns
// units): round(position * 100 / total), ties to even.
int64_t ProgressPercent(int64_t position, int64_t total);
// "Progress: " + percent + "%".
QString ProgressCaption(int64_t position, int64_t total);
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
enum class TClipFormat { Wmv, Avi, Mp4, WebM, Copy };

// The notice of a copy that falls back: why + " The clip is re-encoded to MP4 instead."
QString CopyFallbackNotice(const std::string& why);

// Renders the clip; see the header comment. Returns true when the file was
// written to its end or stopped by the user (the partial file stays and is
// playable); false when the frame rate is 0 (no message), or when the range
// holds no frame, or building or writing the file failed (after
// host.ShowFailure("Fail to make clip " + output)); a file the failed render
// created is removed again. A range that reaches past the movie's end is cut
// there.
// MP4 and WebM take their encoder choices and WithAudio from
// OutputSettings().Mp4 / .WebM, and width = height = 0 means the source's
// picture as it is shown.
bool RenderClip(TRenderClipHost& host, const QString& sourceFile, const QString& outputFile, uint16_t width,
                uint16_t height, uint16_t audioFormatIndex, double frameRate, int32_t rangeStart, int32_t rangeEnd,
                TClipFormat format);
inline bool RenderClip(TRenderClipHost& host, const QString& sourceFile, const QString& outputFile, uint16_t width,
                       uint16_t height, uint16_t audioFormatIndex, double frameRate, int32_t rangeStart,
                       int32_t rangeEnd, bool wmv) {
    return RenderClip(host, sourceFile, outputFile, width, height, audioFormatIndex, frameRate, rangeStart, rangeEnd,
                      wmv ? TClipFormat::Wmv : TClipFormat::Avi);
}
