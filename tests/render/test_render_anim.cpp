// GIF and WebP animations (TClipFormat::Gif / WebP): frame count, rate, size
// and loop flag read back from the files themselves, the frames' numbers, and
// the GIF's palette against the command line's two-pass palette pipeline on
// the same frames.
#include "RenderTestUtil.h"
#include "convert/RenderClip.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using rendertest::Num;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le(const std::string& s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(s[at + size_t(i)]);
    return v;
}

// An animated WebP as its RIFF chunks tell it (no decoder needed): canvas
// size, loop count, and each frame's duration in milliseconds.
struct TWebPFacts {
    bool Animated = false;
    int Width = 0, Height = 0;
    int Loops = -1;  // 0: for ever
    std::vector<int> Durations;
};

TWebPFacts ReadWebP(const std::string& path) {
    TWebPFacts f;
    const std::string s = ReadAll(path);
    if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0 || s.compare(8, 4, "WEBP") != 0) return f;
    for (size_t i = 12; i + 8 <= s.size();) {
        const std::string tag = s.substr(i, 4);
        const size_t size = Le(s, i + 4, 4);
        const size_t data = i + 8;
        if (data + size > s.size()) break;
        if (tag == "VP8X" && size >= 10) {
            f.Animated = (uint8_t(s[data]) & 0x02) != 0;
            f.Width = int(Le(s, data + 4, 3)) + 1;
            f.Height = int(Le(s, data + 7, 3)) + 1;
        } else if (tag == "ANIM" && size >= 6) {
            f.Loops = int(Le(s, data + 4, 2));
        } else if (tag == "ANMF" && size >= 16) {
            f.Durations.push_back(int(Le(s, data + 12, 3)));
        }
        i = data + size + (size & 1);
    }
    return f;
}

// A GIF's loop count from its NETSCAPE2.0 block; -1 when it has none (plays once).
int GifLoops(const std::string& path) {
    const std::string s = ReadAll(path);
    const size_t at = s.find("NETSCAPE2.0");
    if (at == std::string::npos || at + 15 > s.size()) return -1;
    return int(Le(s, at + 13, 2));
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return -1;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

class AnimTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw-render-anim"); }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    // Lossless RGB frames, so that the animation's own loss is all that is measured.
    std::string Source(int fps, int frames, int width = 320, int height = 180) {
        testmovie::TMovieSpec s;
        s.Container = "matroska";
        s.VideoCodec = "ffv1";
        s.PixelFormat = "bgr0";
        s.Width = width;
        s.Height = height;
        s.FrameRateNum = fps;
        s.Frames = frames;
        s.Colourful = true;
        const std::string path = Dir + "/src-" + std::to_string(fps) + ".mkv";
        if (!fs::exists(path)) testmovie::MakeTestMovie(path, s);
        return path;
    }
    bool Render(rendertest::TTestHost& host, const std::string& src, const std::string& out, int start, int end,
                double rate, TClipFormat format) {
        return RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, rate, start, end,
                          format);
    }
    std::string Dir;
};

struct TAnimCase {
    const char* Name;
    TClipFormat Format;
    int Fps, Width;
    bool Loop;
    int Dither;
    bool PerScene;
};
void PrintTo(const TAnimCase& c, std::ostream* os) { *os << c.Name; }

class AnimFiles : public AnimTest, public ::testing::WithParamInterface<TAnimCase> {};

