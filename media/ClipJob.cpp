#include "media/ClipJob.h"

#include "media/CopyCut.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

namespace media {

namespace {

class TClipJob final : public TJob {
public:
    TClipJob(TClipJobSpec spec, TJobEvents events) : TJob(std::move(events)), FSpec(std::move(spec)) {}
    // Body reads this object's members: it must be over before they go
    // (the base class joins the thread only after they are destroyed).
    ~TClipJob() override {
        Cancel();
        Wait();
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
    const double rate = FSpec.FrameRate;
    if (!(rate > 0) || !std::isfinite(rate))
        throw MediaError("The movie's frame rate (" + std::to_string(rate) + ") is not usable.");

    TOutputSpec output = FSpec.Output;
    TJobPlan plan;
    plan.Frames = frames;
    bool fallback = false;
    // A copy is planned once: the plan told and the cut the engine carries out.
    std::optional<TCutPoints> cut;
    if (output.Format == TOutputFormat::Copy) {
        cut = PlanCut(FSpec.Source, first, end, &CancelFlag());
        // Stopped while planning: no file, and no fallback either.
        if (cut->Cancelled) return {TJobEnd::Stopped, {}, true};
        const TCopyPlan& copy = cut->Plan;
        plan.Copy = true;
        plan.CanCopy = copy.CanCopy;
        plan.Why = copy.Why;
        plan.FallbackColour = copy.FallbackColour;
        plan.HeadFrames = copy.HeadFrames;
        plan.CopiedFrames = copy.CopiedFrames;
        plan.TailFrames = copy.TailFrames;
        plan.AudioCopied = copy.AudioCopied;
        plan.SampleEntryNote = copy.SampleEntryNote;
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
    TRenderClip clip;
    clip.Source = FSpec.Source;
    clip.FirstFrame = first;
    clip.EndFrame = end;
    clip.FrameRate = rate;
    clip.Width = copy ? 0 : FSpec.Width;
    clip.Height = copy ? 0 : FSpec.Height;
    clip.Cut = copy ? &*cut : nullptr;
    clip.Cancel = &CancelFlag();
    clip.AudioTrack = FSpec.AudioTrack;
    if (copy || fallback || FSpec.WithAudio) {
        clip.Sound = copy || fallback || web || output.AudioCompressor ? TRenderClip::TSound::Encoder
                                                                       : TRenderClip::TSound::Pcm;
        clip.Pcm = PcmFormatByIndex(FSpec.AudioFormatIndex);
    }
    if (!web) output.Web = TWebOptions();
    if (output.Format != TOutputFormat::Avi) {
        output.VideoCompressor.reset();
        output.AudioCompressor.reset();
    }

    std::unique_ptr<TRenderGraph> graph = BuildRender(clip, output);
    if (CancelFlag()) {
        // Stopped while the file was being set up: nothing of the clip is in it yet.
        graph.reset();
        return {TJobEnd::Stopped, {}, true};
    }
    Planned(plan);

    graph->Run();
    TGraphEnd outcome = TGraphEnd::Running;
    bool stopSent = false;
    int64_t lastDone = -1;
    auto lastReport = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    while ((outcome = graph->Wait(20)) == TGraphEnd::Running) {
        if (CancelFlag() && !stopSent) {
            graph->Stop();
            stopSent = true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastReport >= std::chrono::milliseconds(100)) {
            lastReport = now;
            const int64_t d = graph->FramesWritten();
            if (d != lastDone) {
                lastDone = d;
                Progressed(d, graph->FramesTotal());
                Showing(first + std::min(d, frames - 1));
            }
        }
    }
    if (outcome == TGraphEnd::Failed) return {TJobEnd::Failed, graph->ErrorText()};
    // Written to its end: every frame of the (possibly shortened) clip is done.
    const int64_t d = outcome == TGraphEnd::Done ? graph->FramesTotal() : graph->FramesWritten();
    if (d != lastDone) Progressed(d, graph->FramesTotal());
    return {outcome == TGraphEnd::Stopped ? TJobEnd::Stopped : TJobEnd::Done, {}};
}

}  // namespace

std::unique_ptr<TJob> StartClipJob(TClipJobSpec spec, TJobEvents events) {
    auto job = std::make_unique<TClipJob>(std::move(spec), std::move(events));
    job->Start();
    return job;
}

}  // namespace media
