// Job responsiveness benchmark: the real main window, offscreen, runs a job in
// every Start mode (cbMode 0 default WMV, 1 WMV with the profile page, 2 AVI,
// 3 image captures, 4 MP4, 5 WebM, 6 same as source) on a short clip of a
// generated movie, and the same-as-source copy of a whole two-hour movie, as a
// user would: the movie opened, the range set on the track bar, Start pressed,
// every question answered through the prompts seam (the save dialog with a
// file of the bench's own, the settings dialogs with OK and their shown
// choices, 100 JPEG images for the captures, "Play the result?" with No).
//
// Each row runs three jobs: one to its end on a quiet machine, one to its end
// beside two busy processes (`sh -c 'while :; do :; done'`, started and killed
// by the bench), and one stopped part-way on the quiet machine (40 % into the
// quiet job's time to its file, or once the window shows 30 % progress if
// that comes first). Questions are answered at once, but each keeps the
// window's event loop turning for a moment as a dialog on the screen would.
// Measured:
//   - max stall: the longest gap between two beats of a 1 ms precise timer on
//     the window's thread, from the press of Start to the job's end (dialogs,
//     planning, render, finishing, the closing pause): how long the window
//     could not paint or take input. The gap that spans the press itself
//     counts, so work done inside the click handler is seen.
//   - Start->file: the press of Start to the moment the output file exists
//     under its final name (the renderer writes under a temporary name and
//     renames when the file is finished); image captures: to the job's end.
//   - Start->idle: to the job's end, which is when the window is idle again:
//     JobState() Idle, sbExecute says "Start" and is enabled with the other
//     commands, the busy animation off, no modal dialog. It is polled from the
//     timer's beat, so it holds whether Start runs the job inside its click
//     handler or starts it and returns at once.
//   - Stop->file: the press of Stop (the window's button, or the "Writing
//     images" dialog's Stop for captures) to the stopped job's file under its
//     final name; image captures: to the job's end. This leaves out the
//     closing pause the window shows after every render, which is printed as
//     "closing" (file -> idle) and is Stop->idle minus Stop->file.
// Targets (printed, not asserted): max stall <= 50 ms in every mode and under
// load, Stop->file <= 300 ms.
//
//   bench_jobs SHORT_MOVIE [LONG_MOVIE]
//   FW_JOBS_ROWS="0 7": only those rows of kRows (counted from 0).
// run.sh makes both movies (cached): run it as
//   FW_BENCH_ONLY=jobs bash bench/run.sh BUILD_DIR
// The details under the table give, per run, the longest stall with when it
// began and ended and the job's last step before it (save dialog, settings
// dialog, Stop...), and the job's steps with their times. The window gets settings, data and
// runtime folders of its own in a temporary folder (XDG_CONFIG_HOME,
// XDG_DATA_HOME, XDG_RUNTIME_DIR) and QT_QPA_PLATFORM=offscreen; every file
// it writes goes there and is removed after its run.
#include "app/Main.h"
#include "app/TrackBar.h"
#include "capture/ImageSettings.h"
#include "media/ImageFiles.h"
#include "capture/ProgressDlg.h"
#include "common/Prompts.h"
#include "convert/VideoSettings.h"
#include "platform/DesktopOpener.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBeatMs = 1;               // the stall meter's timer
constexpr double kStallTarget = 0.050;   // seconds, every mode, quiet and loaded
constexpr double kStopTarget = 0.300;    // seconds, Stop to the finished file
constexpr double kJobTimeoutS = 1800;    // a job that has not ended by then is a failed run
constexpr int kCaptureImages = 100;
constexpr int kBusyProcesses = 2;
constexpr double kStopAtWork = 0.4;      // Stop this far into the quiet run's time to its file,
constexpr int kStopAtProgress = 30;      // or once the window shows this much progress (%), if sooner

double Now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

// Runs argv without a shell and returns its standard output ("" when it failed).
std::string Capture(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return {};
    }
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : std::string();
}

