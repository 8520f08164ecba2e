// Scrub benchmark: the real main window, offscreen, driven through the track
// bar like a user: a drag across a stretch of the movie, then random jumps,
// each waiting for the exact frame. Beside every jump the ffmpeg command line
// seeks accurately to the same time, so the two are timed in the same run.
//
// Per source it reports the longest stall of the window's event loop, the
// time from a move to the first picture shown after it, the time from a jump
// to its exact frame (as a ratio to the command line), the drag's step times,
// the window process's peak memory, and the number of wrong frames: every
// final picture (each jump's exact frame, the end of each drag) is compared
// by value with a plain start-to-end decode scaled by the program's scaler.
//
// Two processes per source, so the reference decode never counts towards the
// window's memory:
//   bench_scrub [--rounds N] FILE JUMP_RATIO FIRST_MS PEAK_MB [FILE ...]
//       the driver: for each source runs the window process, then decodes the
//       reference itself and prints the table. A target of "-" is not checked.
//   bench_scrub --window FILE OUT_DIR ROUNDS
//       the window process: writes OUT_DIR/result.txt and the final pictures.
// The driver runs the window with a settings and data folder of its own in a
// temporary folder (XDG_CONFIG_HOME, XDG_DATA_HOME) and QT_QPA_PLATFORM=offscreen.
#include "app/Main.h"
#include "app/TrackBar.h"
#include "common/Prompts.h"

#include "media/AvPtr.h"
#include "media/InputFile.h"
#include "media/Scaler.h"

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kJumps = 40;              // random jumps per round
constexpr int kDragMoves = 60;          // track bar moves per drag
constexpr int kDragIntervalMs = 30;     // between drag moves
constexpr double kExactTimeoutS = 30;   // longest wait for an exact frame
constexpr int kHeartbeatMs = 2;         // the stall meter's timer
constexpr double kStallTarget = 0.050;  // seconds, every source
constexpr unsigned kSeed = 20240611;

double Now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

double Median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Max(const std::vector<double>& v) { return v.empty() ? NAN : *std::max_element(v.begin(), v.end()); }

std::string Join(const std::vector<double>& v) {
    std::ostringstream s;
    s.precision(9);
    for (size_t i = 0; i < v.size(); ++i) s << (i ? " " : "") << v[i];
    return s.str();
}

std::vector<double> Split(const std::string& text) {
    std::istringstream s(text);
    std::vector<double> v;
    for (double d; s >> d;) v.push_back(d);
    return v;
}

// The largest resident set of this process so far (VmHWM), in bytes.
double PeakResidentBytes() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) * 1024.0;
    return NAN;
}

// Runs argv without a shell and waits; returns the exit status (-1: did not run or ended by a signal).
int RunProcess(const std::vector<std::string>& args, bool quiet) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (quiet) {
            const int null = open("/dev/null", O_WRONLY);
            if (null >= 0) dup2(null, STDOUT_FILENO);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---------------------------------------------------------------- the window process

// Answers every modal question with Cancel or No and records it: a question
// in the middle of a scrub is a failure of the run, never a blocked window.
class TBenchPrompts : public TPrompts {
public:
    std::vector<std::string> Asked;
    void ShowMessage(const QString& text) override { Asked.push_back(text.toStdString()); }
    TModalResult MessageDlg(const QString& text, TMsgDlgType, unsigned buttons) override {
        Asked.push_back(text.toStdString());
        return (buttons & mbCancel) ? TModalResult::Cancel : (buttons & mbNo) ? TModalResult::No : TModalResult::Ok;
    }
    bool ExecuteFileDialog(QWidget*, TFileDialogRequest& request) override {
        Asked.push_back("file dialog: " + request.Title.toStdString());
        return false;
    }
    bool ExecuteFolderDialog(QWidget*, const QString& comment, QString&) override {
        Asked.push_back("folder dialog: " + comment.toStdString());
        return false;
    }
    TModalResult ExecModal(QDialog& dialog) override {
        Asked.push_back("dialog: " + dialog.windowTitle().toStdString());
        return TModalResult::Cancel;
    }
};

// The longest gap between two beats of a short timer on the window's thread:
// how long the event loop was kept from handling events. Paused while the
// benchmark itself blocks the loop (command line runs, picture checks).
class TStallMeter {
public:
    TStallMeter() {
        FTimer.setTimerType(Qt::PreciseTimer);
        FTimer.setInterval(kHeartbeatMs);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Beat(); });
        FTimer.start();
    }
    void Resume() {
        FLast = Now();
        FOn = true;
    }
    void Pause() {
        Beat();
        FOn = false;
    }
    double Longest() const { return FLongest; }

