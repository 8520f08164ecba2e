#include "convert/RenderClip.h"

#include "common/MyCommonParams.h"

#include <algorithm>
#include <limits>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

QString CopyFallbackNotice(const std::string& why) {
    return QString::fromStdString(why) + QStringLiteral(" The clip is re-encoded to MP4 instead.");
}

int64_t ProgressPercent(int64_t done, int64_t total) {
    if (total <= 0) return 0;
    return static_cast<int64_t>(std::nearbyint(double(done) * 100.0 / double(total)));
}

QString ProgressCaption(int64_t done, int64_t total) {
    return QStringLiteral("Progress: ") + QString::number(ProgressPercent(done, total)) + QStringLiteral("%");
}

QString PleaseWaitCaption(int pollCounter) {
    static const QString dots = QStringLiteral("..............");
    const int n = std::max(0, std::min<int>(pollCounter + 1, static_cast<int>(dots.size())));
    return QStringLiteral("Please wait.") + dots.left(n);
}

media::TClipJobSpec ClipJobSpec(const TOutputSettings& settings, const QString& sourceFile, const QString& outputFile,
                                uint16_t width, uint16_t height, uint16_t audioFormatIndex, int32_t rangeStart,
                                int32_t rangeEnd, TClipFormat format, double frameRate) {
    media::TClipJobSpec spec;
    spec.FrameRate = frameRate;
    spec.Source = sourceFile.toStdString();
    spec.FirstFrame = rangeStart;
    spec.EndFrame = rangeEnd;
    spec.Width = width;
    spec.Height = height;
    spec.AudioFormatIndex = audioFormatIndex;
    spec.Output.FileName = outputFile.toStdString();
    spec.Output.ProfileGuid = settings.WMVSelected.toStdString();
    spec.AudioTrack = settings.AudioTrack;
    const auto webOptions = [](const TWebSettings& web) {
        media::TWebOptions o;
        o.Crf = web.Crf;
        o.Preset = web.Preset.toStdString();
        o.AudioKbps = web.AudioKbps;
        return o;
    };
    switch (format) {
        case TClipFormat::Wmv:
            spec.Output.Format = media::TOutputFormat::Asf;
            spec.WithAudio = settings.WithAudio;
            break;
        case TClipFormat::Avi:
            spec.Output.Format = media::TOutputFormat::Avi;
            spec.Output.VideoCompressor = settings.VideoCompressor;
            spec.Output.AudioCompressor = settings.AudioCompressor;
            spec.WithAudio = settings.WithAudio;
            break;
        case TClipFormat::Mp4:
            spec.Output.Format = media::TOutputFormat::Mp4;
            spec.Output.Web = webOptions(settings.Mp4);
            spec.WithAudio = settings.Mp4.WithAudio;
            break;
        case TClipFormat::WebM:
            spec.Output.Format = media::TOutputFormat::WebM;
            spec.Output.Web = webOptions(settings.WebM);
            spec.WithAudio = settings.WebM.WithAudio;
            break;
        case TClipFormat::Gif:
        case TClipFormat::WebP: {
            const TAnimSettings& a = format == TClipFormat::Gif ? settings.Gif : settings.WebP;
            spec.Output.Format = format == TClipFormat::Gif ? media::TOutputFormat::Gif : media::TOutputFormat::WebP;
            spec.Output.Anim.Fps = a.Fps;
            spec.Output.Anim.Loop = a.Loop;
            spec.Output.Anim.Dither = static_cast<media::TAnimOptions::TDither>(std::clamp(a.Dither, 0, 2));
            spec.Output.Anim.PalettePerScene = a.PalettePerScene;
            spec.Output.Anim.WebPQuality = a.Quality;
            spec.Output.Anim.Width = std::max(0, a.Width);
            spec.Width = spec.Height = 0;
            spec.WithAudio = false;
            break;
        }
        case TClipFormat::Copy:
            // The copy's size is the source's; the MP4 it may fall back to
            // keeps it too.
            spec.Output.Format = media::TOutputFormat::Copy;
            spec.Fallback = webOptions(settings.Mp4);
            spec.WithAudio = true;
            break;
    }
    return spec;
}

TClipJobView::TClipJobView(TRenderClipHost& host, const QString& outputFile, int32_t rangeStart, int32_t rangeEnd)
    : FHost(host), FOutput(outputFile), FRangeStart(rangeStart), FRangeEnd(rangeEnd) {}

TClipJobView::~TClipJobView() { FHost.SetHourglass(false); }

void TClipJobView::Plan(const media::TJobPlan& plan) {
    FPlanned = true;
    if (plan.Copy && !plan.CanCopy)
        FHost.ShowNotice(CopyFallbackNotice(plan.Why) + QString::fromStdString(plan.FallbackColour));
    if (plan.Copy && plan.CanCopy && !plan.SampleEntryNote.empty())
        FHost.ShowNotice(QString::fromStdString(plan.SampleEntryNote));
}

