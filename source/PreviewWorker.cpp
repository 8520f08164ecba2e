#include "source/PreviewWorker.h"

#include "media/Job.h"

#include <chrono>

namespace {
constexpr std::size_t kCacheEntries = 48;  // a few MB at preview sizes
}

TPreviewWorker::TPreviewWorker(TDeliver deliver) : FDeliver(std::move(deliver)), FThread([this] { Run(); }) {}

TPreviewWorker::~TPreviewWorker() {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FQuit = true;
        FCancel = true;
    }
    FWake.notify_all();
    FThread.join();
}

void TPreviewWorker::Open(const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FOpenPending = path;
        FPending.reset();
        FCancel = true;
    }
    FWake.notify_all();
}

uint64_t TPreviewWorker::Request(int position, int width, int height) {
    uint64_t id;
    {
        std::lock_guard<std::mutex> lock(FMutex);
        id = ++FNextId;
        FPending = TJob{id, position, width, height};
        FCancel = true;
    }
    FWake.notify_all();
    return id;
}

void TPreviewWorker::Cancel() {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FPending.reset();
        FCancel = true;
    }
    FWake.notify_all();
}

media::TMovieReader::TStats TPreviewWorker::Stats() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FStats;
}

void TPreviewWorker::Run() {
    // Below the window's priority, as every job: the window keeps its share.
    media::LowerThreadPriority();
    for (;;) {
        TJob job;
        std::optional<std::string> open;
        {
            std::unique_lock<std::mutex> lock(FMutex);
            FWake.wait(lock, [this] { return FQuit || FPending || FOpenPending; });
            if (FQuit) return;
            open.swap(FOpenPending);
            if (FPending) job = *FPending;
            FPending.reset();
            FCancel = false;
        }
        if (open) {
            FCache.clear();
            FReader.Open(*open, false);  // the window has measured the movie already
        }
        if (job.Id != 0) Serve(job);
    }
}

void TPreviewWorker::PublishStats() {
    const media::TMovieReader::TStats stats = FReader.Stats();
    std::lock_guard<std::mutex> lock(FMutex);
    FStats = stats;
}

const media::TRgbPicture* TPreviewWorker::Cached(const TJob& job) const {
    for (const TCacheEntry& e : FCache)
        if (e.Position == job.Position && e.Picture.Width == job.Width && e.Picture.Height == job.Height)
            return &e.Picture;
    return nullptr;
}

void TPreviewWorker::Remember(const TJob& job, const media::TRgbPicture& picture) {
    for (auto it = FCache.begin(); it != FCache.end(); ++it)
        if (it->Position == job.Position && it->Picture.Width == job.Width && it->Picture.Height == job.Height) {
            FCache.erase(it);
            break;
        }
    FCache.push_front(TCacheEntry{job.Position, picture});
    if (FCache.size() > kCacheEntries) FCache.pop_back();
}

void TPreviewWorker::Serve(const TJob& job) {
    if (const media::TRgbPicture* hit = Cached(job)) {
        // The same frame at the same size: decoded before, shown again at once.
        PublishStats();
        FDeliver(TResult{job.Id, job.Position, true, *hit, {}});
        return;
    }
    media::TMovieReader::TPictureRequest request;
    request.Frame = std::max(0, job.Position);
    request.Width = job.Width;
    request.Height = job.Height;
    request.Cancel = &FCancel;
    request.StandIn = [&](const media::TRgbPicture& picture) {
        FDeliver(TResult{job.Id, job.Position, false, picture, {}});
    };
    request.StandInEvery = std::chrono::milliseconds(120);
    TResult result{job.Id, job.Position, true, {}, {}};
    if (FReader.PictureAt(request, result.Picture)) {
        Remember(job, result.Picture);
    } else {
        if (FReader.Cancelled()) return;  // a newer request is waiting
        result.Picture = {};
        result.Error = FReader.LastError();
    }
    PublishStats();
    FDeliver(std::move(result));
}
