#include "media/CaptureJob.h"

#include "media/StagedFile.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace media {

namespace {

constexpr int kSnapshotQuality = 90;

// Encodes and writes one picture at a time on a thread of its own, so that
// the next frame is decoded while the previous one is written. One slot:
// Post() is called only when the writer is idle (WaitIdle).
class TBackgroundWriter {
public:
    TBackgroundWriter(uint16_t pictureType, int jpegQuality, int pngStep)
        : PictureType(pictureType), JpegQuality(jpegQuality), PngStep(pngStep), Thread([this] { Run(); }) {}
    ~TBackgroundWriter() {
        {
            std::lock_guard lock(Mutex);
            Quit = true;
        }
        Changed.notify_all();
        Thread.join();
    }
    TBackgroundWriter(const TBackgroundWriter&) = delete;
    TBackgroundWriter& operator=(const TBackgroundWriter&) = delete;

    // Waits until the writer is idle. The first write error, if any.
    std::string WaitIdle() {
        std::unique_lock lock(Mutex);
        Changed.wait(lock, [this] { return !Busy; });
        return Error;
    }
    // Hands the picture over (swapped out of `picture`); the writer must be idle.
    void Post(const std::string& path, TRgbPicture& picture) {
        {
            std::lock_guard lock(Mutex);
            Path = path;
            std::swap(Picture, picture);
            Busy = true;
        }
        Changed.notify_all();
    }
    int64_t Written() {
        std::lock_guard lock(Mutex);
        return FilesWritten;
    }

private:
    void Run() {
        std::unique_lock lock(Mutex);
        for (;;) {
            Changed.wait(lock, [this] { return Busy || Quit; });
            if (!Busy) return;
            lock.unlock();
            std::string error;
            try {
                WritePictureFile(Path, Picture, PictureType, JpegQuality, PngStep);
            } catch (const std::exception& e) {
                error = e.what();
                if (error.empty()) error = "Can not write file " + Path;
            }
            lock.lock();
            if (error.empty())
                ++FilesWritten;
            else if (Error.empty())
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
    bool Busy = false;  // a picture is handed over and not yet written
    bool Quit = false;
    std::string Path;
    TRgbPicture Picture;
    std::string Error;
    int64_t FilesWritten = 0;
    std::thread Thread;  // last: starts when everything above exists
};

// Whether a new image may take this name: an old file of the name is replaced
// only once the new one is written whole; a folder of that name, or the movie
// being sampled, never is.
bool MayReplace(const std::string& file, const std::string& movie) {
    return WhyNotReplaceable(file).empty() && (movie.empty() || !SameFile(movie, file));
}

bool MakeFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::u8path(folder), ec);
    // create_directories may report a folder named with a trailing slash as
    // not created though it was: what counts is that it is there now.
    return std::filesystem::is_directory(std::filesystem::u8path(folder), ec);
}

TJobEnd Failure(TJobEnd end, std::string why) {
    end.Outcome = TJobEnd::Failed;
    end.Error = std::move(why);
    return end;
}

}  // namespace

int64_t SampleFrame(double x) { return static_cast<int64_t>(std::floor(x + 0.25)); }

int64_t JoinedFrame(const std::vector<TFrameRange>& ranges, int64_t joined) {
    if (ranges.empty()) return joined;
    for (const auto& r : ranges) {
        if (joined < r.End - r.First) return r.First + std::max<int64_t>(0, joined);
        joined -= r.End - r.First;
    }
    return ranges.back().End - 1;
}

std::string NumberedFileName(const std::string& prefix, uint64_t number, const std::string& extension) {
    std::string digits = std::to_string(number);
    if (digits.size() < 8) digits.insert(0, 8 - digits.size(), '0');
    return prefix + digits + "." + extension;
}

std::string NothingTakenMessage(const TJobEnd& end) {
    if (end.Outcome != TJobEnd::Done || end.FilesWritten > 0 || end.NoFrame == 0) return {};
    return "No picture could be taken from the movie: " + end.NoFrameWhy;
}

TCaptureJob::TCaptureJob(TCaptureSpec spec, TJobEvents events) : TJob(std::move(events)), FSpec(std::move(spec)) {}

