#include "capture/Snapshot.h"

#include "capture/ImageWriters.h"
#include "common/MyCommonParams.h"
#include "source/FrameBitmap.h"

namespace {
constexpr int kSnapshotQuality = 90;
}

TSnapshotResult SaveSnapshotAs(media::TMediaDetector& detector, int width, int height, double seconds,
                               const QString& path) {
    TSnapshotResult result;
    TFrameBitmap bitmap;
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF ||
        !GrabFrame(detector, bitmap, static_cast<uint16_t>(width), static_cast<uint16_t>(height), seconds)) {
        result.Outcome = TSnapshotResult::NoFrame;
        return result;
    }
    try {
        WriteJpegFile(path.toStdString(), bitmap, kSnapshotQuality);
    } catch (const std::exception& e) {
        result.Outcome = TSnapshotResult::WriteFailed;
        result.Error = QString::fromUtf8(e.what());
        return result;
    }
    result.Outcome = TSnapshotResult::Saved;
    result.Path = path;
    return result;
}

TSnapshotResult SaveSnapshot(media::TMediaDetector& detector, int width, int height, double seconds,
                             const QString& imageFolder) {
    QString folder = imageFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return SaveSnapshotAs(detector, width, height, seconds, folder + TimeStampName() + QStringLiteral(".jpg"));
}
