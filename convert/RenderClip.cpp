#include "convert/RenderClip.h"

#include "common/DateTime.h"
#include "common/MyCommonParams.h"
#include "media/RenderEngine.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

double TRenderClipHost::Now() { return NowDateTime(); }

QString CopyFallbackNotice(const std::string& why) {
    return QString::fromStdString(why) + QStringLiteral(" The clip is re-encoded to MP4 instead.");
}

int64_t ProgressPercent(int64_t position, int64_t total) {
    if (total <= 0) return 0;
    const int64_t scaled = position * 100;
    return static_cast<int64_t>(std::nearbyint(double(scaled) / double(total)));
}

QString ProgressCaption(int64_t position, int64_t total) {
    return QStringLiteral("Progress: ") + QString::number(ProgressPercent(position, total)) + QStringLiteral("%");
}

QString PleaseWaitCaption(int pollCounter) {
    static const QString dots = QStringLiteral("..............");
    const int n = std::max(0, std::min<int>(pollCounter + 1, static_cast<int>(dots.size())));
    return QStringLiteral("Please wait.") + dots.left(n);
}

namespace {

// Undoes the window state the render changed, on every path.
struct THostRestore {
    TRenderClipHost& Host;
    ~THostRestore() { Host.SetHourglass(false); }
};

}  // namespace

