// The frame capture batch without a window: samples the clip range of a movie
// into numbered image files in a new folder. The progress dialog drives it
// (pumping window messages between samples) and so does `fwmedia capture`.
// The loop, the detector and every event run on the caller's thread; only the
// encoding and writing of the previous picture runs on a worker thread of the
// batch, overlapping the next frame's decoding.
#pragma once

#include "capture/ImageWriters.h"

#include <QString>
#include <cstdint>
#include <functional>

namespace media { class TMediaDetector; }

// The job record of one batch.
struct TProgressInfo {
    QString FilePrefix = QStringLiteral("B");  // first part of every file name
    QString Folder;                  // the batch folder, ending with "/"
    uint16_t JpegQuality = 36;       // 4 x the JPEG quality step (0..96); the encoder gets JpegQuality + 4
    uint16_t PngQuality = 9;         // the PNG quality step (0..9)
    media::TMediaDetector* MediaDetector = nullptr;  // the open movie's; not owned, alive for the job,
                                                     // its current stream on the movie's video stream
    uint16_t FrameWidth = 0;         // pixels
    uint16_t FrameHeight = 0;        // pixels
    uint32_t RangeStart = 0;         // frame numbers
    uint32_t RangeEnd = 0;
    uint16_t PictureType = ptJpg;    // 0 GIF, 1 JPG, 2 BMP, 3 PNG
    double FrameRate = 0;            // frames per second
    uint32_t SampleCount = 0;        // number of images to take
};

// prefix + number (decimal, at least 8 digits) + "." + extension: B00000001.jpg.
QString MakeFileName(const QString& prefix, uint64_t number, const QString& extension);

// What a running batch tells its driver. Every member may be empty.
struct TCaptureEvents {
    // Called once before each sample: the window lets pending messages run
    // here. True stops the batch before the next frame is fetched.
    std::function<bool()> PumpAndCheckStop;
    // The name (without folder) of the file about to be written.
    std::function<void(const QString& name)> FileNameChosen;
    // Sample `index` (from 0) is done, written or skipped.
    std::function<void(uint32_t index)> SampleDone;
    // A message for the user that does not end the batch
    // ("Can not delete file " + path).
    std::function<void(const QString& text)> ShowMessage;
    // Runs the fetch of one frame and gives its result; the window runs it
    // off its own thread so that it keeps painting. Unset: run here.
    std::function<bool(const std::function<bool()>& fetch)> RunFetch;
};

struct TCaptureResult {
    enum TEnd { Completed, Stopped, Failed };
    TEnd End = Completed;
    QString Error;               // Failed: why, fit for the user
    uint32_t FilesWritten = 0;
    uint32_t FetchFailures = 0;  // samples skipped because no frame came
    QString FetchError;          // why the first of them came to nothing

    // For a batch that ran to its end without a single picture: the message
    // that says why; empty otherwise.
    QString NothingTakenMessage() const {
        if (End != Completed || FilesWritten > 0 || FetchFailures == 0) return {};
        return QStringLiteral("No picture could be taken from the movie: ") + FetchError;
    }
    uint32_t NotReplaced = 0;    // samples skipped because an old file was in the way
};

// The capture loop. Creates Folder (with its parents), then for sample
// i = 0 .. SampleCount - 1 fetches the frame at x / FrameRate seconds, x
// starting at RangeStart and advanced by (RangeEnd - RangeStart) / SampleCount
// by repeated addition, and writes it as file number i + 1. A sample whose
// frame cannot be fetched is skipped (its number is used up). A file of the
// same name that cannot be deleted gives "Can not delete file " + path and
// the sample is skipped. A write error (full disk, unwritable folder) ends
// the batch with Failed before another file is started; files already
// written stay. Returns once the last file is complete.
TCaptureResult CaptureFrames(const TProgressInfo& info, const TCaptureEvents& events);

// The number of images the settings dialog proposes for quantity position p
// (1..maximum) and a clip range of rangeLength frames: a sine curve over a
// span of 500 frames in the bar's first three quarters for ranges longer than
// 100 frames (the range itself otherwise), 3 at the left end, the whole range
// at the right end, never more than the range. Not yet clamped to 3..999,999.
int64_t ProposedSampleCount(int position, int maximum, int64_t rangeLength);
