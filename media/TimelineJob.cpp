#include "media/TimelineJob.h"

#include <algorithm>
#include <cstdlib>

namespace media {

namespace {
constexpr int64_t kMaxExactSpan = 400;   // frames in view for exact thumbnails
constexpr std::size_t kMaxExact = 600;   // exact thumbnails kept
}  // namespace

std::unique_ptr<TTimelineJob> TTimelineJob::Start(TTimelineSpec spec, TJobEvents events) {
    std::unique_ptr<TTimelineJob> job(new TTimelineJob(std::move(spec), std::move(events)));
    job->TJob::Start();
    return job;
}

TTimelineJob::TTimelineJob(TTimelineSpec spec, TJobEvents events) : TJob(std::move(events)), FSpec(std::move(spec)) {}

TTimelineJob::~TTimelineJob() {
    // The body uses the members: it ends before they go.
    Cancel();
    Wait();
}

void TTimelineJob::OnCancel() {
    std::lock_guard lock(FMutex);
    FWake.notify_all();
}

void TTimelineJob::Focus(int64_t from, int64_t to, bool exact) {
    std::lock_guard lock(FMutex);
    FFocusFrom = std::min(from, to);
    FFocusTo = std::max(from, to);
    FExactFocus = exact && FFocusTo - FFocusFrom <= kMaxExactSpan;
    FFocusChanged = true;
    FWake.notify_all();
}

TTimelineJob::TInfo TTimelineJob::Info() const {
    std::lock_guard lock(FMutex);
    TInfo info = FInfo;
    info.WaveBuckets = FWave.Peak.size();
    info.PacketsRead += FWavePackets;
    return info;
}

bool TTimelineJob::Thumb(int64_t frame, TRgbPicture& out) const {
    std::lock_guard lock(FMutex);
    auto it = FThumbs.find(frame);
    if (it == FThumbs.end()) return false;
    out = it->second;
    return true;
}

bool TTimelineJob::ExactThumb(int64_t frame, TRgbPicture& out) const {
    std::lock_guard lock(FMutex);
    auto it = FExact.find(frame);
    if (it == FExact.end()) return false;
    out = it->second;
    return true;
}

void TTimelineJob::WaveSince(std::size_t from, TWaveform& into) const {
    std::lock_guard lock(FMutex);
    into.BucketSeconds = FWave.BucketSeconds;
    if (from >= FWave.Peak.size()) return;
    into.Peak.insert(into.Peak.end(), FWave.Peak.begin() + std::ptrdiff_t(from), FWave.Peak.end());
    into.Rms.insert(into.Rms.end(), FWave.Rms.begin() + std::ptrdiff_t(from), FWave.Rms.end());
}

bool TTimelineJob::WaitComplete(std::chrono::milliseconds limit) const {
    std::unique_lock lock(FMutex);
    return FWake.wait_for(lock, limit, [this] { return FInfo.Complete || Ended() || Cancelled(); }) && FInfo.Complete;
}

bool TTimelineJob::LoadFromCache(const TFileIdentity& id) {
    if (FSpec.CacheFolder.empty()) return false;
    std::optional<TTimelineData> data = TTimelineCache(FSpec.CacheFolder, FSpec.CacheLimit).Load(id);
    if (!data) return false;
    // A cache made with the filmstrip or the waveform off lacks them: build again when they are wanted now.
    if (FSpec.Thumbs && data->Thumbs.empty() && !data->KeyFrames.empty()) return false;
    if (FSpec.Wave && data->HasSound && data->Wave.Empty()) return false;
    std::lock_guard lock(FMutex);
    FInfo.Known = true;
    FInfo.FrameCount = data->FrameCount;
    FInfo.ThumbWidth = data->ThumbWidth;
    FInfo.ThumbHeight = data->ThumbHeight;
    FInfo.KeyFrames = std::move(data->KeyFrames);
    for (const auto& [frame, picture] : data->Thumbs) FInfo.ThumbFrames.push_back(frame);
    FThumbs = std::move(data->Thumbs);
    FInfo.HasSound = data->HasSound;
    FWave = std::move(data->Wave);
    FInfo.WaveBucketSeconds = FWave.BucketSeconds;
    FWaveDone = true;
    FInfo.FromCache = true;
    FInfo.Complete = true;
    return true;
}

// The next key frame to make a thumbnail of: in view first (nearest the
// middle of the view), then outwards.
bool TTimelineJob::NextKeyThumb(const std::vector<int64_t>& todo, int64_t* frame) {
    std::lock_guard lock(FMutex);
    const int64_t mid = (FFocusFrom + FFocusTo) / 2;
    int64_t best = -1, bestDistance = 0;
    for (const int64_t f : todo) {
        if (FThumbs.count(f)) continue;
        const bool inView = f >= FFocusFrom && f <= FFocusTo;
        // Frames in view come before any outside it; among each, the nearest first.
        const int64_t distance = (inView ? 0 : int64_t(1) << 40) + std::llabs(f - mid);
        if (best < 0 || distance < bestDistance) best = f, bestDistance = distance;
    }
    if (best < 0) return false;
    *frame = best;
    return true;
}

// The next frame in view without its exact thumbnail, while the view is at its closest zoom.
bool TTimelineJob::NextExact(int64_t* frame) {
    std::lock_guard lock(FMutex);
    FFocusChanged = false;
    if (!FExactFocus) return false;
    const int64_t last = std::min(FFocusTo, FInfo.FrameCount - 1);
    for (int64_t f = std::max<int64_t>(0, FFocusFrom); f <= last; ++f)
        if (!FExact.count(f)) {
            *frame = f;
            return true;
        }
    return false;
}

void TTimelineJob::KeepExact(int64_t frame, TRgbPicture picture) {
    std::lock_guard lock(FMutex);
    FExact[frame] = std::move(picture);
    // The exact thumbnails nearest the view stay.
    while (FExact.size() > kMaxExact) {
        const int64_t mid = (FFocusFrom + FFocusTo) / 2;
        auto far = std::abs(FExact.begin()->first - mid) > std::abs(FExact.rbegin()->first - mid)
                       ? FExact.begin()
                       : std::prev(FExact.end());
        FExact.erase(far);
    }
}

TJobEnd TTimelineJob::Stopped() const {
    TJobEnd end;
    end.Outcome = TJobEnd::Stopped;
    end.NothingWritten = true;
    return end;
}

TJobEnd TTimelineJob::Body() {
    const std::atomic<bool>& cancel = CancelFlag();
    const std::optional<TFileIdentity> id = IdentifyFile(FSpec.Path);
    std::vector<int64_t> todo;
    if (!(id && LoadFromCache(*id))) {
        if (!FReader.Open(FSpec.Path)) {
            TJobEnd end;
            end.Outcome = TJobEnd::Failed;
            end.Error = FReader.LastError().empty() ? "The movie can not be read." : FReader.LastError();
            return end;
        }
        FReaderOpen = true;
        const TMovieFacts facts = FReader.Facts();
        // The waveform is decoded beside the pictures, on a thread of its own.
        if (FSpec.Wave) {
            FWaveThread = std::thread([this, &cancel] {
                LowerThreadPriority();
                TWaveform wave;
                const TWaveformResult r = ReadWaveform(
                    FSpec.Path, wave,
                    [&](std::size_t count) {
                        std::lock_guard lock(FMutex);
                        if (count > FWave.Peak.size()) {
                            FWave.Peak.insert(FWave.Peak.end(), wave.Peak.begin() + std::ptrdiff_t(FWave.Peak.size()),
                                              wave.Peak.begin() + std::ptrdiff_t(count));
                            FWave.Rms.insert(FWave.Rms.end(), wave.Rms.begin() + std::ptrdiff_t(FWave.Rms.size()),
                                             wave.Rms.begin() + std::ptrdiff_t(count));
                        }
                        FInfo.HasSound = true;
                        FWaveGrew = true;
                        FWake.notify_all();
                    },
                    &cancel);
                std::lock_guard lock(FMutex);
                FInfo.HasSound = r.HasSound && r.Error.empty();
                if (r.HasSound && r.Error.empty() && !r.Cancelled) FWave = std::move(wave);
                FWavePackets = r.PacketsRead;
                FWaveDone = true;
                FWaveGrew = true;
                FWake.notify_all();
            });
        } else {
            std::lock_guard lock(FMutex);
            FWaveDone = true;
        }
        struct TJoin {
            std::thread& T;
            ~TJoin() {
                if (T.joinable()) T.join();
            }
        } join{FWaveThread};

        TMovieReader::TKeyFrames keys;
        if (facts.VideoStream >= 0) keys = FReader.KeyFrames(&cancel);
        if (cancel) return Stopped();
        {
            std::lock_guard lock(FMutex);
            FInfo.Known = true;
            FInfo.FrameCount = facts.FrameCount;
            FInfo.ThumbHeight = kThumbHeight;
            FInfo.ThumbWidth = ThumbWidth(facts.MediaType.Width, facts.MediaType.Height);
            FInfo.KeyFrames = keys.Frames;
            FInfo.PacketsRead = keys.PacketsRead;
            if (FSpec.Thumbs) FInfo.ThumbFrames = ThumbFrames(keys.Frames);
            todo = FInfo.ThumbFrames;
            if (FFocusTo <= FFocusFrom) FFocusTo = facts.FrameCount;  // no view told yet: the whole movie
        }
        TJobPlan plan;
        plan.Frames = int64_t(todo.size());
        Planned(plan);

        // Thumbnails, in view first; exact ones while the view is at its closest zoom.
        int64_t done = 0;
        for (;;) {
            if (cancel) return Stopped();
            {
                std::unique_lock lock(FMutex);
                if (FWaveGrew) {
                    FWaveGrew = false;
                    lock.unlock();
                    Progressed(done, int64_t(todo.size()));
                }
            }
            int64_t frame = 0;
            TRgbPicture picture;
            if (NextExact(&frame)) {
                if (!FReader.FrameAt(frame, FInfo.ThumbWidth, FInfo.ThumbHeight, picture)) picture = {};
                KeepExact(frame, std::move(picture));
            } else if (NextKeyThumb(todo, &frame)) {
                if (!FReader.KeyPictureAt(frame, FInfo.ThumbWidth, FInfo.ThumbHeight, picture)) picture = {};
                std::lock_guard lock(FMutex);
                FThumbs[frame] = std::move(picture);
                ++done;
            } else {
                std::unique_lock lock(FMutex);
                if (FWaveDone) break;
                FWake.wait_for(lock, std::chrono::milliseconds(100));
                continue;
            }
            Showing(frame);
            Progressed(done, int64_t(todo.size()));
        }
        if (join.T.joinable()) join.T.join();
        if (cancel) return Stopped();
        const TMovieReader::TStats stats = FReader.Stats();
        TTimelineData data;
        {
            std::lock_guard lock(FMutex);
            FInfo.FramesDecoded = stats.FramesDecoded;
            data.FrameCount = FInfo.FrameCount;
            data.KeyFrames = FInfo.KeyFrames;
            data.ThumbWidth = FInfo.ThumbWidth;
            data.ThumbHeight = FInfo.ThumbHeight;
            data.HasSound = FInfo.HasSound;
        }
        // Nothing writes the thumbnails or the waveform any more (the waveform's
        // thread has ended): they are copied without holding up the window's getters.
        if (!FSpec.CacheFolder.empty() && id) {
            data.Thumbs = FThumbs;
            data.Wave = FWave;
        }
        if (!FSpec.CacheFolder.empty() && id) {
            try {
                TTimelineCache(FSpec.CacheFolder, FSpec.CacheLimit).Store(*id, data);
            } catch (const std::exception& e) {
                Noticed(TJobNotice::Message, e.what());  // the timeline stays; it is only not kept
            }
        }
        // Complete once kept: a movie opened again from now on comes from the cache.
        {
            std::lock_guard lock(FMutex);
            FInfo.Complete = true;
        }
        FWake.notify_all();
    } else {
        TJobPlan plan;
        plan.Frames = int64_t(Info().ThumbFrames.size());
        Planned(plan);
        FWake.notify_all();
    }
    const int64_t total = int64_t(Info().ThumbFrames.size());
    Progressed(total, total);

    // Complete: exact thumbnails on request until cancelled.
    for (;;) {
        {
            std::unique_lock lock(FMutex);
            FWake.wait(lock, [&] { return cancel.load() || FFocusChanged; });
        }
        if (cancel) return Stopped();
        int64_t frame = 0;
        while (!cancel && NextExact(&frame)) {
            if (!FReaderOpen) FReaderOpen = FReader.Open(FSpec.Path);
            TRgbPicture picture;
            if (!FReaderOpen || !FReader.FrameAt(frame, FInfo.ThumbWidth, FInfo.ThumbHeight, picture)) picture = {};
            KeepExact(frame, std::move(picture));
            Showing(frame);
        }
    }
}

}  // namespace media