// Video packets of a file as ffprobe counts them (-1: unreadable).
long VideoPackets(const std::string& file) {
    const std::string out = Capture({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets",
                                     "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", file});
    return out.empty() ? -1 : std::atol(out.c_str());
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Busy processes on the machine for the lifetime of the object, each a shell
// spinning in a loop; killed by their own process ids.
class TBusyProcesses {
public:
    explicit TBusyProcesses(int count) {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);  // never left spinning if the bench dies
                execlp("sh", "sh", "-c", "while :; do :; done", static_cast<char*>(nullptr));
                _exit(127);
            }
            if (pid > 0) FPids.push_back(pid);
        }
    }
    ~TBusyProcesses() {
        for (pid_t pid : FPids) kill(pid, SIGKILL);
        for (pid_t pid : FPids) waitpid(pid, nullptr, 0);
    }
    TBusyProcesses(const TBusyProcesses&) = delete;
    TBusyProcesses& operator=(const TBusyProcesses&) = delete;
    size_t Count() const { return FPids.size(); }

private:
    std::vector<pid_t> FPids;
};

// Nothing is handed to the desktop (no player, no file manager).
class TQuietOpener : public TDesktopOpener {
public:
    bool Launch(const TDesktopRequest&) override { return true; }
};

// ---------------------------------------------------------------- the questions

// Answers the window's questions as the bench's user: the save dialog with
// NextOutput, the settings dialogs with OK on what they show (the captures'
// with 100 JPEG images), the progress dialog run as the real prompts run it,
// "Play the result?" with No. Anything else is recorded as unexpected and
// answered with Cancel (or No).
class TBenchPrompts : public TPrompts {
public:
    QString NextOutput;
    std::vector<std::string> Unexpected;
    int PlayQuestions = 0;
    std::function<void(const char*)> Asked;  // called on every question: the job has started
    const uint64_t* Beats = nullptr;          // the stall meter's beats so far