private:
    void Beat() {
        const double now = Now();
        if (FOn) FLongest = std::max(FLongest, now - FLast);
        FLast = now;
    }
    QTimer FTimer;
    double FLast = 0, FLongest = 0;
    bool FOn = false;
};

struct TShown {
    double Time;
    int Position;
    bool Exact;
};

class TWindowRun {
public:
    TWindowRun(TMainForm& form, std::string file, std::string outDir)
        : F(form), File(std::move(file)), OutDir(std::move(outDir)) {
        QObject::connect(&F, &TMainForm::PreviewShown,
                         [this](int position, bool exact) { Shown.push_back({Now(), position, exact}); });
    }

    // Handles events until pred() holds or `seconds` have passed; true when it held.
    template <class Pred> bool PumpUntil(Pred pred, double seconds) {
        const double end = Now() + seconds;
        while (!pred()) {
            if (Now() >= end) return false;
            // The stall meter's timer wakes the loop every few milliseconds.
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    void PumpFor(double seconds) {
        PumpUntil([] { return false; }, seconds);
    }

    // Index in Shown of the first picture at or after `from` that satisfies
    // `match`, or -1.
    template <class Match> int FirstShown(size_t from, Match match) const {
        for (size_t i = from; i < Shown.size(); ++i)
            if (match(Shown[i])) return int(i);
        return -1;
    }

    bool WaitExact(size_t from, int position) {
        return PumpUntil(
            [&] { return FirstShown(from, [&](const TShown& s) { return s.Position == position && s.Exact; }) >= 0; },
            kExactTimeoutS);
    }

    bool Open() {
        const size_t from = Shown.size();
        if (!F.OpenMovie(QString::fromStdString(File))) return false;
        if (!WaitExact(from, F.tbPosition->Position())) return false;
        PumpFor(0.2);  // let the window settle before anything is measured
        Fps = F.MovieInfo.FrameRate;
        Maximum = F.tbPosition->maximum();
        const QSize size = F.imPreview->pixmap().size();
        Width = size.width();
        Height = size.height();
        return Width > 0 && Height > 0 && Fps > 0 && Maximum > 0;
    }

    // Saves the picture on show as the final picture for `position`.
    void Keep(int position, const char* kind) {
        const QImage image = F.imPreview->pixmap().toImage().convertToFormat(QImage::Format_RGB888);
        const std::string name = "frame" + std::to_string(Kept.size()) + ".rgb";
        std::ofstream out(OutDir + "/" + name, std::ios::binary);
        if (image.width() == Width && image.height() == Height)
            for (int y = 0; y < image.height(); ++y)
                out.write(reinterpret_cast<const char*>(image.constScanLine(y)), std::streamsize(Width) * 3);
        // A picture of another size is left empty: the check counts it wrong.
        Kept.push_back(std::to_string(position) + " " + kind + " " + name);
    }

    void Drag() {
        const int stretch = std::max(kDragMoves, Maximum / 4);
        const int step = std::max(1, stretch / kDragMoves);
        const int from = std::max(0, std::min(Maximum / 3, Maximum - step * kDragMoves));
        // Start from a shown exact picture, outside the measurement.
        Meter.Pause();
        if (F.tbPosition->Position() != from) {
            const size_t at = Shown.size();
            F.tbPosition->SetPosition(from);
            if (!WaitExact(at, from)) ++Timeouts;
        }
        Meter.Resume();

        std::vector<std::pair<double, size_t>> moves;  // time of the move, index into Shown then
        std::vector<int> positions;
        const double start = Now();
        auto due = [&](int m) { return start + m * kDragIntervalMs / 1000.0; };
        for (int m = 1; m <= kDragMoves; ++m) {
            PumpUntil([&] { return Now() >= due(m); }, 10);
            // Mouse moves made while the window was busy arrive as one, at
            // the newest position (Qt compresses them): skip the overdue ones.
            while (m < kDragMoves && Now() >= due(m + 1)) ++m;
            const int position = from + m * step;
            moves.emplace_back(Now(), Shown.size());
            positions.push_back(position);
            F.tbPosition->SetPosition(position);
        }
        const int last = positions.back();
        const bool exact = WaitExact(moves.back().second, last);
        const double end = Now();
        Meter.Pause();
        for (size_t m = 1; m < moves.size(); ++m) DragSteps.push_back(moves[m].first - moves[m - 1].first);
        // A move is answered by the first picture of its own or a later position.
        for (size_t m = 0; m < moves.size(); ++m) {
            const int i = FirstShown(moves[m].second, [&](const TShown& s) {
                return s.Position >= positions[m] && s.Position <= last;
            });
            if (i >= 0) DragFirst.push_back(Shown[size_t(i)].Time - moves[m].first);
        }
        DragPictures += int(Shown.size() - moves.front().second);
        DragMoves += int(moves.size());
        DragToExact.push_back(end - moves.back().first);
        if (exact) {
            ++DragExact;
            Keep(last, "drag");
        } else {
            ++Timeouts;
        }
        Meter.Resume();
    }

    void Jumps(const std::vector<int>& targets) {
        for (int target : targets) {
            if (target == F.tbPosition->Position()) target = target > 0 ? target - 1 : target + 1;
            const size_t at = Shown.size();
            const double t0 = Now();
            F.tbPosition->SetPosition(target);
            const bool exact = WaitExact(at, target);
            const double t1 = Now();
            Meter.Pause();
            const int first = FirstShown(at, [&](const TShown& s) { return s.Position == target; });
            if (first >= 0) JumpFirst.push_back(Shown[size_t(first)].Time - t0);
            if (exact) {
                JumpExact.push_back(t1 - t0);
                Keep(target, "jump");
            } else {
                ++Timeouts;
            }
            // The command line's accurate seek to the same time, while the window waits.
            char ss[32];
            std::snprintf(ss, sizeof ss, "%.6f", target / Fps);
            const double c0 = Now();
            if (RunProcess({"ffmpeg", "-nostdin", "-v", "error", "-ss", ss, "-i", File, "-frames:v", "1", "-f",
                            "null", "-"},
                           true) != 0)
                ++CliFailures;
            Cli.push_back(Now() - c0);
            Meter.Resume();
        }
    }

    void Run(int rounds) {
        // New jumps every round (the preview keeps recent frames: a jump
        // back to one is no decode at all), from a fixed seed.
        std::mt19937 rng(kSeed);
        Meter.Resume();
        for (int r = 0; r < rounds; ++r) {
            std::vector<int> targets;
            for (int j = 0; j < kJumps; ++j) targets.push_back(int(rng() % unsigned(Maximum + 1)));
            Drag();
            Jumps(targets);
            std::fprintf(stderr, "    round %d of %d done\n", r + 1, rounds);
        }
        Meter.Pause();
    }

    void Write(const TBenchPrompts& prompts, double peak) const {
        std::ofstream out(OutDir + "/result.txt");
        out.precision(9);
        out << "width=" << Width << "\nheight=" << Height << "\nfps=" << Fps << "\nmaximum=" << Maximum
            << "\nstall=" << Meter.Longest() << "\npeak=" << peak << "\njump_first=" << Join(JumpFirst)
            << "\njump_exact=" << Join(JumpExact) << "\ncli=" << Join(Cli) << "\ndrag_steps=" << Join(DragSteps)
            << "\ndrag_first=" << Join(DragFirst) << "\ndrag_to_exact=" << Join(DragToExact)
            << "\ndrag_moves=" << DragMoves << "\ndrag_pictures=" << DragPictures << "\ndrag_exact=" << DragExact
            << "\ntimeouts=" << Timeouts << "\ncli_failures=" << CliFailures
            << "\nprompts=" << prompts.Asked.size() << "\n";
        std::ofstream kept(OutDir + "/frames.txt");
        for (const std::string& k : Kept) kept << k << "\n";
    }

    TMainForm& F;
    std::string File, OutDir;
    TStallMeter Meter;
    std::vector<TShown> Shown;
    double Fps = 0;
    int Maximum = 0, Width = 0, Height = 0;
    std::vector<double> JumpFirst, JumpExact, Cli, DragSteps, DragFirst, DragToExact;
    int DragMoves = 0, DragPictures = 0, DragExact = 0, Timeouts = 0, CliFailures = 0;
    std::vector<std::string> Kept;  // "position kind file"
};

int WindowMain(int argc, char** argv) {
    const std::string file = argv[2], outDir = argv[3];
    const int rounds = std::max(1, std::atoi(argv[4]));
    // Never the user's own settings: the driver points these at a temporary folder.
    if (qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty() || qEnvironmentVariable("XDG_DATA_HOME").isEmpty()) {
        std::fprintf(stderr, "bench_scrub --window needs XDG_CONFIG_HOME and XDG_DATA_HOME set\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Framewhisk"));
    auto prompts = std::make_unique<TBenchPrompts>();
    TBenchPrompts& asked = *prompts;
    SetPrompts(std::move(prompts));
    int rc = 0;
    {
        TMainForm form;
        form.resize(1000, 700);
        form.show();
        form.TimerUpdate->stop();  // no update check over the network in the middle of a run
        TWindowRun run(form, file, outDir);
        run.PumpFor(0.3);
        if (!run.Open()) {
            std::fprintf(stderr, "the window could not open %s\n", file.c_str());
            rc = 1;
        } else {
            std::fprintf(stderr, "    preview %d x %d, %d positions at %.3f fps\n", run.Width, run.Height,
                         run.Maximum + 1, run.Fps);
            run.Run(rounds);
            run.Write(asked, PeakResidentBytes());
        }
        for (const std::string& a : asked.Asked) std::fprintf(stderr, "    the window asked: %s\n", a.c_str());
    }
    SetPrompts(nullptr);
    return rc;
}

// ---------------------------------------------------------------- the driver

using namespace media;

struct TKept {
    int Position;
    std::string Kind, File;
};

// Compares every kept picture with the frame a plain decode from the start
// shows at its position, scaled to the preview's size by the program's scaler
// (RGB24). Frame N is the one on screen at N / fps seconds counted from the
// first picture. Returns the number of wrong pictures and prints each.
int CheckPictures(const std::string& path, double fps, int width, int height, const std::string& dir,
                  std::vector<TKept> kept, int* matchedRgb, int* matchedBgr) {
    std::stable_sort(kept.begin(), kept.end(), [](const TKept& a, const TKept& b) { return a.Position < b.Position; });
    TInputFile in = TInputFile::Open(path);
    const int vs = in.FirstVideoStream();
    const AVStream* st = in.Format->streams[vs];
    const double tick = av_q2d(st->time_base);
    AvCodecContextPtr dec = OpenDecoder(st);
    AvPacketPtr pkt = MakePacket();
    AvFramePtr f = MakeFrame(), prev = MakeFrame();
    bool havePrev = false;
    int64_t origin = AV_NOPTS_VALUE, lastPts = AV_NOPTS_VALUE;
    const int64_t frameTicks = std::max<int64_t>(1, std::llround(1.0 / (fps * tick)));
    TScaler scaler;
    size_t next = 0;
    int wrong = 0;
    std::vector<uint8_t> got(size_t(width) * height * 3);

    // Differing bytes between the kept picture and `frame` converted to
    // `format` (RGB24, or BGR24 read back as RGB); the largest difference in *worst.
    auto differing = [&](const AVFrame* frame, AVPixelFormat format, int* worst) {
        AvFramePtr pic = scaler.Scale(frame, width, height, format);
        const int r = format == AV_PIX_FMT_BGR24 ? 2 : 0;  // where red is
        long count = 0;
        *worst = 0;
        for (int y = 0; y < height; ++y) {
            const uint8_t* a = pic->data[0] + ptrdiff_t(y) * pic->linesize[0];
            const uint8_t* b = got.data() + size_t(y) * width * 3;
            for (int x = 0; x < width; ++x, a += 3, b += 3)
                for (int c = 0; c < 3; ++c) {
                    const int d = std::abs(int(a[c == 1 ? 1 : c == 0 ? r : 2 - r]) - int(b[c]));
                    count += d != 0;
                    *worst = std::max(*worst, d);
                }
        }
        return count;
    };
    auto compare = [&](const AVFrame* frame, const TKept& k) {
        std::ifstream in(dir + "/" + k.File, std::ios::binary);
        in.read(reinterpret_cast<char*>(got.data()), std::streamsize(got.size()));
        if (in.gcount() != std::streamsize(got.size())) {
            ++wrong;
            std::printf("  WRONG FRAME (%s) at position %d: no picture of the preview's size\n", k.Kind.c_str(),
                        k.Position);
            return;
        }
        // The preview shows the reader's RGB24 picture: exact means equal to
        // the frame converted by the program's scaler to RGB24 at that size.
        // (libswscale's BGR24 writer rounds a few levels differently; the
        // difference from it is printed to tell rounding from a wrong frame.)
        int worst = 0, worstBgr = 0;
        const long rgb = differing(frame, AV_PIX_FMT_RGB24, &worst);
        if (rgb == 0) {
            ++*matchedRgb;
            return;
        }
        const long bgr = differing(frame, AV_PIX_FMT_BGR24, &worstBgr);
        if (bgr == 0) ++*matchedBgr;
        ++wrong;
        std::printf("  WRONG FRAME (%s) at position %d: %ld bytes differ (by up to %d) from RGB24, %ld (up to %d) "
                    "from BGR24\n",
                    k.Kind.c_str(), k.Position, rgb, worst, bgr, worstBgr);
    };
    // The frames come out of the decoder in presentation order: a position is
    // answered by the frame before the first one that starts after its time.
    auto take = [&](AVFrame* frame) {
        int64_t pts = frame->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) pts = lastPts == AV_NOPTS_VALUE ? 0 : lastPts + frameTicks;
        lastPts = pts;
        if (origin == AV_NOPTS_VALUE) origin = pts;
        const double start = (pts - origin) * tick;
        while (next < kept.size() && havePrev && start > kept[next].Position / fps + 0.25 / fps)
            compare(prev.get(), kept[next++]);
        av_frame_unref(prev.get());
        av_frame_move_ref(prev.get(), frame);
        havePrev = true;
    };
    auto drain = [&] {
        while (avcodec_receive_frame(dec.get(), f.get()) == 0) take(f.get());
    };
    while (av_read_frame(in.Format.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == vs) {
            avcodec_send_packet(dec.get(), pkt.get());
            drain();
        }
        av_packet_unref(pkt.get());
        if (next == kept.size()) break;
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    // Positions at or after the last frame show the last frame.
    while (next < kept.size() && havePrev) compare(prev.get(), kept[next++]);
    wrong += int(kept.size() - next);
    return wrong;
}

struct TSourceRow {
    std::string Name;
    std::map<std::string, std::string> R;
    int Checked = 0, Wrong = 0, MatchedRgb = 0, MatchedBgr = 0;
    bool Ran = false;
    double JumpTarget = NAN, FirstTarget = NAN, PeakTarget = NAN;
};

double Num(const TSourceRow& s, const char* key) {
    auto it = s.R.find(key);
    return it == s.R.end() ? NAN : std::atof(it->second.c_str());
}
std::vector<double> List(const TSourceRow& s, const char* key) {
    auto it = s.R.find(key);
    return it == s.R.end() ? std::vector<double>{} : Split(it->second);
}

double TargetArg(const char* a) { return std::strcmp(a, "-") == 0 ? NAN : std::atof(a); }

const char* Verdict(bool pass) { return pass ? "PASS" : "FAIL"; }

void ReportLine(const std::string& src, const char* what, const std::string& value, const std::string& target,
                int verdict, int& missed) {  // verdict: 1 pass, 0 fail, -1 not a target
    std::printf("%-24s %-34s %-58s %-12s %s\n", src.c_str(), what, value.c_str(), target.c_str(),
                verdict < 0 ? "" : Verdict(verdict));
    if (verdict == 0) ++missed;
}

// Prints one source's rows of the table; counts the targets it misses.
void Report(const TSourceRow& s, int& missed) {
    auto line = [&](const std::string& src, const char* what, const std::string& value, const std::string& target,
                    int verdict) { ReportLine(src, what, value, target, verdict, missed); };
    char v[256], t[64];
    if (!s.Ran) {
        line(s.Name, "window run", "FAILED", "", 0);
        return;
    }
    std::snprintf(v, sizeof v, "%d x %d preview, %d positions, %.3f fps", int(Num(s, "width")),
                  int(Num(s, "height")), int(Num(s, "maximum")) + 1, Num(s, "fps"));
    line(s.Name, "window", v, "", -1);
    const std::string src;
    const double stall = Num(s, "stall");
    std::snprintf(v, sizeof v, "%.1f ms", stall * 1e3);
    std::snprintf(t, sizeof t, "<= %.0f ms", kStallTarget * 1e3);
    line(src, "longest event loop stall", v, t, stall <= kStallTarget);

    const auto jf = List(s, "jump_first");
    std::snprintf(v, sizeof v, "median %.1f ms, max %.1f ms (%zu jumps)", Median(jf) * 1e3, Max(jf) * 1e3,
                  jf.size());
    if (std::isnan(s.FirstTarget)) {
        line(src, "jump: move to first picture", v, "", -1);
    } else {
        std::snprintf(t, sizeof t, "<= %.0f ms", s.FirstTarget);
        line(src, "jump: move to first picture", v, t, Median(jf) * 1e3 <= s.FirstTarget);
    }
    const auto je = List(s, "jump_exact"), cli = List(s, "cli");
    const double ratio = Median(je) / Median(cli);
    std::snprintf(v, sizeof v, "median %.1f ms (max %.1f), ffmpeg -ss %.1f ms: %.2fx", Median(je) * 1e3,
                  Max(je) * 1e3, Median(cli) * 1e3, ratio);
    if (std::isnan(s.JumpTarget)) {
        line(src, "jump: move to exact frame", v, "", -1);
    } else {
        std::snprintf(t, sizeof t, "<= %.2fx", s.JumpTarget);
        line(src, "jump: move to exact frame", v, t, ratio <= s.JumpTarget);
    }
    const auto ds = List(s, "drag_steps"), dfirst = List(s, "drag_first"), dex = List(s, "drag_to_exact");
    std::snprintf(v, sizeof v, "median %.1f ms, max %.1f ms (%d of %d moves made)", Median(ds) * 1e3,
                  Max(ds) * 1e3, int(Num(s, "drag_moves")), int(dex.size()) * kDragMoves);
    line(src, "drag: time per step", v, "", -1);
    std::snprintf(v, sizeof v, "median %.1f ms, max %.1f ms; %d pictures shown", Median(dfirst) * 1e3,
                  Max(dfirst) * 1e3, int(Num(s, "drag_pictures")));
    line(src, "drag: move to first picture", v, "", -1);
    std::snprintf(v, sizeof v, "%d of %d drags, last move to exact median %.1f ms", int(Num(s, "drag_exact")),
                  int(dex.size()), Median(dex) * 1e3);
    line(src, "drag: final picture exact", v, "all", int(Num(s, "drag_exact")) == int(dex.size()));
    const double peakMb = Num(s, "peak") / (1024.0 * 1024.0);
    std::snprintf(v, sizeof v, "%.0f MB", peakMb);
    if (std::isnan(s.PeakTarget)) {
        line(src, "peak memory (VmHWM)", v, "", -1);
    } else {
        std::snprintf(t, sizeof t, "<= %.0f MB", s.PeakTarget);
        line(src, "peak memory (VmHWM)", v, t, peakMb <= s.PeakTarget);
    }
    std::snprintf(v, sizeof v, "%d of %d final pictures%s (equal via RGB24 %d, BGR24 %d)", s.Wrong, s.Checked,
                  int(Num(s, "timeouts")) ? ", exact frame timed out" : "", s.MatchedRgb, s.MatchedBgr);
    line(src, "wrong frames", v, "0", s.Wrong == 0);
    if (int(Num(s, "prompts")) || int(Num(s, "cli_failures"))) {
        std::snprintf(v, sizeof v, "%d questions asked, %d command line failures", int(Num(s, "prompts")),
                      int(Num(s, "cli_failures")));
        line(src, "disturbances", v, "none", 0);
    }
    std::fflush(stdout);
}

int DriverMain(int argc, char** argv) {
    int rounds = 3, a = 1;
    if (a + 1 < argc && std::strcmp(argv[a], "--rounds") == 0) {
        rounds = std::max(1, std::atoi(argv[a + 1]));
        a += 2;
    }
    if (argc - a < 4 || (argc - a) % 4) {
        std::fprintf(stderr,
                     "usage: bench_scrub [--rounds N] FILE JUMP_RATIO FIRST_PICTURE_MS PEAK_MB [FILE ...]\n"
                     "       (a target of - is not checked)\n");
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);

    // A home of its own for the window: settings, data and runtime folders.
    std::string tmpl = (fs::temp_directory_path() / "fw_bench_scrub.XXXXXX").string();
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path home = tmpl;
    for (const char* d : {"config", "data", "run"}) fs::create_directories(home / d);
    fs::permissions(home / "run", fs::perms::owner_all, fs::perm_options::replace);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);

    std::vector<TSourceRow> rows;
    int missed = 0;
    std::printf("%-24s %-34s %-58s %-12s %s\n", "source", "measure", "measured", "target", "");
    for (; a + 3 < argc; a += 4) {
        TSourceRow s;
        const std::string file = argv[a];
        s.Name = fs::path(file).filename().string();
        s.JumpTarget = TargetArg(argv[a + 1]);
        s.FirstTarget = TargetArg(argv[a + 2]);
        s.PeakTarget = TargetArg(argv[a + 3]);
        const fs::path out = home / ("run_" + std::to_string(rows.size()));
        fs::create_directories(out);
        std::fprintf(stderr, "  %s: %d rounds of a %d-move drag and %d jumps\n", s.Name.c_str(), rounds, kDragMoves,
                     kJumps);
        const int rc = RunProcess({"/proc/self/exe", "--window", file, out.string(), std::to_string(rounds)}, false);
        std::ifstream in(out / "result.txt");
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) s.R[line.substr(0, eq)] = line.substr(eq + 1);
        }
        s.Ran = rc == 0 && !s.R.empty();
        if (s.Ran) {
            std::vector<TKept> kept;
            std::ifstream list(out / "frames.txt");
            for (TKept k; list >> k.Position >> k.Kind >> k.File;) kept.push_back(k);
            s.Checked = int(kept.size());
            try {
                s.Wrong = CheckPictures(file, Num(s, "fps"), int(Num(s, "width")), int(Num(s, "height")),
                                        out.string(), kept, &s.MatchedRgb, &s.MatchedBgr);
            } catch (const std::exception& e) {
                std::printf("  %s: reference decode failed: %s\n", s.Name.c_str(), e.what());
                s.Wrong = s.Checked;
            }
            s.Wrong += int(Num(s, "timeouts"));  // an exact frame that never came is a wrong one
        } else {
            std::printf("  %s: the window run failed (exit %d)\n", s.Name.c_str(), rc);
        }
        fs::remove_all(out);
        Report(s, missed);
        rows.push_back(std::move(s));
    }
    fs::remove_all(home);
    int wrong = 0, failed = 0;
    for (const TSourceRow& s : rows) {
        wrong += s.Wrong;
        failed += !s.Ran;
    }

    std::printf("\ntargets missed: %d, wrong frames: %d, failed runs: %d\n", missed, wrong, failed);
    return wrong || failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--window") == 0) return WindowMain(argc, argv);
    return DriverMain(argc, argv);
}
