#include "media/Job.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <exception>

namespace media {

double TTimeLeft::Update(int64_t done, int64_t total, double elapsed) {
    if (done <= 0 || elapsed <= 0) return -1;
    const double overall = double(done) / elapsed;
    // The latest stretch's rate, once it is long enough to mean something.
    const double stretch = elapsed - FLastElapsed;
    if (FRate <= 0) {
        FRate = overall;
    } else if (stretch >= 0.5 && done > FLastDone) {
        const double latest = double(done - FLastDone) / stretch;
        // Eased: a quarter of the way to the latest rate, never far from the overall one.
        FRate = std::clamp(FRate + (latest - FRate) * 0.25, overall / 4, overall * 4);
    } else {
        return std::max(0.0, double(total - done) / FRate);
    }
    FLastDone = done;
    FLastElapsed = elapsed;
    return std::max(0.0, double(total - done) / FRate);
}

void LowerThreadPriority() {
    // Linux keeps a nice value per thread; setpriority on the thread's id
    // changes only this thread (and those it starts afterwards).
    const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    const int current = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), std::min(19, std::max(current, 0) + 5));
}

TJob::TJob(TJobEvents events) : FEvents(std::move(events)) {}

TJob::~TJob() {
    Cancel();
    if (FThread.joinable()) FThread.join();
}

void TJob::Start() {
    FStarted = std::chrono::steady_clock::now();
    FThread = std::thread([this] { Run(); });
}

void TJob::Cancel() {
    if (FCancel.exchange(true)) return;
    OnCancel();
}

void TJob::Wait() {
    std::unique_lock lock(FMutex);
    FEnded.wait(lock, [this] { return FEnd; });
}

bool TJob::Ended() const {
    std::lock_guard lock(FMutex);
    return FEnd;
}

void TJob::Planned(const TJobPlan& plan) {
    if (FEvents.Plan) FEvents.Plan(plan);
}

void TJob::Progressed(int64_t done, int64_t total) {
    TJobProgress p;
    p.Done = done;
    p.Total = total;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStarted).count();
    p.SecondsLeft = FTimeLeft.Update(done, total, elapsed);
    if (FEvents.Progress) FEvents.Progress(p);
}

void TJob::Showing(int64_t frame) {
    if (FEvents.Picture) FEvents.Picture(frame);
}

void TJob::Noticed(TJobNotice::TKind kind, const std::string& text) {
    if (!FEvents.Notice) return;
    TJobNotice n;
    n.Kind = kind;
    n.Text = text;
    FEvents.Notice(n);
}

void TJob::Run() {
    LowerThreadPriority();
    TJobEnd end;
    try {
        end = Body();
    } catch (const std::exception& e) {
        end.Outcome = TJobEnd::Failed;
        end.Error = e.what();
    } catch (...) {
        end.Outcome = TJobEnd::Failed;
        end.Error = "The job failed.";
    }
    if (FEvents.End) FEvents.End(end);
    {
        std::lock_guard lock(FMutex);
        FEnd = true;
    }
    FEnded.notify_all();
}

}  // namespace media