void TClipJobView::Progress(const media::TJobProgress& progress, bool moveTimeLeft) {
    if (FStopping) return;
    if (progress.Total <= 0) {
        FHost.SetBusyCaption(QString());
        return;
    }
    FHost.SetBusyCaption(ProgressCaption(progress.Done, progress.Total));
    if (!moveTimeLeft) return;
    if (progress.Done > 0 && progress.SecondsLeft >= 0) {
        FHost.SetTimeLeftCaption(QStringLiteral("Finish in ") + TimeLeftText(progress.SecondsLeft / 86400.0L));
        FHost.SetTimeLeftVisible(true);
        FHost.SetBusyVisible(true);
    }
    // Once every frame is written the preview stays on the last frame.
    if (FHost.ShowPreviewWhenClipping()) {
        const int64_t frames = int64_t(FRangeEnd) - FRangeStart;
        const int64_t done = progress.Total > 0 ? progress.Done * frames / progress.Total : 0;
        FHost.SetTrackBarPosition(static_cast<int32_t>(std::min<int64_t>(FRangeEnd - 1, FRangeStart + done)));
    }
}

void TClipJobView::Stopping() {
    FStopping = true;
    FHost.SetHourglass(true);
}

bool TClipJobView::Finish(const media::TJobEnd& end) {
    FHost.SetBusyVisible(false);
    FHost.SetTimeLeftVisible(false);
    FHost.SetHourglass(false);
    // A user stop still counts as made, unless it came before the file was;
    // a failure does not.
    if (end.Outcome == media::TJobEnd::Stopped) return !end.NothingWritten;
    if (end.Outcome == media::TJobEnd::Done) return true;
    FHost.ShowFailure(QStringLiteral("Fail to make clip ") + FOutput, QString::fromStdString(end.Error));
    return false;
}

namespace {

// The events of a job, kept until the waiting thread takes them.
class TMailbox {
public:
    media::TJobEvents Events() {
        media::TJobEvents e;
        e.Plan = [this](const media::TJobPlan& p) { Put([&] { FPlans.push_back(p); }); };
        e.Progress = [this](const media::TJobProgress& p) { Put([&] { FProgress = p; }); };
        e.End = [this](const media::TJobEnd& end) { Put([&] { FEnd = end; }); };
        return e;
    }
    // Waits up to `ms` for something new; what came is moved out.
    void Take(int ms, std::deque<media::TJobPlan>& plans, std::optional<media::TJobProgress>& progress,
              std::optional<media::TJobEnd>& end) {
        std::unique_lock lock(FMutex);
        FChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FNew; });
        FNew = false;
        plans = std::move(FPlans);
        FPlans.clear();
        if (FProgress) progress = FProgress;
        FProgress.reset();
        if (FEnd) end = FEnd;
    }

private:
    template <class F>
    void Put(F f) {
        {
            std::lock_guard lock(FMutex);
            f();
            FNew = true;
        }
        FChanged.notify_all();
    }
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FNew = false;
    std::deque<media::TJobPlan> FPlans;
    std::optional<media::TJobProgress> FProgress;
    std::optional<media::TJobEnd> FEnd;
};

}  // namespace

bool RenderClip(TRenderClipHost& host, const QString& sourceFile, const QString& outputFile, uint16_t width,
                uint16_t height, uint16_t audioFormatIndex, double frameRate, int32_t rangeStart, int32_t rangeEnd,
                TClipFormat format) {
    if (frameRate == 0) return false;
    return RenderClip(host, ClipJobSpec(host.OutputSettings(), sourceFile, outputFile, width, height, audioFormatIndex,
                                        rangeStart, rangeEnd, format, frameRate));
}

bool RenderClip(TRenderClipHost& host, media::TClipJobSpec spec) {
    if (spec.FrameRate == 0) return false;
    // The preview follows the job over the frames its segments span.
    int64_t first = spec.FirstFrame, end = spec.EndFrame;
    for (const auto& r : spec.Ranges) {
        first = std::min(first, r.First);
        end = std::max(end, r.End);
    }
    TClipJobView view(host, QString::fromStdString(spec.Output.FileName), static_cast<int32_t>(first),
                      static_cast<int32_t>(std::min<int64_t>(end, std::numeric_limits<int32_t>::max())));
    TMailbox mailbox;
    auto job = media::StartClipJob(std::move(spec), mailbox.Events());
    std::optional<media::TJobProgress> latest;
    int pollCounter = 0;
    bool stopping = false;
    for (;;) {
        std::deque<media::TJobPlan> plans;
        std::optional<media::TJobProgress> progress;
        std::optional<media::TJobEnd> end;
        // The end is taken at once; otherwise a poll lasts 100 ms.
        mailbox.Take(100, plans, progress, end);
        for (const auto& plan : plans) view.Plan(plan);
        if (progress) latest = progress;
        if (end) {
            // The last progress the job told is shown before it ends.
            if (progress && view.Started()) view.Progress(*progress, false);
            job.reset();
            if (view.Started()) {
                host.Pause(kClosingPauseMs);
                host.ProcessMessages();
            }
            return view.Finish(*end);
        }
        // Polls begin once the job is under way (built, its plan told).
        if (!view.Started()) continue;
        host.ProcessMessages();
        if (!stopping && host.StopRequested()) {
            stopping = true;
            view.Stopping();
            job->Cancel();
        }
        if (latest) {
            view.Progress(*latest, pollCounter > 10);
            if (pollCounter > 10) pollCounter = 0;
        }
        ++pollCounter;
    }
}
