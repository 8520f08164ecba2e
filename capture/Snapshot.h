// The single frame snapshot: the frame at a position, at the movie's full
// size, as a JPEG of quality 90 in the image folder. It runs as a capture job
// of one sample (media::SnapshotSpec); the window follows that job through
// queued signals, tests and other callers without a window wait for it here.
#pragma once

#include "media/CaptureJob.h"

#include <QString>
#include <cstdint>

struct TSnapshotResult {
    enum TOutcome {
        Saved,        // Path holds the file written
        NoFrame,      // no frame came from the movie; nothing was written
        WriteFailed,  // Error holds the message (missing folder, unwritable file)
    };
    TOutcome Outcome = NoFrame;
    QString Path;
    QString Error;
};

// imageFolder + TimeStampName() + ".jpg" (a "/" put between when missing).
QString SnapshotPath(const QString& imageFolder);

// The snapshot job's spec: frame `frame` of the movie at width x height, written to `path`.
media::TCaptureSpec SnapshotSpecFor(const QString& movie, int width, int height, int64_t frame, const QString& path);

// How the snapshot job that writes `path` ended.
TSnapshotResult SnapshotResultOf(const media::TJobEnd& end, const QString& path);

// Writes frame `frame` of the movie scaled to width x height as a baseline
// JFIF JPEG of quality 90 to SnapshotPath(imageFolder), replacing a file of
// that name, and waits for it. The image folder is not created: a missing one
// is a WriteFailed.
TSnapshotResult SaveSnapshot(const QString& movie, int width, int height, int64_t frame, const QString& imageFolder);

// The same, with the file name given (for callers that chose it already).
TSnapshotResult SaveSnapshotAs(const QString& movie, int width, int height, int64_t frame, const QString& path);