bool RenderClip(TRenderClipHost& host, const QString& sourceFile, const QString& outputFile, uint16_t width,
                uint16_t height, uint16_t audioFormatIndex, double frameRate, int32_t rangeStart, int32_t rangeEnd,
                TClipFormat format) {
    if (frameRate == 0) return false;

    // Frame numbers as 64-bit values: END - START overflows 32 bits for a
    // negative START.
    const int64_t frames = int64_t(rangeEnd) - int64_t(rangeStart);
    const double clipLength = double(frames) / frameRate;
    const TOutputSettings& settings = host.OutputSettings();

    bool result = false;
    QString reason;
    THostRestore restore{host};
    try {
        if (rangeStart < 0 || frames <= 0)
            throw std::runtime_error("The clip's range (frames " + std::to_string(rangeStart) + " to " +
                                     std::to_string(rangeEnd) + ") holds no frame.");
        if (!(frameRate > 0) || !std::isfinite(frameRate))
            throw std::runtime_error("The movie's frame rate (" + std::to_string(frameRate) + ") is not usable.");
        // A copy that can not keep the pictures re-encodes them as an MP4 clip
        // with the MP4 mode's quality, but still with the movie's size (the
        // caller passes 0 x 0) and its sound.
        bool copyFallback = false;
        if (format == TClipFormat::Copy) {
            const media::TCopyPlan plan = media::PlanCopy(sourceFile.toStdString(), rangeStart, rangeEnd);
            if (!plan.CanCopy) {
                host.ShowNotice(CopyFallbackNotice(plan.Why) + QString::fromStdString(plan.FallbackColour));
                format = TClipFormat::Mp4;
                copyFallback = true;
            }
        }
        const bool copy = format == TClipFormat::Copy;
        const bool wmv = format == TClipFormat::Wmv;
        const bool web = format == TClipFormat::Mp4 || format == TClipFormat::WebM;
        media::TTimeline timeline;
        media::TTimelineSource source;
        source.TimelineStart = 0;
        source.TimelineStop = clipLength;
        source.FirstFrame = rangeStart;
        source.EndFrame = rangeEnd;
        source.MediaName = sourceFile.toStdString();

        const int videoGroup = timeline.AddGroup(media::TGroupMediaType::VideoRgb555(width, height));
        timeline.AddSource(videoGroup, timeline.InsertTrack(videoGroup, 0), source);
        const TWebSettings& webSettings = format == TClipFormat::WebM ? settings.WebM : settings.Mp4;
        // A copy keeps the source's sound as it keeps its pictures.
        if (copy || copyFallback || (web ? webSettings.WithAudio : settings.WithAudio)) {
            // MP4 and WebM: the engine takes the source's rate and channels as far as the encoder has them.
            const auto type = copy || web || settings.AudioCompressor
                                  ? media::TGroupMediaType::AudioMajorOnly()
                                  : media::TGroupMediaType::AudioPcm(media::PcmFormatByIndex(audioFormatIndex));
            const int audioGroup = timeline.AddGroup(type);
            timeline.AddSource(audioGroup, timeline.InsertTrack(audioGroup, -1), source);
        }

        media::TOutputSpec spec;
        spec.FileName = outputFile.toStdString();
        switch (format) {
            case TClipFormat::Wmv: spec.Format = media::TOutputFormat::Asf; break;
            case TClipFormat::Avi: spec.Format = media::TOutputFormat::Avi; break;
            case TClipFormat::Mp4: spec.Format = media::TOutputFormat::Mp4; break;
            case TClipFormat::WebM: spec.Format = media::TOutputFormat::WebM; break;
            case TClipFormat::Copy: spec.Format = media::TOutputFormat::Copy; break;
        }
        spec.ProfileGuid = settings.WMVSelected.toStdString();
        if (web) {
            spec.Web.Crf = webSettings.Crf;
            spec.Web.Preset = webSettings.Preset.toStdString();
            spec.Web.AudioKbps = webSettings.AudioKbps;
            // A copy that falls back keeps the source's colours as a copy would.
            spec.Web.KeepSourceColour = copyFallback;
        } else if (!wmv && !copy) {
            spec.VideoCompressor = settings.VideoCompressor;
            spec.AudioCompressor = settings.AudioCompressor;
        }
        std::unique_ptr<media::TRenderGraph> graph = media::TRenderEngine::Build(timeline, spec);
        const uint32_t registration =
            media::TRunningObjectTable::Register(media::TRunningObjectTable::GraphItemName(graph.get()));

        // The clip's length; the engine lowers it when the movie ends first.
        const int64_t clipTotal = graph->GetDuration() > 0 ? graph->GetDuration()
                                                           : static_cast<int64_t>(std::nearbyint(clipLength * 10000000.0));

        long event = media::kEcRunning;
        int pollCounter = 0;
        const double startTime = host.Now();
        graph->Run();
        try {
            while (event == media::kEcRunning) {
                event = graph->WaitForCompletion(100);
                host.ProcessMessages();
                if (host.StopRequested()) {
                    host.SetHourglass(true);
                    break;
                }
                const int64_t position = graph->GetCurrentPosition();
                const int64_t total = std::min(clipTotal, graph->GetDuration() > 0 ? graph->GetDuration() : clipTotal);
                if (total > 0) {
                    host.SetBusyCaption(ProgressCaption(position, total));
                    if (pollCounter > 10) {
                        pollCounter = 0;
                        if (position > 0) {
                            const long double left = (static_cast<long double>(host.Now()) - startTime) / position *
                                                     (total - position);
                            host.SetTimeLeftCaption(QStringLiteral("Finish in ") + TimeLeftText(left));
                            host.SetTimeLeftVisible(true);
                            host.SetBusyVisible(true);
                        }
                        // Once every frame is written the position reaches the clip's end, one past
                        // its last frame: the preview stays on the last frame.
                        if (host.ShowPreviewWhenClipping())
                            host.SetTrackBarPosition(static_cast<int32_t>(std::min<int64_t>(
                                rangeEnd - 1,
                                rangeStart + static_cast<int64_t>(double(frames) * double(position) / double(clipTotal)))));
                    }
                } else {
                    host.SetTimeLeftCaption(PleaseWaitCaption(pollCounter));
                    host.SetTimeLeftVisible(true);
                    host.SetBusyCaption(QString());
                    host.SetBusyVisible(true);
                }
                ++pollCounter;
            }
        } catch (...) {
            graph->Stop();
            throw;
        }
        // Stop and let the engine finish the file on its threads; the window
        // keeps handling events meanwhile.
        graph->Stop();
        while ((event = graph->WaitForCompletion(100)) == media::kEcRunning) host.ProcessMessages();
        host.Pause(3000);
        host.ProcessMessages();
        host.SetBusyVisible(false);
        host.SetTimeLeftVisible(false);
        media::TRunningObjectTable::Revoke(registration);

        // A user stop still counts as rendered; a writing or encoding failure does not.
        if (event == media::kEcErrorAbort) {
            reason = QString::fromStdString(graph->ErrorText());
        } else {
            result = true;
        }
    } catch (const std::exception& e) {
        reason = QString::fromStdString(e.what());
        host.SetBusyVisible(false);
        host.SetTimeLeftVisible(false);
    }
    if (!result) host.ShowFailure(QStringLiteral("Fail to make clip ") + outputFile, reason);
    return result;
}
