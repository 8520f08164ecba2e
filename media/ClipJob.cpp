#include "media/ClipJob.h"

#include "media/InputFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace media {

namespace {

// Frames per second of the movie's video stream, by the frame clock's rule; 0
// when it has none or none usable.
double SourceFrameRate(const std::string& path) {
    TInputFile in = TInputFile::Open(path);
    const int v = in.FirstVideoStream();
    if (v < 0) return 0;
    const AVRational rate = StreamFrameRate(in.Format->streams[v]);
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
}

class TClipJob final : public TJob {
public:
    TClipJob(TClipJobSpec spec, TJobEvents events) : TJob(std::move(events)), FSpec(std::move(spec)) {}
    ~TClipJob() override {
        Cancel();
        // The graph's own threads end before the job's thread is joined.
    }

    using TJob::Start;

private:
    TJobEnd Body() override;

    TClipJobSpec FSpec;
};

TJobEnd TClipJob::Body() {
    const int64_t first = FSpec.FirstFrame, end = FSpec.EndFrame;
    const int64_t frames = end - first;
    if (first < 0 || frames <= 0)
        throw MediaError("The clip's range (frames " + std::to_string(first) + " to " + std::to_string(end) +
                         ") holds no frame.");
    const double rate = FSpec.FrameRate != 0 ? FSpec.FrameRate : SourceFrameRate(FSpec.Source);
    if (!(rate > 0) || !std::isfinite(rate))
        throw MediaError("The movie's frame rate (" + std::to_string(rate) + ") is not usable.");

    TOutputSpec output = FSpec.Output;
    TJobPlan plan;
    plan.Frames = frames;
    bool fallback = false;
    if (output.Format == TOutputFormat::Copy) {
        const TCopyPlan copy = PlanCopy(FSpec.Source, first, end);
        plan.Copy = true;
        plan.CanCopy = copy.CanCopy;
        plan.Why = copy.Why;
        plan.FallbackColour = copy.FallbackColour;
        plan.HeadFrames = copy.HeadFrames;
        plan.CopiedFrames = copy.CopiedFrames;
        plan.TailFrames = copy.TailFrames;
        plan.AudioCopied = copy.AudioCopied;
        if (copy.CanCopy) {
            plan.Frames = copy.Frames;
        } else {
            fallback = true;
            output.Format = TOutputFormat::Mp4;
            output.Web = FSpec.Fallback;
            output.Web.KeepSourceColour = true;
        }
    }
    if (CancelFlag()) return {TJobEnd::Stopped, {}, true};

    const bool copy = output.Format == TOutputFormat::Copy;
    const bool web = output.Format == TOutputFormat::Mp4 || output.Format == TOutputFormat::WebM;
    TTimeline timeline;
    TTimelineSource source;
    source.TimelineStart = 0;
    source.TimelineStop = double(frames) / rate;
    source.FirstFrame = first;
    source.EndFrame = end;
    source.MediaName = FSpec.Source;
    const int videoGroup = timeline.AddGroup(TGroupMediaType::VideoRgb555(copy ? 0 : FSpec.Width, copy ? 0 : FSpec.Height));
    timeline.AddSource(videoGroup, timeline.InsertTrack(videoGroup, 0), source);
    if (copy || fallback || FSpec.WithAudio) {
        const auto type = copy || fallback || web || output.AudioCompressor
                              ? TGroupMediaType::AudioMajorOnly()
                              : TGroupMediaType::AudioPcm(PcmFormatByIndex(FSpec.AudioFormatIndex));
        const int audioGroup = timeline.AddGroup(type);
        timeline.AddSource(audioGroup, timeline.InsertTrack(audioGroup, -1), source);
    }
    if (!web) output.Web = TWebOptions();
    if (output.Format != TOutputFormat::Avi) {
        output.VideoCompressor.reset();
        output.AudioCompressor.reset();
    }

    std::unique_ptr<TRenderGraph> graph = TRenderEngine::Build(timeline, output);
    if (CancelFlag()) {
        // Stopped while the file was being set up: nothing of the clip is in it yet.
        graph.reset();
        return {TJobEnd::Stopped, {}, true};
    }
    Planned(plan);

    // Frames written from the graph's position; its duration is lowered when
    // the movie ends before the clip.
    const int64_t clipTotal = graph->GetDuration();
    auto total = [&] {
        const int64_t d = graph->GetDuration();
        if (clipTotal <= 0 || d <= 0) return plan.Frames;
        return std::max<int64_t>(1, std::min<int64_t>(plan.Frames, std::llround(double(plan.Frames) * double(d) / double(clipTotal))));
    };
    auto done = [&] {
        const int64_t d = graph->GetDuration();
        if (d <= 0) return int64_t(0);
        return std::min(total(), static_cast<int64_t>(double(plan.Frames) * double(graph->GetCurrentPosition()) / double(clipTotal)));
    };

    graph->Run();
    long event = kEcRunning;
    bool stopSent = false;
    int64_t lastDone = -1;
    auto lastReport = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    while ((event = graph->WaitForCompletion(20)) == kEcRunning) {
        if (CancelFlag() && !stopSent) {
            graph->Stop();
            stopSent = true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastReport >= std::chrono::milliseconds(100)) {
            lastReport = now;
            const int64_t d = done();
            if (d != lastDone) {
                lastDone = d;
                Progressed(d, total());
                Showing(first + std::min(d, frames - 1));
            }
        }
    }
    if (event == kEcErrorAbort) return {TJobEnd::Failed, graph->ErrorText()};
    // Written to its end: every frame of the (possibly shortened) clip is done.
    const int64_t d = event == kEcComplete ? total() : done();
    if (d != lastDone) Progressed(d, total());
    return {event == kEcUserAbort ? TJobEnd::Stopped : TJobEnd::Done, {}};
}

}  // namespace

std::unique_ptr<TJob> StartClipJob(TClipJobSpec spec, TJobEvents events) {
    auto job = std::make_unique<TClipJob>(std::move(spec), std::move(events));
    job->Start();
    return job;
}

}  // namespace media
