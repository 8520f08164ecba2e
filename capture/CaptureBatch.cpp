#include "capture/CaptureBatch.h"

#include "media/StagedFile.h"

#include "source/FrameBitmap.h"
#include "media/MediaDetector.h"

#include <QDir>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

QString MakeFileName(const QString& prefix, uint64_t number, const QString& extension) {
    return prefix + QStringLiteral("%1").arg(number, 8, 10, QLatin1Char('0')) + QLatin1Char('.') + extension;
}

namespace {

// Encodes and writes one picture at a time on its own thread, so that the
// next frame is decoded while the previous one is written. One slot: Post()
// waits until the writer has taken the previous picture's work to its end.
class TBackgroundWriter {
public:
    TBackgroundWriter(uint16_t pictureType, int jpegQuality, int pngStep)
        : PictureType(pictureType), JpegQuality(jpegQuality), PngStep(pngStep), Thread([this] { Run(); }) {}
    ~TBackgroundWriter() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Quit = true;
        }
        Changed.notify_all();
        Thread.join();
    }
    TBackgroundWriter(const TBackgroundWriter&) = delete;
    TBackgroundWriter& operator=(const TBackgroundWriter&) = delete;

    // Waits until the writer is idle. The first write error, if any.
    QString WaitIdle() {
        std::unique_lock<std::mutex> lock(Mutex);
        Changed.wait(lock, [this] { return !Busy; });
        return Error;
    }
    // Hands the picture over (swapped out of `bitmap`); the writer must be idle.
    void Post(const std::string& path, TFrameBitmap& bitmap) {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Path = path;
            std::swap(Bitmap, bitmap);
            Busy = true;
        }
        Changed.notify_all();
    }
    uint32_t Written() {
        std::lock_guard<std::mutex> lock(Mutex);
        return FilesWritten;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(Mutex);
        for (;;) {
            Changed.wait(lock, [this] { return Busy || Quit; });
            if (!Busy) return;
            lock.unlock();
            QString error;
            try {
                WritePictureFile(Path, Bitmap, PictureType, JpegQuality, PngStep);
            } catch (const std::exception& e) {
                error = QString::fromUtf8(e.what());
            }
            lock.lock();
            if (error.isEmpty())
                ++FilesWritten;
            else if (Error.isEmpty())
                Error = error;
            Busy = false;
            Changed.notify_all();
        }
    }

    const uint16_t PictureType;
    const int JpegQuality;
    const int PngStep;
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Busy = false;   // a picture is handed over and not yet written
    bool Quit = false;
    std::string Path;
    TFrameBitmap Bitmap;
    QString Error;
    uint32_t FilesWritten = 0;
    std::thread Thread;  // last: starts when everything above exists
};

// Whether a new image may take this name: an old file of the name is replaced
// only once the new one is written whole; a folder of that name, or the movie
// being sampled, never is.
bool MayReplace(const QByteArray& file, const std::string& movie) {
    return media::WhyNotReplaceable(file.toStdString()).empty() &&
           (movie.empty() || !media::SameFile(movie, file.toStdString()));
}

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
    const QString extension = QString::fromLatin1(PictureExtension(info.PictureType));
    TBackgroundWriter writer(info.PictureType, info.JpegQuality + 4, info.PngQuality);
    uint64_t fileCounter = 1;  // wide: a batch never runs out of names
    TFrameBitmap bitmap;       // the frame being fetched; the writer holds the one being written
    // The difference in floating point: a reversed range steps backwards
    // instead of wrapping around to four billion frames.
    const double step = info.SampleCount
        ? (static_cast<double>(info.RangeEnd) - static_cast<double>(info.RangeStart)) / info.SampleCount
        : 0.0;
    double x = info.RangeStart;
    for (uint32_t i = 0; i < info.SampleCount; ++i) {
        if (events.PumpAndCheckStop && events.PumpAndCheckStop()) {
            result.End = TCaptureResult::Stopped;
            break;
        }
        const std::function<bool()> fetch = [&] {
            return GrabFrame(*info.MediaDetector, bitmap, info.FrameWidth, info.FrameHeight,
                             info.MediaDetector->get_PositionTime(x));
        };
        const bool grabbed = events.RunFetch ? events.RunFetch(fetch) : fetch();
        // A write error ends the batch before anything else is written.
        if (!writer.WaitIdle().isEmpty()) break;
        // The number is used up whatever happens to the sample.
        const QString name = MakeFileName(info.FilePrefix, fileCounter++, extension);
        if (grabbed) {
            if (events.FileNameChosen) events.FileNameChosen(name);
            const QString path = info.Folder + name;
            const QByteArray file = path.toUtf8();
            if (MayReplace(file, info.MediaDetector->Filename())) {
                writer.Post(file.toStdString(), bitmap);
            } else {
                ++result.NotReplaced;
                if (events.ShowMessage) events.ShowMessage(QStringLiteral("Can not delete file ") + path);
            }
        } else {
            if (result.FetchFailures++ == 0) {
                result.FetchError = QString::fromStdString(info.MediaDetector->LastError());
                if (result.FetchError.isEmpty()) result.FetchError = QStringLiteral("No picture came from the movie.");
            }
        }
        x += step;
        if (events.SampleDone) events.SampleDone(i);
    }
    const QString error = writer.WaitIdle();
    result.FilesWritten = writer.Written();
    if (!error.isEmpty()) {
        result.End = TCaptureResult::Failed;
        result.Error = error;
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
