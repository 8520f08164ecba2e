// The frame capture batch as the window describes it: the job record (Qt
// types), its translation into the capture job of media/ (media/CaptureJob.h),
// and a synchronous run of that job for callers without a window (tests). The
// "Writing images" dialog runs the job itself and follows it through queued
// signals.
#pragma once

#include "media/CaptureJob.h"

#include <QString>
#include <cstdint>
#include <functional>

// The job record of one batch.
struct TProgressInfo {
    QString FilePrefix = QStringLiteral("B");  // first part of every file name
    QString Folder;                  // the batch folder, ending with "/"
    uint16_t JpegQuality = 36;       // 4 x the JPEG quality step (0..96); the encoder gets JpegQuality + 4
    uint16_t PngQuality = 9;         // the PNG quality step (0..9)
    QString SourceFile;              // the open movie
    uint16_t FrameWidth = 0;         // pixels
    uint16_t FrameHeight = 0;        // pixels
    uint32_t RangeStart = 0;         // frame numbers
    uint32_t RangeEnd = 0;
    uint16_t PictureType = media::ptJpg;    // 0 GIF, 1 JPG, 2 BMP, 3 PNG
    double FrameRate = 0;            // frames per second
    uint32_t SampleCount = 0;        // number of images to take
    std::vector<media::TFrameRange> Ranges;  // segments sampled in place of the range (empty: none)
};

// prefix + number (decimal, at least 8 digits) + "." + extension: B00000001.jpg.
QString MakeFileName(const QString& prefix, uint64_t number, const QString& extension);

// The capture job for the record: its spec, or why there is none ("No movie
// is open" without a source file or frame rate).
bool CaptureSpecOf(const TProgressInfo& info, media::TCaptureSpec& spec, QString& error);

// How a batch ended, as the window and the tests read it.
struct TCaptureResult {
    enum TEnd { Completed, Stopped, Failed };
    TEnd End = Completed;
    QString Error;               // Failed: why, fit for the user
    uint32_t FilesWritten = 0;
    uint32_t FetchFailures = 0;  // samples skipped because no frame came
    QString FetchError;          // why the first of them came to nothing

    // For a batch that ran to its end without a single picture: the message
    // that says why; empty otherwise.
    QString NothingTakenMessage() const;
    uint32_t NotReplaced = 0;    // samples skipped because an old file was in the way
};
TCaptureResult CaptureResultOf(const media::TJobEnd& end);

// What a synchronous batch tells its caller, on the job's thread. Every
// member may be empty.
struct TCaptureEvents {
    // Called once before each sample. True stops the batch before the next
    // frame is fetched (the job is cancelled).
    std::function<bool()> PumpAndCheckStop;
    // The name (without folder) of the file about to be written.
    std::function<void(const QString& name)> FileNameChosen;
    // Sample `index` (from 0) is done, written or skipped.
    std::function<void(uint32_t index)> SampleDone;
    // A message for the user that does not end the batch
    // ("Can not delete file " + path).
    std::function<void(const QString& text)> ShowMessage;
};

// Runs the capture job of the record (media::TCaptureJob: the samples, names,
// skips and errors are described there) and waits for its end.
TCaptureResult CaptureFrames(const TProgressInfo& info, const TCaptureEvents& events);

// The number of images the settings dialog proposes for quantity position p
// (1..maximum) and a clip range of rangeLength frames: a sine curve over a
// span of 500 frames in the bar's first three quarters for ranges longer than
// 100 frames (the range itself otherwise), 3 at the left end, the whole range
// at the right end, never more than the range. Not yet clamped to 3..999,999.
int64_t ProposedSampleCount(int position, int maximum, int64_t rangeLength);