TCaptureJob::~TCaptureJob() {
    // Body reads this object's members: it must be over before they go.
    Cancel();
    if (FStarted) Wait();
}

std::unique_ptr<TCaptureJob> TCaptureJob::Start(TCaptureSpec spec, TJobEvents events) {
    std::unique_ptr<TCaptureJob> job(new TCaptureJob(std::move(spec), std::move(events)));
    job->TJob::Start();
    job->FStarted = true;
    return job;
}

TJobEnd TCaptureJob::Body() {
    TJobEnd end;
    const char* extension = PictureExtension(FSpec.PictureType);
    if (!extension) return Failure(end, "Unknown picture type " + std::to_string(FSpec.PictureType));
    if (FSpec.Source.empty()) return Failure(end, "No movie is open");
    TJobPlan plan;
    plan.Frames = FSpec.Samples;
    Planned(plan);

    TMovieReader reader;
    if (!reader.Open(FSpec.Source, false)) return Failure(end, reader.LastError());
    if (FSpec.FileName.empty() && !MakeFolder(FSpec.Folder)) return Failure(end, "Can not create folder " + FSpec.Folder);

    TBackgroundWriter writer(FSpec.PictureType, FSpec.JpegQuality, FSpec.PngStep);
    uint64_t fileCounter = 1;  // wide: a batch never runs out of names
    TRgbPicture picture;       // the frame being fetched; the writer holds the one being written
    // The difference in floating point: a reversed span steps backwards.
    double first = static_cast<double>(FSpec.First), last = static_cast<double>(FSpec.End);
    if (!FSpec.Ranges.empty()) {
        // Segments: positions in the segments joined.
        first = 0;
        last = 0;
        for (const auto& r : FSpec.Ranges) last += static_cast<double>(std::max<int64_t>(0, r.End - r.First));
    }
    const double step = FSpec.Samples > 0 ? (last - first) / FSpec.Samples : 0.0;
    double x = first;
    for (int64_t i = 0; i < FSpec.Samples; ++i) {
        if (Cancelled()) {
            end.Outcome = TJobEnd::Stopped;
            break;
        }
        const int64_t frame = FSpec.Ranges.empty() ? SampleFrame(x) : JoinedFrame(FSpec.Ranges, SampleFrame(x));
        const bool grabbed = reader.FrameAt(frame, FSpec.Width, FSpec.Height, picture) && !picture.Empty();
        // A write error ends the job before anything else is written.
        if (!writer.WaitIdle().empty()) break;
        // The number is used up whatever happens to the sample.
        const std::string name =
            FSpec.FileName.empty() ? NumberedFileName(FSpec.Prefix, fileCounter++, extension) : FSpec.FileName;
        if (grabbed) {
            Noticed(TJobNotice::Writing, name);
            const std::string path = FSpec.Folder + name;
            if (MayReplace(path, FSpec.Source)) {
                Showing(frame);
                writer.Post(path, picture);
            } else {
                ++end.NotReplaced;
                Noticed(TJobNotice::Message, "Can not delete file " + path);
            }
        } else if (end.NoFrame++ == 0) {
            end.NoFrameWhy = reader.LastError();
            if (end.NoFrameWhy.empty()) end.NoFrameWhy = "No picture came from the movie.";
        }
        x += step;
        Progressed(i + 1, FSpec.Samples);
    }
    const std::string error = writer.WaitIdle();
    end.FilesWritten = writer.Written();
    FStats = reader.Stats();
    if (!error.empty()) return Failure(end, error);
    return end;
}

TCaptureSpec SnapshotSpec(const std::string& source, int64_t frame, int width, int height,
                          const std::string& folder, const std::string& fileName) {
    TCaptureSpec spec;
    spec.Source = source;
    spec.First = frame;
    spec.End = frame + 1;
    spec.Samples = 1;
    spec.Width = width;
    spec.Height = height;
    spec.Folder = folder;
    spec.FileName = fileName;
    spec.PictureType = ptJpg;
    spec.JpegQuality = kSnapshotQuality;
    return spec;
}

}  // namespace media
