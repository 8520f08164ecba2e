#include "media/ClipJob.h"

#include "media/CopyCut.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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
    const std::vector<TFrameRange> ranges =
        FSpec.Ranges.empty() ? std::vector<TFrameRange>{{FSpec.FirstFrame, FSpec.EndFrame}} : FSpec.Ranges;
    for (size_t i = 0; i < ranges.size(); ++i) {
        const int64_t first = ranges[i].First, end = ranges[i].End;
        if (first < 0 || end - first <= 0)
            throw MediaError((ranges.size() > 1 ? "Segment " + std::to_string(i + 1) + " (frames " : "The clip's range (frames ") +
                             std::to_string(first) + " to " + std::to_string(end) + ") holds no frame.");
    }
    const double rate = FSpec.FrameRate;
    if (!(rate > 0) || !std::isfinite(rate))
        throw MediaError("The movie's frame rate (" + std::to_string(rate) + ") is not usable.");

    TOutputSpec output = FSpec.Output;
    TJobPlan plan;
    for (const auto& r : ranges) plan.Frames += r.End - r.First;
    bool fallback = false;
    // A copy is planned once: the plan told and the cuts the engine carries out.
    std::vector<TCutPoints> cuts;
    if (output.Format == TOutputFormat::Copy) {
        plan.Copy = true;
        plan.CanCopy = true;
        plan.Frames = 0;
        for (size_t i = 0; i < ranges.size(); ++i) {
            cuts.push_back(PlanCut(FSpec.Source, ranges[i].First, ranges[i].End, &CancelFlag()));
            // Stopped while planning: no file, and no fallback either.
            if (cuts.back().Cancelled) return {TJobEnd::Stopped, {}, true};
            const TCopyPlan& copy = cuts.back().Plan;
            plan.AudioCopied = copy.AudioCopied && (ranges.size() == 1 || FSpec.Split);
            if (!copy.CanCopy) {
                plan.CanCopy = false;
                plan.Why = ranges.size() > 1 ? "Segment " + std::to_string(i + 1) + ": " + copy.Why : copy.Why;
                plan.FallbackColour = copy.FallbackColour;
                break;
            }
            if (plan.SampleEntryNote.empty()) plan.SampleEntryNote = copy.SampleEntryNote;
            plan.HeadFrames += copy.HeadFrames;
            plan.CopiedFrames += copy.CopiedFrames;
            plan.TailFrames += copy.TailFrames;
            plan.Frames += copy.Frames;
        }
        if (!plan.CanCopy) {
            plan.HeadFrames = plan.CopiedFrames = plan.TailFrames = 0;
            plan.AudioCopied = false;
            plan.SampleEntryNote.clear();
            plan.Frames = 0;
            for (const auto& r : ranges) plan.Frames += r.End - r.First;
            fallback = true;
            output.Format = TOutputFormat::Mp4;
            output.Web = FSpec.Fallback;
            output.Web.KeepSourceColour = true;
        }
    }
    if (CancelFlag()) return {TJobEnd::Stopped, {}, true};

    // One file of all spans joined, or one per span.
    struct TFile {
        std::vector<TFrameRange> Ranges;
        std::vector<const TCutPoints*> Cuts;
        std::string Name;
    };
    std::vector<TFile> files;
    const bool copy = output.Format == TOutputFormat::Copy;
    if (FSpec.Split) {
        for (size_t i = 0; i < ranges.size(); ++i)
            files.push_back({{ranges[i]}, {copy ? &cuts[i] : nullptr}, SplitFileName(output.FileName, i, ranges.size())});
    } else {
        TFile f{ranges, {}, output.FileName};
        for (auto& c : cuts) f.Cuts.push_back(copy ? &c : nullptr);
        files.push_back(std::move(f));
    }

    int64_t doneBefore = 0;   // frames of the files written before
    int64_t framesLeft = plan.Frames;
    bool planned = false;
    for (const TFile& file : files) {
        const int64_t first = file.Ranges.front().First, end = file.Ranges.front().End;
        int64_t frames = 0;
        for (const auto& r : file.Ranges) frames += r.End - r.First;
        // Output frame d shows this source frame.
        auto sourceFrame = [&](int64_t d) {
            for (const auto& r : file.Ranges) {
                if (d < r.End - r.First) return r.First + d;
                d -= r.End - r.First;
            }
            return file.Ranges.back().End - 1;
        };
        const bool web = output.Format == TOutputFormat::Mp4 || output.Format == TOutputFormat::WebM;
        TRenderClip clip;
        clip.Source = FSpec.Source;
        clip.FirstFrame = first;
        clip.EndFrame = end;
        clip.FrameRate = rate;
        clip.Width = copy ? 0 : FSpec.Width;
        clip.Height = copy ? 0 : FSpec.Height;
        clip.Cut = copy ? file.Cuts.front() : nullptr;
        clip.Cancel = &CancelFlag();
        clip.AudioTrack = FSpec.AudioTrack;
        if (file.Ranges.size() > 1) {
            clip.Ranges = file.Ranges;
            if (copy) clip.Cuts = file.Cuts;
        }
        if (copy || fallback || FSpec.WithAudio) {
            clip.Sound = copy || fallback || web || output.AudioCompressor ? TRenderClip::TSound::Encoder
                                                                           : TRenderClip::TSound::Pcm;
            clip.Pcm = PcmFormatByIndex(FSpec.AudioFormatIndex);
        }
        TOutputSpec fileOutput = output;
        fileOutput.FileName = file.Name;
        if (!web) fileOutput.Web = TWebOptions();
        if (fileOutput.Format != TOutputFormat::Avi) {
            fileOutput.VideoCompressor.reset();
            fileOutput.AudioCompressor.reset();
        }

        std::unique_ptr<TRenderGraph> graph = BuildRender(clip, fileOutput);
        if (CancelFlag()) {
            // Stopped while the file was being set up: nothing of the clip is in it yet.
            graph.reset();
            return {TJobEnd::Stopped, {}, doneBefore == 0};
        }
        if (!planned) Planned(plan);
        planned = true;
        framesLeft -= copy ? graph->FramesTotal() : frames;

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
                    Progressed(doneBefore + d, doneBefore + graph->FramesTotal() + framesLeft);
                    Showing(sourceFrame(std::min(d, frames - 1)));
                }
            }
        }
        if (outcome == TGraphEnd::Failed) {
            std::string why = graph->ErrorText();
            if (files.size() > 1) why = "Segment file \"" + file.Name + "\": " + why;
            return {TJobEnd::Failed, why};
        }
        // Written to its end: every frame of the (possibly shortened) clip is done.
        const int64_t d = outcome == TGraphEnd::Done ? graph->FramesTotal() : graph->FramesWritten();
        if (d != lastDone) Progressed(doneBefore + d, doneBefore + graph->FramesTotal() + framesLeft);
        if (outcome == TGraphEnd::Stopped) return {TJobEnd::Stopped, {}};
        doneBefore += d;
        if (CancelFlag()) return {TJobEnd::Stopped, {}};
    }
    return {TJobEnd::Done, {}};
}

}  // namespace

std::string SplitFileName(const std::string& output, size_t index, size_t count) {
    // The number goes before the extension, not into a folder's name.
    const size_t slash = output.find_last_of('/');
    size_t dot = output.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) dot = output.size();
    const int width = count >= 100 ? 3 : 2;
    char number[32];
    std::snprintf(number, sizeof number, "-%0*zu", width, index + 1);
    return output.substr(0, dot) + number + output.substr(dot);
}

std::unique_ptr<TJob> StartClipJob(TClipJobSpec spec, TJobEvents events) {
    auto job = std::make_unique<TClipJob>(std::move(spec), std::move(events));
    job->Start();
    return job;
}

}  // namespace media
