// The single frame snapshot without a window: the frame at a position, at
// the movie's full size, as a JPEG of quality 90 in the image folder.
#pragma once

#include <QString>
#include <cstdint>

namespace media { class TMediaDetector; }

struct TSnapshotResult {
    enum TOutcome {
        Saved,        // Path holds the file written
        NoFrame,      // the detector gave no frame; nothing was written
        WriteFailed,  // Error holds the message (missing folder, unwritable file)
    };
    TOutcome Outcome = NoFrame;
    QString Path;
    QString Error;
};

// Grabs the frame at `seconds` scaled to width x height from the detector's
// current stream and writes it as a baseline JFIF JPEG of quality 90 to
// imageFolder + TimeStampName() + ".jpg", replacing a file of that name.
// The image folder is not created: a missing one is a WriteFailed.
TSnapshotResult SaveSnapshot(media::TMediaDetector& detector, int width, int height, double seconds,
                             const QString& imageFolder);

// The same, with the file name given (for callers that chose it already).
TSnapshotResult SaveSnapshotAs(media::TMediaDetector& detector, int width, int height, double seconds,
                               const QString& path);
