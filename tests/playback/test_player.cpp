// The player: sound and pictures in sync against a real sound server (the
// recording of its null sink), every frame at 1x, the exact frame on pause,
// directions and speeds, ranges and loops, playing without a sound device,
// and fwmedia play.
#include "SoundServer.h"

#include "fixtures/TestMovie.h"
#include "media/MovieReader.h"
#include "media/Player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;
using TSteady = std::chrono::steady_clock;

namespace {

constexpr int kW = 192, kH = 108;  // pictures as the tests take them: one band is 16 pixels wide

struct TShown {
    int64_t Frame = -1;
    int Drawn = -1;     // the number read from the picture
    bool Flash = false;
    bool Exact = false;
    TSteady::time_point At;
    std::shared_ptr<const media::TRgbPicture> Picture;
};

// What a player showed, as its events tell it.
struct TWatch {
    std::mutex Lock;
    std::vector<TShown> Shown;
    media::TPlayerEvents Events() {
        media::TPlayerEvents e;
        e.Frame = [this](const media::TPlayedFrame& f) {
            TShown s;
            s.Frame = f.Frame;
            s.Exact = f.Exact;
            s.At = f.ShownAt;
            if (f.Picture) {
                s.Drawn = playtest::ReadFlashFrame(f.Picture->Rgb.data(), f.Picture->Width, f.Picture->Height, &s.Flash);
                if (f.Exact) s.Picture = f.Picture;
            }
            std::lock_guard<std::mutex> g(Lock);
            Shown.push_back(std::move(s));
        };
        return e;
    }
    std::vector<TShown> Copy() {
        std::lock_guard<std::mutex> g(Lock);
        return Shown;
    }
    void Clear() {
        std::lock_guard<std::mutex> g(Lock);
        Shown.clear();
    }
    // Waits until a played (not paused) frame satisfying `pred` was shown.
    template <class P>
    bool WaitFor(P pred, std::chrono::milliseconds timeout) {
        const auto until = TSteady::now() + timeout;
        while (TSteady::now() < until) {
            {
                std::lock_guard<std::mutex> g(Lock);
                for (const auto& s : Shown)
                    if (!s.Exact && pred(s)) return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
};

std::vector<int64_t> Played(const std::vector<TShown>& shown) {
    std::vector<int64_t> out;
    for (const auto& s : shown)
        if (!s.Exact) out.push_back(s.Frame);
    return out;
}

class PlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = testmovie::MakeTempDir("fw-player");
        Hd = playtest::MakeFlashMovie(Dir, "hd.mp4", {});
        Vfr = playtest::MakeFlashMovie(Dir, "vfr.mp4", {640, 360, 6, true});
        Small = playtest::MakeFlashMovie(Dir, "small.mp4", {320, 180, 4, false});
    }
    static void TearDownTestSuite() { std::system(("rm -rf '" + Dir + "'").c_str()); }
    static inline std::string Dir, Hd, Vfr, Small;
};

bool HavePulseAudio() { return std::system("command -v pulseaudio >/dev/null && command -v parecord >/dev/null") == 0; }

// Whether a paused picture is frame `frame` as a plain read of the movie gives it.
void ExpectPlainFrame(const std::string& path, const TShown& shown) {
    ASSERT_TRUE(shown.Picture);
    media::TMovieReader reader;
    ASSERT_TRUE(reader.Open(path));
    media::TRgbPicture plain;
    ASSERT_TRUE(reader.FrameAt(shown.Frame, kW, kH, plain)) << reader.LastError();
    EXPECT_EQ(shown.Drawn, playtest::ReadFlashFrame(plain.Rgb.data(), kW, kH, nullptr));
    EXPECT_TRUE(plain.Rgb == shown.Picture->Rgb) << "paused on frame " << shown.Frame;
}

struct TSyncCase {
    const char* Name;
    bool VariableRate;
};

class PlayerSync : public PlayerTest, public ::testing::WithParamInterface<TSyncCase> {};

// Plays from frame 15 to the end with a pause in between, recording the
// sound server: each whole-second flash is shown within 20 ms of its click
// (p95; before and after the pause), the sound has no gap or repeat longer
// than 10 ms, every frame comes once in order, and the paused frame is the
// plain decode's.
TEST_P(PlayerSync, FlashMeetsClickAndEveryFrameComesOnce) {
    if (!HavePulseAudio()) GTEST_SKIP() << "pulseaudio is not installed (scripts/install-deps.sh)";
    const std::string path = GetParam().VariableRate ? Vfr : Hd;
    ASSERT_FALSE(path.empty());
    playtest::TSoundServer server;
    ASSERT_EQ(server.Problem(), "");
    ASSERT_TRUE(server.StartRecording());

    TWatch watch;
    media::TPlayer player(path, watch.Events());
    player.SetPictureSize(kW, kH);
    ASSERT_TRUE(player.WaitOpen(60s)) << player.State().Error;
    ASSERT_TRUE(player.State().Sound) << player.State().SoundNote;
    const int64_t frames = player.State().FrameCount;
    ASSERT_EQ(frames, 180);
    player.Seek(15);
    ASSERT_TRUE(player.WaitStopped(10s));
    watch.Clear();

    player.Play();
    ASSERT_TRUE(watch.WaitFor([](const TShown& s) { return s.Frame >= 75; }, 10s));
    player.Pause();
    ASSERT_TRUE(player.WaitStopped(5s));
    const auto paused = watch.Copy();
    ASSERT_FALSE(paused.empty());
    ASSERT_TRUE(paused.back().Exact);
    ExpectPlainFrame(path, paused.back());
    EXPECT_EQ(player.State().Position, paused.back().Frame);

    std::this_thread::sleep_for(300ms);
    player.Play();
    ASSERT_TRUE(player.WaitStopped(20s));
    std::this_thread::sleep_for(100ms);  // the last sound reaches the monitor
    server.StopRecording();
    const auto shown = watch.Copy();

    // Every frame from 16 to the end once, in order, each picture its own.
    const std::vector<int64_t> played = Played(shown);
    std::vector<int64_t> expected;
    for (int64_t n = 16; n < frames; ++n) expected.push_back(n);
    EXPECT_EQ(played, expected);
    for (const auto& s : shown) EXPECT_EQ(s.Drawn, s.Frame) << "frame " << s.Frame;

    // Each flash against the click nearest to it.
    const auto samples = server.Samples();
    const auto zero = server.SampleZero();
    const auto clicks = playtest::Onsets(samples, 0.6, 0.5);
    std::vector<double> offsets;
    for (const auto& s : shown) {
        if (s.Exact || s.Frame % 30 != 0) continue;
        EXPECT_TRUE(s.Flash) << "frame " << s.Frame;
        double best = 1e9;
        for (int64_t c : clicks) {
            const double at = std::chrono::duration<double>(zero - s.At).count() + double(c) / playtest::TSoundServer::kRate;
            if (std::abs(at) < std::abs(best)) best = at;
        }
        offsets.push_back(best);
    }
    ASSERT_EQ(offsets.size(), 5u);  // seconds 1 to 5
    std::vector<double> sorted;
    for (double o : offsets) sorted.push_back(std::abs(o));
    std::sort(sorted.begin(), sorted.end());
    const double p95 = sorted[std::min(sorted.size() - 1, std::size_t(std::ceil(0.95 * double(sorted.size())) - 1))];
    std::string all;
    for (double o : offsets) all += std::to_string(int(std::lround(o * 1000))) + " ";
    EXPECT_LE(p95, 0.020) << "click minus flash, ms: " << all;
    std::printf("click minus flash, ms: %s\n", all.c_str());

    // The soft ticks come every 100 ms while playing; the pause is the one longer step.
    const auto ticks = playtest::Onsets(samples, 0.15, 0.05);
    ASSERT_GE(ticks.size(), 50u);
    int pauses = 0;
    std::string steps;
    for (std::size_t i = 1; i < ticks.size(); ++i)
        steps += std::to_string(int(std::lround(double(ticks[i] - ticks[i - 1]) * 1000 / playtest::TSoundServer::kRate))) + " ";
    SCOPED_TRACE("steps between ticks, ms: " + steps);
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        const double step = double(ticks[i] - ticks[i - 1]) / playtest::TSoundServer::kRate;
        if (step > 0.35) {
            ++pauses;
            continue;
        }
        EXPECT_NEAR(step, 0.1, 0.010) << "between ticks " << i - 1 << " and " << i;
    }
    EXPECT_EQ(pauses, 1);
}

INSTANTIATE_TEST_SUITE_P(Movies, PlayerSync,
                         ::testing::Values(TSyncCase{"H264_1080p30", false}, TSyncCase{"VariableRateMp4", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Frames advanced per second of wall time while playing at `speed` from `from` for about `ms`.
double Rate(media::TPlayer& player, TWatch& watch, int64_t from, int speed, int ms, std::vector<int64_t>* frames) {
    player.Seek(from);
    player.WaitStopped(10s);
    watch.Clear();
    player.Play(speed);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    player.Pause();
    player.WaitStopped(10s);
    const auto shown = watch.Copy();
    *frames = Played(shown);
    std::vector<TShown> live;
    for (const auto& s : shown)
        if (!s.Exact) live.push_back(s);
    if (live.size() < 2) return 0;
    const double wall = std::chrono::duration<double>(live.back().At - live.front().At).count();
    return double(live.back().Frame - live.front().Frame) / wall;
}

// L (1x, 2x, 4x) and J (backward 1x, 2x, 4x): the direction and the speed.
TEST_F(PlayerTest, DirectionsAndSpeeds) {
    TWatch watch;
    media::TPlayerOptions quiet;
    quiet.Sound = false;
    media::TPlayer player(Small, watch.Events(), quiet);
    player.SetPictureSize(kW, kH);
    ASSERT_TRUE(player.WaitOpen(60s)) << player.State().Error;
    struct TCase {
        int Speed;
        int64_t From;
    };
    for (const TCase c : {TCase{1, 5}, TCase{2, 5}, TCase{4, 5}, TCase{-1, 110}, TCase{-2, 110}, TCase{-4, 110}}) {
        std::vector<int64_t> frames;
        const double rate = Rate(player, watch, c.From, c.Speed, 700, &frames);
        ASSERT_GE(frames.size(), 3u) << "speed " << c.Speed;
        for (std::size_t i = 1; i < frames.size(); ++i) {
            if (c.Speed > 0) EXPECT_GT(frames[i], frames[i - 1]) << "speed " << c.Speed;
            else EXPECT_LT(frames[i], frames[i - 1]) << "speed " << c.Speed;
        }
        // 30 frames a second times the speed, loosely: a busy machine drops pictures, not time.
        EXPECT_NEAR(rate, 30.0 * c.Speed, 30.0 * std::abs(c.Speed) * 0.35) << "speed " << c.Speed;
        for (const auto& s : watch.Copy()) EXPECT_EQ(s.Drawn, s.Frame) << "speed " << c.Speed;
    }
}

// The marked range plays from its start to RangeEnd - 1 and stops there
// (the exact frame shown); with the loop it starts again at its start.
TEST_F(PlayerTest, RangeStopsOnItsLastFrameAndLoops) {
    TWatch watch;
    media::TPlayerOptions quiet;
    quiet.Sound = false;
    media::TPlayer player(Small, watch.Events(), quiet);
    player.SetPictureSize(kW, kH);
    ASSERT_TRUE(player.WaitOpen(60s)) << player.State().Error;
    player.WaitStopped(10s);
    watch.Clear();
    player.PlayRange(20, 35, false);
    ASSERT_TRUE(player.WaitStopped(10s));
    auto shown = watch.Copy();
    std::vector<int64_t> expected;
    for (int64_t n = 20; n < 35; ++n) expected.push_back(n);
    std::vector<int64_t> all;
    for (const auto& s : shown) all.push_back(s.Frame);
    all.erase(std::unique(all.begin(), all.end()), all.end());
    EXPECT_EQ(all, expected);
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(shown.back().Exact);
    EXPECT_EQ(shown.back().Frame, 34);
    EXPECT_EQ(shown.back().Drawn, 34);
    EXPECT_EQ(player.State().Position, 34);

    watch.Clear();
    player.PlayRange(20, 30, true);
    int starts = 0;
    ASSERT_TRUE(watch.WaitFor(
        [&](const TShown&) {
            starts = 0;
            for (const auto& s : watch.Shown) starts += !s.Exact && s.Frame == 20;
            return starts >= 3;
        },
        10s));
    player.Pause();
    ASSERT_TRUE(player.WaitStopped(10s));
    for (const auto& s : watch.Copy()) {
        EXPECT_GE(s.Frame, 20);
        EXPECT_LT(s.Frame, 30);
    }
}

// Moving while playing jumps there and goes on playing.
TEST_F(PlayerTest, SeekWhilePlayingGoesOn) {
    TWatch watch;
    media::TPlayerOptions quiet;
    quiet.Sound = false;
    media::TPlayer player(Small, watch.Events(), quiet);
    player.SetPictureSize(kW, kH);
    ASSERT_TRUE(player.WaitOpen(60s)) << player.State().Error;
    player.Play();
    ASSERT_TRUE(watch.WaitFor([](const TShown& s) { return s.Frame >= 5; }, 10s));
    watch.Clear();
    player.Seek(80);
    ASSERT_TRUE(watch.WaitFor([](const TShown& s) { return s.Frame >= 90; }, 10s));
    EXPECT_TRUE(player.State().Playing);
    player.Pause();
    ASSERT_TRUE(player.WaitStopped(10s));
    const auto frames = Played(watch.Copy());
    ASSERT_FALSE(frames.empty());
    // Pictures of before the jump may still be on their way; from 80 on they follow one another.
    const auto at = std::find(frames.begin(), frames.end(), 80);
    ASSERT_NE(at, frames.end());
    for (auto it = at + 1; it != frames.end(); ++it) EXPECT_EQ(*it, *(it - 1) + 1);
}

// Without a sound server the movie plays silently and says why in one line.
TEST_F(PlayerTest, NoSoundDevicePlaysSilently) {
    const char* old = std::getenv("PULSE_SERVER");
    const std::string keep = old ? old : "";
    setenv("PULSE_SERVER", ("unix:" + Dir + "/no-server-here").c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    {
        TWatch watch;
        media::TPlayer player(Small, watch.Events());
        ASSERT_TRUE(player.WaitOpen(60s)) << player.State().Error;
        const auto st = player.State();
        EXPECT_FALSE(st.Sound);
        EXPECT_FALSE(st.SoundNote.empty());
        EXPECT_EQ(st.SoundNote.find('\n'), std::string::npos);
        player.PlayRange(0, 10, false);
        ASSERT_TRUE(player.WaitStopped(10s));
        EXPECT_EQ(player.State().Position, 9);
    }
    if (old) setenv("PULSE_SERVER", keep.c_str(), 1);
    else unsetenv("PULSE_SERVER");
    unsetenv("SDL_AUDIODRIVER");
}

// A file that is no movie: a clear sentence, no play.
TEST_F(PlayerTest, BadFilesSayWhy) {
    const std::string empty = Dir + "/empty.mp4";
    std::fclose(std::fopen(empty.c_str(), "wb"));
    for (const std::string& path : {Dir + "/missing.mp4", empty, Dir + "/ñame with space.mp4"}) {
        TWatch watch;
        media::TPlayer player(path, watch.Events());
        EXPECT_FALSE(player.WaitOpen(30s)) << path;
        EXPECT_FALSE(player.State().Error.empty()) << path;
        player.Play();  // ignored, nothing crashes
    }
}

std::string RunCommand(const std::string& command, int* rc) {
    std::string out;
    std::FILE* p = popen(command.c_str(), "r");
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    *rc = WEXITSTATUS(pclose(p));
    return out;
}

// fwmedia play prints every shown frame of the range with its time and the clock's.
TEST_F(PlayerTest, FwmediaPlayPrintsEachFrame) {
    int rc = 0;
    const std::string out = RunCommand(std::string(FWMEDIA_BIN) + " play '" + Vfr + "' 5 20 --no-sound", &rc);
    EXPECT_EQ(rc, 0) << out;
    std::vector<int64_t> frames;
    for (std::size_t at = 0; (at = out.find("frame ", at)) != std::string::npos; ++at) {
        long long n = 0;
        double t = 0, c = 0;
        if (std::sscanf(out.c_str() + at, "frame %lld time %lf clock %lf", &n, &t, &c) == 3 &&
            out.compare(out.find('\n', at) - 5, 5, "exact") != 0) {
            frames.push_back(n);
            EXPECT_NEAR(c, t, 0.05) << "frame " << n;
        }
    }
    std::vector<int64_t> expected;
    for (int64_t n = 5; n < 20; ++n) expected.push_back(n);
    EXPECT_EQ(frames, expected) << out;
    EXPECT_NE(out.find("position 19"), std::string::npos) << out;

    RunCommand(std::string(FWMEDIA_BIN) + " play '" + Dir + "/missing.mp4' 0 10 2>/dev/null", &rc);
    EXPECT_EQ(rc, 1);
    RunCommand(std::string(FWMEDIA_BIN) + " play '" + Vfr + "' 10 5 2>/dev/null", &rc);
    EXPECT_EQ(rc, 2);
}

}  // namespace