    void ShowMessage(const QString& text) override {
        Note("message");
        Unexpected.push_back("message: " + text.toStdString());
    }
    TModalResult MessageDlg(const QString& text, TMsgDlgType, unsigned buttons) override {
        Note(text.contains(QStringLiteral("Play the result?")) ? "\"Play the result?\"" : "question");
        if (text.contains(QStringLiteral("Play the result?")) && (buttons & mbNo)) {
            ++PlayQuestions;
            return TModalResult::No;
        }
        Unexpected.push_back("question: " + text.toStdString());
        return (buttons & mbCancel) ? TModalResult::Cancel : (buttons & mbNo) ? TModalResult::No : TModalResult::Ok;
    }
    bool ExecuteFileDialog(QWidget*, TFileDialogRequest& request) override {
        Note("save dialog");
        if (!request.Save || NextOutput.isEmpty()) {
            Unexpected.push_back("file dialog: " + request.Title.toStdString());
            return false;
        }
        request.FileName = NextOutput;
        request.Files = QStringList{NextOutput};
        NextOutput.clear();
        return true;
    }
    bool ExecuteFolderDialog(QWidget*, const QString& comment, QString&) override {
        Note("folder dialog");
        Unexpected.push_back("folder dialog: " + comment.toStdString());
        return false;
    }
    TModalResult ExecModal(QDialog& dialog) override {
        Note(dynamic_cast<TProgressForm*>(&dialog) ? "progress dialog" : "settings dialog");
        if (auto* progress = dynamic_cast<TProgressForm*>(&dialog))
            return progress->exec() == QDialog::Accepted ? TModalResult::Ok : TModalResult::Cancel;
        QPushButton* ok = nullptr;
        if (auto* settings = dynamic_cast<TVideoSetDlg*>(&dialog)) {
            ok = settings->btnOk;
        } else if (auto* images = dynamic_cast<TImageForm*>(&dialog)) {
            ok = images->btnOk;
            // Chosen once the dialog shows (its show proposes a count of its own).
            QTimer::singleShot(0, images, [images] {
                images->cbImageType->setCurrentIndex(media::ptJpg);
                images->seSample->setValue(kCaptureImages);
            });
        }
        if (!ok) {
            Unexpected.push_back("dialog: " + dialog.windowTitle().toStdString());
            return TModalResult::Cancel;
        }
        // Run as the real prompts run it (exec), OK pressed once it shows.
        QTimer::singleShot(0, ok, &QPushButton::click);
        const TModalResult result = dialog.exec() == QDialog::Accepted ? TModalResult::Ok : TModalResult::Cancel;
        if (result != TModalResult::Ok) Unexpected.push_back("dialog refused OK: " + dialog.windowTitle().toStdString());
        return result;
    }

private:
    // A real dialog runs an event loop while it is on the screen: the
    // window's events run for a moment (2 ms, and at least one beat of the
    // stall meter), so the work before and after a question is measured as
    // two stretches.
    void Note(const char* what) {
        if (Asked) Asked(what);
        const uint64_t beats = Beats ? *Beats : 0;
        const double until = Now() + 0.002;
        while (Now() < until || (Beats && *Beats == beats && Now() < until + 0.1))
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
};

// ---------------------------------------------------------------- one job

struct TRunResult {
    bool Ended = false;        // the window became idle again
    double Click = NAN;        // the press of Start
    double FileAt = NAN;       // the output under its final name
    double StopAt = NAN;       // the press of Stop
    double End = NAN;          // idle again
    double Stall = 0;          // longest beat gap from Start to the end
    double StallFrom = NAN;    // when that gap began, from Start
    double StallAt = NAN;      // when it ended
    std::string StallAfter;    // the last step of the job seen before that gap began
    int Over50 = 0;            // gaps longer than 50 ms
    bool Busy = false;         // run beside busy processes
    std::vector<std::string> Unexpected;
    int PlayQuestions = 0;
    long Written = -1;         // video packets in the file, or images written
    std::string Load;          // the load average when the run started
    std::vector<std::pair<double, std::string>> Steps;  // what the job did when, from Start
};

// The stall meter and the job's watcher, beating every millisecond on the
// window's thread (also inside the window's own nested event loops).
class TProbe {
public:
    explicit TProbe(TMainForm& form) : F(form) {
        FTimer.setTimerType(Qt::PreciseTimer);
        FTimer.setInterval(kBeatMs);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Beat(); });
        FTimer.start();
    }

    // The window is idle: no job, its commands back on, no modal dialog.
    bool WindowIdle() const {
        return F.JobState() == TJobState::Idle && !F.ConversionUnderWay() &&
               F.sbExecute->text() == QStringLiteral("Start") && F.sbExecute->isEnabled() &&
               F.cbMode->isEnabled() && F.sbOpenMovie->isEnabled() && F.tbPosition->isEnabled() && F.tmAnimateTag == 0 &&
               !QApplication::activeModalWidget();
    }

    void Begin(TRunResult& r, const std::string& output, double stopAfter) {
        R = &r;
        FOutput = output;
        FStopAfter = stopAfter;
        FClickReturned = false;
        FSeenBusy = false;
        FLowProgressSeen = false;
        r.Click = Now();
        FLast = r.Click;
        FOn = true;
    }
    // A step of the job (a question asked, the file finished, Stop pressed).
    void Step(const std::string& what) {
        if (!FOn) return;
        FSeenBusy = true;
        R->Steps.emplace_back(Now() - R->Click, what);
    }
    void ClickReturned() {
        FClickReturned = true;
        if (FOn) Check(Now());
    }
    bool Ended() const { return !FOn; }
    const uint64_t* Beats() const { return &FBeats; }
    void Abandon() { FOn = false; }

