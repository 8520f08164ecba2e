#include "capture/CaptureCommands.h"

#include "capture/ImageSettings.h"
#include "capture/ProgressDlg.h"
#include "capture/Snapshot.h"
#include "common/JobSignals.h"
#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "source/MovieInfo.h"

#include <QCoreApplication>

namespace {
bool MovieReady(const TMovieInfo* movie) {
    return movie && movie->FrameRate != 0 && !movie->FileName.isEmpty();
}

// One snapshot under way: its job, and the outcome shown when the job's end
// arrives. A child of the application, so that one still running when the
// program ends is stopped and waited for.
class TSnapshotRun : public QObject {
public:
    TSnapshotRun(media::TCaptureSpec spec, QString path)
        : QObject(QCoreApplication::instance()), Path(std::move(path)), Signals(new TJobSignals(this)) {
        connect(Signals, &TJobSignals::ended, this, [this](const media::TJobEnd& end) { Ended(end); },
                Qt::QueuedConnection);
        Job = media::TCaptureJob::Start(std::move(spec), Signals->Events());
    }
    ~TSnapshotRun() override { Job.reset(); }  // before Signals goes with the children

private:
    void Ended(const media::TJobEnd& end) {
        const TSnapshotResult r = SnapshotResultOf(end, Path);
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
        deleteLater();
    }

    const QString Path;
    TJobSignals* Signals;
    std::unique_ptr<media::TCaptureJob> Job;
};

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
    info.SourceFile = host.Movie->FileName;
    info.FrameWidth = static_cast<uint16_t>(host.Movie->FrameWidth);
    info.FrameHeight = static_cast<uint16_t>(host.Movie->FrameHeight);
    info.RangeStart = static_cast<uint32_t>(host.RangeStart);
    info.RangeEnd = static_cast<uint32_t>(host.RangeEnd);
    info.Ranges = host.Ranges;
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

QObject* CaptureThisFrame(TMovieInfo& movie, int32_t position, bool busy, const QString& imageFolder) {
    if (!MovieReady(&movie) || busy) return nullptr;
    const QString path = SnapshotPath(imageFolder);
    return new TSnapshotRun(SnapshotSpecFor(movie.FileName, movie.FrameWidth, movie.FrameHeight, position, path), path);
}
