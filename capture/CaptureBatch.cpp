#include "capture/CaptureBatch.h"

#include "source/FrameBitmap.h"

#include <QDir>
#include <cmath>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

QString MakeFileName(const QString& prefix, uint64_t number, const QString& extension) {
    return prefix + QStringLiteral("%1").arg(number, 8, 10, QLatin1Char('0')) + QLatin1Char('.') + extension;
}

namespace {

// One sample's file: takes the next number, clears the way and writes.
// False when an old file of that name cannot be deleted; write errors raise.
class TImageSaver {
public:
    TImageSaver(const TProgressInfo& info, const TCaptureEvents& events)
        : Info(info), Events(events), Extension(QString::fromLatin1(PictureExtension(info.PictureType))) {}

    uint64_t FileCounter = 1;  // wide: a batch never runs out of names

    QString NextName() { return MakeFileName(Info.FilePrefix, FileCounter++, Extension); }

    bool SaveImage(const TFrameBitmap& bitmap) {
        const QString name = NextName();
        if (Events.FileNameChosen) Events.FileNameChosen(name);
        const QString path = Info.Folder + name;
        const QByteArray file = path.toUtf8();
        struct stat st;
        if (::lstat(file.constData(), &st) == 0 && ::unlink(file.constData()) != 0) {
            if (Events.ShowMessage) Events.ShowMessage(QStringLiteral("Can not delete file ") + path);
            return false;
        }
        WritePictureFile(file.toStdString(), bitmap, Info.PictureType, Info.JpegQuality + 4, Info.PngQuality);
        return true;
    }

private:
    const TProgressInfo& Info;
    const TCaptureEvents& Events;
    QString Extension;
};

}  // namespace

TCaptureResult CaptureFrames(const TProgressInfo& info, const TCaptureEvents& events) {
    TCaptureResult result;
    if (!PictureExtension(info.PictureType)) {
        result.End = TCaptureResult::Failed;
        result.Error = QStringLiteral("Unknown picture type %1").arg(info.PictureType);
        return result;
    }
    if (!info.MediaDetector || !(info.FrameRate > 0)) {
        result.End = TCaptureResult::Failed;
        result.Error = QStringLiteral("No movie is open");
        return result;
    }
    if (!QDir().mkpath(info.Folder)) {
        result.End = TCaptureResult::Failed;
        result.Error = QStringLiteral("Can not create folder ") + info.Folder;
        return result;
    }
    TImageSaver saver(info, events);
    TFrameBitmap bitmap;  // one working bitmap for the whole batch
    // The difference in floating point: a reversed range steps backwards
    // instead of wrapping around to four billion frames.
    const double step = info.SampleCount
        ? (static_cast<double>(info.RangeEnd) - static_cast<double>(info.RangeStart)) / info.SampleCount
        : 0.0;
    double x = info.RangeStart;
    for (uint32_t i = 0; i < info.SampleCount; ++i) {
        if (events.PumpAndCheckStop && events.PumpAndCheckStop()) {
            result.End = TCaptureResult::Stopped;
            return result;
        }
        if (GrabFrame(*info.MediaDetector, bitmap, info.FrameWidth, info.FrameHeight, x / info.FrameRate)) {
            try {
                if (saver.SaveImage(bitmap))
                    ++result.FilesWritten;
                else
                    ++result.NotReplaced;
            } catch (const std::exception& e) {
                result.End = TCaptureResult::Failed;
                result.Error = QString::fromUtf8(e.what());
                return result;
            }
        } else {
            saver.NextName();  // the skipped sample keeps its number
            ++result.FetchFailures;
        }
        x += step;
        if (events.SampleDone) events.SampleDone(i);
    }
    return result;
}

int64_t ProposedSampleCount(int position, int maximum, int64_t rangeLength) {
    const int64_t L = rangeLength;
    int64_t span = L;
    if (L > 100) span = 500;
    if (position > (3 * maximum) / 4) span = L;
    const long double pi = 3.141592653589793238462643383279502884L;
    // nearbyint rounds to nearest, ties to even, in the default rounding mode.
    int64_t n = static_cast<int64_t>(
        std::nearbyintl(std::sin(position * pi / (2.0L * maximum)) * static_cast<long double>(span)));
    if (position == maximum) n = L;
    if (position <= 1) n = 3;
    if (n > L) n = L;
    return n;
}
