#include "capture/CaptureBatch.h"

#include <cmath>
#include <future>

QString MakeFileName(const QString& prefix, uint64_t number, const QString& extension) {
    return QString::fromStdString(media::NumberedFileName(prefix.toStdString(), number, extension.toStdString()));
}

bool CaptureSpecOf(const TProgressInfo& info, media::TCaptureSpec& spec, QString& error) {
    if (info.SourceFile.isEmpty() || !(info.FrameRate > 0)) {
        error = QStringLiteral("No movie is open");
        return false;
    }
    spec = media::TCaptureSpec{};
    spec.Source = info.SourceFile.toStdString();
    spec.First = info.RangeStart;
    spec.End = info.RangeEnd;
    spec.Ranges = info.Ranges;
    spec.Samples = info.SampleCount;
    spec.Width = info.FrameWidth;
    spec.Height = info.FrameHeight;
    spec.Folder = info.Folder.toStdString();
    spec.Prefix = info.FilePrefix.toStdString();
    spec.PictureType = info.PictureType;
    spec.JpegQuality = info.JpegQuality + 4;
    spec.PngStep = info.PngQuality;
    return true;
}

QString TCaptureResult::NothingTakenMessage() const {
    media::TJobEnd end;
    end.Outcome = End == Completed ? media::TJobEnd::Done : End == Stopped ? media::TJobEnd::Stopped : media::TJobEnd::Failed;
    end.FilesWritten = FilesWritten;
    end.NoFrame = FetchFailures;
    end.NoFrameWhy = FetchError.toStdString();
    return QString::fromStdString(media::NothingTakenMessage(end));
}

TCaptureResult CaptureResultOf(const media::TJobEnd& end) {
    TCaptureResult r;
    r.End = end.Outcome == media::TJobEnd::Done      ? TCaptureResult::Completed
            : end.Outcome == media::TJobEnd::Stopped ? TCaptureResult::Stopped
                                                     : TCaptureResult::Failed;
    r.Error = QString::fromStdString(end.Error);
    r.FilesWritten = static_cast<uint32_t>(end.FilesWritten);
    r.FetchFailures = static_cast<uint32_t>(end.NoFrame);
    r.FetchError = QString::fromStdString(end.NoFrameWhy);
    r.NotReplaced = static_cast<uint32_t>(end.NotReplaced);
    return r;
}

TCaptureResult CaptureFrames(const TProgressInfo& info, const TCaptureEvents& events) {
    media::TCaptureSpec spec;
    QString error;
    if (!CaptureSpecOf(info, spec, error)) {
        TCaptureResult r;
        r.End = TCaptureResult::Failed;
        r.Error = error;
        return r;
    }
    // The events run on the job's thread; one that stops the batch cancels the
    // job, which it may only reach once Start has handed it over.
    std::promise<media::TCaptureJob*> made;
    const std::shared_future<media::TCaptureJob*> job = made.get_future().share();
    const auto pump = [&] {
        if (events.PumpAndCheckStop && events.PumpAndCheckStop()) job.get()->Cancel();
    };
    media::TJobEnd end;
    media::TJobEvents ev;
    ev.Plan = [&](const media::TJobPlan&) { pump(); };
    ev.Progress = [&](const media::TJobProgress& p) {
        if (events.SampleDone) events.SampleDone(static_cast<uint32_t>(p.Done - 1));
        if (p.Done < p.Total) pump();  // before the next sample
    };
    ev.Notice = [&](const media::TJobNotice& n) {
        const QString text = QString::fromStdString(n.Text);
        if (n.Kind == media::TJobNotice::Writing) {
            if (events.FileNameChosen) events.FileNameChosen(text);
        } else if (events.ShowMessage) {
            events.ShowMessage(text);
        }
    };
    ev.End = [&](const media::TJobEnd& e) { end = e; };
    const std::unique_ptr<media::TCaptureJob> running = media::TCaptureJob::Start(std::move(spec), std::move(ev));
    made.set_value(running.get());
    running->Wait();
    return CaptureResultOf(end);
}

int64_t ProposedSampleCount(int position, int maximum, int64_t rangeLength) {
    const int64_t L = rangeLength;
    int64_t span = L;
    if (L > 100) span = 500;
    if (position > (3 * maximum) / 4) span = L;
    const long double pi = 3.141592653589793238462643383279502884L;
    // nearbyint rounds to nearest, ties to even, in the default rounding mode.
    int64_t n = static_cast<int64_t>(
        std::nearbyintl(std::sin(position * pi / (2.0L * maximum)) * static_cast<long double>(span)));
    if (position == maximum) n = L;
    if (position <= 1) n = 3;
    if (n > L) n = L;
    return n;
}
