#include "capture/CaptureCommands.h"

#include "capture/ImageSettings.h"
#include "capture/ProgressDlg.h"
#include "capture/Snapshot.h"
#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "common/RunAside.h"
#include "source/MovieInfo.h"

namespace {
bool MovieReady(const TMovieInfo* movie) {
    return movie && movie->FrameRate != 0 && movie->MediaDetector;
}

QString WithSlash(QString folder) {
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}
}  // namespace

QString CaptureImages(const TCaptureHost& host) {
    if (!MovieReady(host.Movie) || host.Busy || !host.ImageForm) return {};
    TImageForm& form = *host.ImageForm;
    form.RangeStart = host.RangeStart;
    form.RangeEnd = host.RangeEnd;
    if (Prompts().ExecModal(form) != TModalResult::Ok) return {};
    if (host.LoadPreferences) host.LoadPreferences();

    TProgressInfo info;
    info.FilePrefix = QStringLiteral("B");
    info.Folder = WithSlash(host.ImageFolder ? host.ImageFolder() : QString()) + TimeStampName() + QLatin1Char('/');
    info.JpegQuality = static_cast<uint16_t>(4 * form.JpegQualityStep());
    info.PngQuality = static_cast<uint16_t>(form.PngQualityStep());
    info.MediaDetector = host.Movie->MediaDetector.get();
    info.FrameWidth = static_cast<uint16_t>(host.Movie->FrameWidth);
    info.FrameHeight = static_cast<uint16_t>(host.Movie->FrameHeight);
    info.RangeStart = static_cast<uint32_t>(host.RangeStart);
    info.RangeEnd = static_cast<uint32_t>(host.RangeEnd);
    info.PictureType = form.PictureType();
    info.FrameRate = host.Movie->FrameRate;
    info.SampleCount = static_cast<uint32_t>(form.SampleCount);
    if (host.SavePreferences) host.SavePreferences();

    {
        TProgressForm progress(host.Owner);
        progress.Execute(info);
    }
    ExploreFolder(info.Folder);
    return info.Folder;
}

void CaptureThisFrame(TMovieInfo& movie, int32_t position, bool busy, const QString& imageFolder) {
    if (!MovieReady(&movie) || busy) return;
    // A far frame of a long movie takes a while to decode: the window keeps painting meanwhile.
    media::TMediaDetector& detector = *movie.MediaDetector;
    const TSnapshotResult r = RunAside([&] {
        return SaveSnapshot(detector, movie.FrameWidth, movie.FrameHeight, detector.get_PositionTime(position), imageFolder);
    });
    switch (r.Outcome) {
        case TSnapshotResult::Saved:
            ShowMessage(QStringLiteral("Image was saved as ") + r.Path);
            break;
        case TSnapshotResult::WriteFailed:
            MessageDlg(r.Error, TMsgDlgType::Error, mbOK);
            break;
        case TSnapshotResult::NoFrame:
            break;
    }
}