private:
    void Beat() {
        const double now = Now();
        ++FBeats;
        if (FOn) {
            const double gap = now - FLast;
            if (gap > R->Stall) {
                R->Stall = gap;
                R->StallAt = now - R->Click;
                R->StallFrom = FLast - R->Click;
                R->StallAfter = "Start";
                for (const auto& step : R->Steps)
                    if (step.first <= FLast - R->Click) R->StallAfter = step.second;
            }
            if (gap > 0.050) ++R->Over50;
            Check(now);
        }
        FLast = now;
    }

    void Check(double now) {
        if (std::isnan(R->FileAt) && !FOutput.empty() && fs::exists(FOutput)) {
            R->FileAt = now;
            Step("file finished");
        }
        const bool idle = WindowIdle();
        if (!idle) FSeenBusy = true;
        // The caption keeps the last job's "Progress: 100%" until this one's
        // render reports: progress counts once a lower figure was seen.
        const int progress = ProgressShown();
        if (progress >= 0 && progress < kStopAtProgress) FLowProgressSeen = true;
        if (!std::isnan(FStopAfter) && std::isnan(R->StopAt) && !idle &&
            (now - R->Click >= FStopAfter || (FLowProgressSeen && progress >= kStopAtProgress))) {
            PressStop();
            R->StopAt = now;
            Step("Stop");
        }
        if (idle && FClickReturned && FSeenBusy) {
            R->End = now;
            R->Ended = true;
            FOn = false;
        }
    }

    // The render's progress as the window shows it ("Progress: N%"), -1 when none shows.
    int ProgressShown() const {
        const QString text = F.lbBusy->text();
        if (!text.startsWith(QStringLiteral("Progress: "))) return -1;
        bool ok = false;
        const int n = text.mid(10).chopped(1).toInt(&ok);
        return ok ? n : -1;
    }

    // Stop as the user reaches it: the Stop button of a modal dialog on top
    // (the captures' "Writing images"), else the window's own button.
    void PressStop() {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            for (QPushButton* b : modal->findChildren<QPushButton*>())
                if (b->text() == QStringLiteral("Stop") && b->isEnabled()) {
                    b->click();
                    return;
                }
        }
        if (F.sbExecute->text() == QStringLiteral("Stop") && F.sbExecute->isEnabled()) F.sbExecute->click();
    }

    TMainForm& F;
    QTimer FTimer;
    TRunResult* R = nullptr;
    std::string FOutput;
    double FStopAfter = NAN, FLast = 0;
    uint64_t FBeats = 0;
    bool FOn = false, FClickReturned = false, FSeenBusy = false, FLowProgressSeen = false;
};

// ---------------------------------------------------------------- the rows

struct TRowSpec {
    const char* Label;
    int Mode;
    bool Long;         // the two-hour movie
    int SelStart;
    int SelEnd;        // -1: the end of the movie
    const char* Ext;   // "" : image captures
};

// Short clips (a few seconds of work each) out of the 60 s movie; the AVI
// mode's Cinepak is slow, so its clip is the shortest. The 60 s copy starts
// and ends between key frames, so both ends are re-encoded.
const TRowSpec kRows[] = {
    {"0 default WMV", 0, false, 125, 1375, "wmv"},
    {"1 WMV (profile page)", 1, false, 125, 1375, "wmv"},
    {"2 AVI (Cinepak 320x240)", 2, false, 250, 375, "avi"},
    {"3 image captures (100)", 3, false, 250, 750, ""},
    {"4 MP4", 4, false, 250, 500, "mp4"},
    {"5 WebM", 5, false, 250, 500, "webm"},
    {"6 same as source", 6, false, 130, 1380, "mp4"},
    {"6 same as source, whole 2 h", 6, true, 0, -1, "mp4"},
};

struct TRow {
    const TRowSpec* Spec;
    int Frames = 0;
    TRunResult Quiet, Loaded, Stopped;
};

class TBench {
public:
    TBench(TMainForm& form, TBenchPrompts& prompts, fs::path work)
        : F(form), P(prompts), Work(std::move(work)), Probe(form) {
        P.Asked = [this](const char* what) { Probe.Step(what); };
        P.Beats = Probe.Beats();
    }