// A 30 fps source, frames 6 .. 65 (two seconds): the animation holds the
// frame on screen at each of its own ticks.
TEST_P(AnimFiles, HoldTheirFramesAtTheirRateSizeAndLoop) {
    const TAnimCase& c = GetParam();
    const std::string src = Source(30, 72);
    const std::string out = Dir + "/clip." + (c.Format == TClipFormat::Gif ? "gif" : "webp");
    rendertest::TTestHost host;
    TAnimSettings& a = c.Format == TClipFormat::Gif ? host.Settings.Gif : host.Settings.WebP;
    a.Fps = c.Fps;
    a.Width = c.Width;
    a.Loop = c.Loop;
    a.Dither = c.Dither;
    a.PalettePerScene = c.PerScene;
    ASSERT_TRUE(Render(host, src, out, 6, 66, 30, c.Format)) << host.FailureReason.toStdString();
    const int frames = 2 * c.Fps;
    const int height = int(std::lround(c.Width * 180.0 / 320 / 2)) * 2;
    if (c.Format == TClipFormat::Gif) {
        const auto streams = rendertest::Probe(out);
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(Num(streams[0], "nb_read_frames"), frames);
        EXPECT_EQ(Num(streams[0], "width"), c.Width);
        EXPECT_EQ(Num(streams[0], "height"), height);
        // GIF delays are in hundredths: the mean rate is the asked one.
        EXPECT_NEAR(Num(streams[0], "duration"), 2.0, 0.011);
        EXPECT_EQ(GifLoops(out), c.Loop ? 0 : -1);
        const auto decoded = rendertest::DecodeFile(out);
        ASSERT_EQ(decoded.Error, "");
        std::vector<int> expected;
        for (int n = 0; n < frames; ++n) expected.push_back(6 + int(std::floor(n * 30.0 / c.Fps + 1e-9)));
        EXPECT_EQ(decoded.FrameNumbers, expected);
    } else {
        const TWebPFacts f = ReadWebP(out);
        EXPECT_TRUE(f.Animated);
        EXPECT_EQ(f.Width, c.Width);
        EXPECT_EQ(f.Height, height);
        EXPECT_EQ(int(f.Durations.size()), frames);
        int total = 0;
        for (int d : f.Durations) total += d;
        EXPECT_NEAR(total, 2000, frames);  // whole milliseconds a frame
        EXPECT_EQ(f.Loops, c.Loop ? 0 : 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnimFiles,
    ::testing::Values(TAnimCase{"GifLoopingErrorDiffusion", TClipFormat::Gif, 15, 320, true, 2, false},
                      TAnimCase{"GifOnceBayerScenes", TClipFormat::Gif, 10, 240, false, 1, true},
                      TAnimCase{"GifNoDither30Fps", TClipFormat::Gif, 30, 160, true, 0, false},
                      TAnimCase{"WebPLooping", TClipFormat::WebP, 15, 320, true, 2, false},
                      TAnimCase{"WebPOnce5Fps", TClipFormat::WebP, 5, 200, false, 2, false}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TDitherCase {
    const char* Name;
    int Dither;
    const char* FfmpegDither;
};
void PrintTo(const TDitherCase& c, std::ostream* os) { *os << c.Name; }

class GifPalette : public AnimTest, public ::testing::WithParamInterface<TDitherCase> {};

// The same frames (a 15 fps source at the GIF's size, so nothing is scaled
// or dropped) through the command line's two passes: palettegen, then
// paletteuse with the same dithering. Every frame of ours is within 0.5 dB.
TEST_P(GifPalette, EveryFrameAsCloseAsTheCommandLinesTwoPasses) {
    const TDitherCase& c = GetParam();
    const std::string src = Source(15, 30);
    const std::string ours = Dir + "/ours.gif", ref = Dir + "/ref.gif", palette = Dir + "/palette.png";
    rendertest::TTestHost host;
    host.Settings.Gif.Fps = 15;
    host.Settings.Gif.Width = 320;
    host.Settings.Gif.Dither = c.Dither;
    ASSERT_TRUE(Render(host, src, ours, 0, 30, 15, TClipFormat::Gif)) << host.FailureReason.toStdString();
    std::string log;
    ASSERT_EQ(rendertest::Run("ffmpeg -nostdin -v error -y -i '" + src + "' -vf palettegen=stats_mode=full '" + palette +
                                  "' && ffmpeg -nostdin -v error -y -i '" + src + "' -i '" + palette +
                                  "' -lavfi '[0:v][1:v]paletteuse=dither=" + c.FfmpegDither + "' '" + ref + "' 2>&1",
                              &log),
              0)
        << log;
    int w = 0, h = 0;
    const auto source = testmovie::DecodeAllRgb(src, &w, &h);
    const auto mine = testmovie::DecodeAllRgb(ours, &w, &h);
    const auto theirs = testmovie::DecodeAllRgb(ref, &w, &h);
    ASSERT_EQ(source.size(), 30u);
    ASSERT_EQ(mine.size(), 30u);
    ASSERT_EQ(theirs.size(), 30u);
    for (size_t i = 0; i < source.size(); ++i) {
        const double a = Psnr(source[i], mine[i]), b = Psnr(source[i], theirs[i]);
        EXPECT_GE(a, b - 0.5) << "frame " << i << ": ours " << a << " dB, the command line's " << b << " dB";
        EXPECT_GT(a, 20) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Dithers, GifPalette,
                         ::testing::Values(TDitherCase{"None", 0, "none"},
                                           TDitherCase{"Bayer", 1, "bayer:bayer_scale=2"},
                                           TDitherCase{"ErrorDiffusion", 2, "sierra2_4a"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Wrong choices are refused before a file is made.
TEST_F(AnimTest, ARateOutsideFiveToThirtyIsRefused) {
    const std::string src = Source(30, 72);
    for (int fps : {4, 31}) {
        rendertest::TTestHost host;
        host.Settings.Gif.Fps = fps;
        const std::string out = Dir + "/bad.gif";
        EXPECT_FALSE(Render(host, src, out, 0, 30, 30, TClipFormat::Gif));
        EXPECT_NE(host.FailureReason.toStdString().find("5 to 30"), std::string::npos) << host.FailureReason.toStdString();
        EXPECT_FALSE(fs::exists(out));
    }
}

}  // namespace
