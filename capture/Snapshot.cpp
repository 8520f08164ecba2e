#include "capture/Snapshot.h"

#include "common/MyCommonParams.h"
#include "media/CaptureJob.h"


QString SnapshotPath(const QString& imageFolder) {
    QString folder = imageFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder + TimeStampName() + QStringLiteral(".jpg");
}

TSnapshotResult SnapshotResultOf(const media::TJobEnd& end, const QString& path) {
    TSnapshotResult r;
    if (end.Outcome == media::TJobEnd::Failed) {
        r.Outcome = TSnapshotResult::WriteFailed;
        r.Error = QString::fromStdString(end.Error);
    } else if (end.NotReplaced > 0) {
        r.Outcome = TSnapshotResult::WriteFailed;
        r.Error = QStringLiteral("Can not delete file ") + path;
    } else if (end.FilesWritten > 0) {
        r.Outcome = TSnapshotResult::Saved;
        r.Path = path;
    } else {
        r.Outcome = TSnapshotResult::NoFrame;
    }
    return r;
}

media::TCaptureSpec SnapshotSpecFor(const QString& movie, int width, int height, int64_t frame, const QString& path) {
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return media::SnapshotSpec(movie.toStdString(), frame, width, height, path.left(slash + 1).toStdString(),
                               path.mid(slash + 1).toStdString());
}

TSnapshotResult SaveSnapshotAs(const QString& movie, int width, int height, int64_t frame, const QString& path) {
    media::TJobEnd end;
    media::TJobEvents events;
    events.End = [&](const media::TJobEnd& e) { end = e; };
    const auto job = media::TCaptureJob::Start(SnapshotSpecFor(movie, width, height, frame, path), std::move(events));
    job->Wait();
    return SnapshotResultOf(end, path);
}

TSnapshotResult SaveSnapshot(const QString& movie, int width, int height, int64_t frame, const QString& imageFolder) {
    return SaveSnapshotAs(movie, width, height, frame, SnapshotPath(imageFolder));
}