    template <class Pred> bool PumpUntil(Pred pred, double seconds) {
        const double end = Now() + seconds;
        while (!pred()) {
            if (Now() >= end) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    void PumpFor(double seconds) {
        PumpUntil([] { return false; }, seconds);
    }

    bool Open(const std::string& file) {
        if (file == FOpen) return true;
        if (!F.OpenMovie(QString::fromStdString(file))) return false;
        PumpUntil([&] { return F.PreviewSettled(); }, 60);
        PumpFor(0.3);
        FOpen = file;
        return F.MovieInfo.FrameRate > 0;
    }

    TRunResult Run(const TRowSpec& spec, int selEnd, bool busy, double stopAfter) {
        TRunResult r;
        r.Busy = busy;
        r.Load = LoadAverage();
        const std::string output =
            *spec.Ext ? (Work / "video" / ("run" + std::to_string(++FRuns) + "." + spec.Ext)).string() : std::string();
        if (!output.empty()) fs::remove(output);
        const std::set<fs::path> before = CaptureFolders();
        P.NextOutput = QString::fromStdString(output);
        P.Unexpected.clear();
        P.PlayQuestions = 0;
        F.cbMode->setCurrentIndex(spec.Mode);
        F.tbPosition->SetSelStart(spec.SelStart);
        F.tbPosition->SetSelEnd(selEnd);
        PumpUntil([&] { return F.PreviewSettled(); }, 30);
        PumpFor(0.3);
        std::unique_ptr<TBusyProcesses> load;
        if (busy) {
            load = std::make_unique<TBusyProcesses>(kBusyProcesses);
            PumpFor(0.3);  // both are spinning before Start
        }

        Probe.Begin(r, output, stopAfter);
        F.sbExecute->click();
        Probe.ClickReturned();
        if (!PumpUntil([&] { return Probe.Ended(); }, kJobTimeoutS)) {
            Probe.Abandon();
            r.Unexpected.push_back("the job did not end within the time limit");
            if (F.sbExecute->text() == QStringLiteral("Stop")) F.sbExecute->click();
            PumpUntil([&] { return Probe.WindowIdle(); }, 120);
        }
        load.reset();
        for (const std::string& u : P.Unexpected) r.Unexpected.push_back(u);
        r.PlayQuestions = P.PlayQuestions;

        // What was written, outside the measurement; then it goes.
        if (!output.empty()) {
            if (fs::exists(output)) r.Written = VideoPackets(output);
            fs::remove(output);
        } else {
            for (const fs::path& folder : CaptureFolders())
                if (!before.count(folder)) {
                    long n = 0;
                    for (const auto& e : fs::directory_iterator(folder)) n += e.path().extension() == ".jpg";
                    r.Written = std::max(r.Written, 0L) + n;
                    fs::remove_all(folder);
                }
        }
        return r;
    }

    void RunRow(TRow& row, const std::string& movie) {
        const TRowSpec& s = *row.Spec;
        if (!Open(movie)) {
            std::fprintf(stderr, "  the window could not open %s\n", movie.c_str());
            return;
        }
        const int selEnd = s.SelEnd < 0 ? F.tbPosition->maximum() : s.SelEnd;
        row.Frames = selEnd - s.SelStart;
        std::fprintf(stderr, "  %s: %d frames, to the end\n", s.Label, row.Frames);
        row.Quiet = Run(s, selEnd, false, NAN);
        std::fprintf(stderr, "  %s: beside %d busy processes\n", s.Label, kBusyProcesses);
        row.Loaded = Run(s, selEnd, true, NAN);
        // Stop part-way: 40 % into the quiet job's time to its file (or its
        // end), or at 30 % progress shown if that comes first (the machine's
        // load changes from run to run).
        const double work = (std::isnan(row.Quiet.FileAt) ? row.Quiet.End : row.Quiet.FileAt) - row.Quiet.Click;
        std::fprintf(stderr, "  %s: Stop after %.2f s or at %d%%\n", s.Label, work * kStopAtWork, kStopAtProgress);
        if (std::isfinite(work)) row.Stopped = Run(s, selEnd, false, work * kStopAtWork);
    }

private:
    std::set<fs::path> CaptureFolders() const {
        std::set<fs::path> folders;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(Work / "images", ec))
            if (e.is_directory()) folders.insert(e.path());
        return folders;
    }

    TMainForm& F;
    TBenchPrompts& P;
    fs::path Work;
    TProbe Probe;
    std::string FOpen;
    int FRuns = 0;
};

// ---------------------------------------------------------------- the report

std::string Ms(double seconds) {
    if (!std::isfinite(seconds)) return "-";
    char b[32];
    std::snprintf(b, sizeof b, "%.0f ms", seconds * 1e3);
    return b;
}
std::string Sec(double seconds) {
    if (!std::isfinite(seconds)) return "-";
    char b[32];
    std::snprintf(b, sizeof b, "%.2f s", seconds);
    return b;
}
// "value" with " *" when it is over its target.
std::string Against(double seconds, double target, std::string (*fmt)(double)) {
    std::string s = fmt(seconds);
    if (std::isfinite(seconds) && seconds > target) s += " *";
    return s;
}

double ToFile(const TRunResult& r) { return (std::isnan(r.FileAt) ? r.End : r.FileAt) - r.Click; }
double StopToFile(const TRunResult& r) { return (std::isnan(r.FileAt) ? r.End : r.FileAt) - r.StopAt; }
// The job had finished its file (or ended) before Stop was pressed: no stop was measured.
bool StoppedTooLate(const TRunResult& r) {
    return r.Ended && (std::isnan(r.StopAt) || (!std::isnan(r.FileAt) && r.FileAt <= r.StopAt));
}

// True when the run went as planned (ended, wrote its file, asked nothing unexpected).
bool Clean(const TRow& row, const TRunResult& r, bool stopped) {
    const bool capture = !*row.Spec->Ext;
    // A stop while the job was still planning ends it before any file is made,
    // without a question: Stop->file is then Stop to the window idle again.
    if (stopped && !capture && r.Ended && r.Unexpected.empty() && std::isnan(r.FileAt) && r.Written <= 0) return true;
    if (!r.Ended || !r.Unexpected.empty() || r.Written <= 0) return false;
    if (!capture && std::isnan(r.FileAt)) return false;
    // A clip's packets depend on its format's frame rate; a finished capture has every image.
    return stopped || !capture || r.Written == kCaptureImages;
}

int Report(const std::vector<TRow>& rows) {
    std::printf("\n%-30s %7s %10s %10s %12s %14s %10s %10s %9s\n", "mode", "frames", "Start->file", "Start->idle",
                "stall quiet", "stall 2 busy", "Stop->file", "Stop->idle", "closing");
    std::printf("%-30s %7s %10s %10s %12s %14s %10s %10s %9s\n", "target", "", "", "", "<= 50 ms", "<= 50 ms",
                "<= 300 ms", "", "");
    int failures = 0;
    for (const TRow& row : rows) {
        const TRunResult &q = row.Quiet, &l = row.Loaded, &s = row.Stopped;
        std::string stopFile = Against(StopToFile(s), kStopTarget, Ms);
        if (StoppedTooLate(s)) stopFile = "ended first";
        std::printf("%-30s %7d %10s %10s %12s %14s %10s %10s %9s\n", row.Spec->Label, row.Frames,
                    Sec(ToFile(q)).c_str(), Sec(q.End - q.Click).c_str(),
                    Against(q.Stall, kStallTarget, Ms).c_str(), Against(l.Stall, kStallTarget, Ms).c_str(),
                    stopFile.c_str(), Ms(s.End - s.StopAt).c_str(),
                    Ms(std::isnan(q.FileAt) ? NAN : q.End - q.FileAt).c_str());
    }
    std::printf("(* over its target; targets are reported, not asserted)\n");

    std::printf("\ndetails per run (stall: the longest gap and when it was, from Start; gaps over 50 ms; the job's steps):\n");
    for (const TRow& row : rows) {
        const char* what = *row.Spec->Ext ? "video packets" : "images";
        const struct {
            const char* Name;
            const TRunResult* R;
            bool Stopped;
        } runs[] = {{"quiet", &row.Quiet, false}, {"2 busy", &row.Loaded, false}, {"stopped", &row.Stopped, true}};
        for (const auto& run : runs) {
            const TRunResult& r = *run.R;
            const bool clean = Clean(row, r, run.Stopped);
            failures += !clean;
            std::printf("  %-30s %-8s stall %s from +%s to +%s (after: %s), %d over 50 ms; Start->idle %s; "
                        "%ld %s written%s; load %s%s\n",
                        row.Spec->Label, run.Name, Ms(r.Stall).c_str(), Ms(r.StallFrom).c_str(), Ms(r.StallAt).c_str(),
                        r.StallAfter.c_str(), r.Over50, Sec(r.End - r.Click).c_str(), r.Written, what,
                        run.Stopped && std::isfinite(r.StopAt) ? (", Stop at +" + Sec(r.StopAt - r.Click)).c_str() : "",
                        r.Load.c_str(), clean ? "" : "  FAILED RUN");
            std::string steps;
            for (const auto& step : r.Steps) steps += (steps.empty() ? "" : ", ") + step.second + " +" + Ms(step.first);
            std::printf("      steps: %s\n", steps.c_str());
            for (const std::string& u : r.Unexpected) std::printf("      asked or failed: %s\n", u.c_str());
        }
    }
    std::printf(
        "\nStart->file: Start to the output file under its final name (captures: to the job's end).\n"
        "Start->idle: Start to the window idle again (job state Idle, \"Start\" on the button, commands on).\n"
        "stall: the longest gap between beats of a 1 ms timer on the window's thread, Start to idle.\n"
        "Stop->file: Stop to the stopped job's file under its final name (captures: to the job's end); it\n"
        "leaves out the closing pause after a render. closing: file to idle in the quiet run, that pause.\n"
        "Stop->idle: Stop to the window idle again, closing pause included.\n");
    return failures;
}

// The offscreen platform's note on every dialog shown would bury the progress lines.
void DropSizeHintNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains(QStringLiteral("propagateSizeHints"))) return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: bench_jobs SHORT_MOVIE [LONG_MOVIE]\n");
        return 2;
    }
    const std::string shortMovie = fs::absolute(argv[1]).string();
    const std::string longMovie = argc > 2 ? fs::absolute(argv[2]).string() : std::string();
    av_log_set_level(AV_LOG_ERROR);  // the encoders' statistics would bury the table

    // A home of its own for the window: settings, data, runtime and output folders.
    std::string tmpl = (fs::temp_directory_path() / "fw_bench_jobs.XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path home = tmpl;
    for (const char* d : {"config", "data", "run", "work/video", "work/images"}) fs::create_directories(home / d);
    fs::permissions(home / "run", fs::perms::owner_all, fs::perm_options::replace);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);

    int failures = 0;
    {
        qInstallMessageHandler(DropSizeHintNotes);
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Framewhisk"));
        auto prompts = std::make_unique<TBenchPrompts>();
        TBenchPrompts& asked = *prompts;
        SetPrompts(std::move(prompts));
        auto previousOpener = SetDesktopOpener(std::make_unique<TQuietOpener>());
        std::vector<TRow> rows;
        {
            TMainForm form;
            form.resize(1000, 700);
            form.show();
            form.TimerUpdate->stop();  // no update check over the network in the middle of a run
            // The output folders are the window's defaults: no question about moving them.
            form.VideoFolder = QString::fromStdString((home / "work/video").string()) + QLatin1Char('/');
            form.ImageFolder = QString::fromStdString((home / "work/images").string()) + QLatin1Char('/');
            form.Showresultwhenready1->setChecked(true);
            form.SavePreferences();

            TBench bench(form, asked, home / "work");
            bench.PumpFor(0.3);
            std::fprintf(stderr, "load before: %s\n", LoadAverage().c_str());
            // FW_JOBS_ROWS="0 6": only those rows of the table, counted from 0.
            const QStringList only = qEnvironmentVariable("FW_JOBS_ROWS").split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (const TRowSpec& spec : kRows) {
                if (spec.Long && longMovie.empty()) continue;
                if (!only.isEmpty() && !only.contains(QString::number(&spec - kRows))) continue;
                TRow row;
                row.Spec = &spec;
                bench.RunRow(row, spec.Long ? longMovie : shortMovie);
                rows.push_back(row);
            }
            std::fprintf(stderr, "load after: %s\n", LoadAverage().c_str());
        }
        failures = Report(rows);
        SetDesktopOpener(std::move(previousOpener));
        SetPrompts(nullptr);
    }
    std::error_code ec;
    fs::remove_all(home, ec);
    std::printf("\nfailed runs: %d\n", failures);
    return failures ? 1 : 0;
}
