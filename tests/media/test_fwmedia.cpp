// fwmedia probe and grab, run as a user would run them.
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

struct TRun {
    int Exit = -1;
    std::string Out;
};

TRun RunFwMedia(const std::string& args) {
    TRun r;
    std::FILE* p = popen((std::string(FWMEDIA_BIN) + " " + args + " 2>/dev/null").c_str(), "r");
    if (!p) return r;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) r.Out += buf;
    const int status = pclose(p);
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

class FwMedia : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw_fwmedia_"); }
    void TearDown() override { std::filesystem::remove_all(Dir); }
    std::string Dir;
};

TEST_F(FwMedia, ProbePrintsTheOpenMovieRecord) {
    testmovie::TMovieSpec s;
    s.Container = "asf";
    s.VideoCodec = "wmv2";
    s.AudioCodec = "wmav2";
    s.AudioFirst = true;
    s.Frames = 50;
    const std::string path = Dir + "/clip.wmv";
    testmovie::MakeTestMovie(path, s);
    const TRun r = RunFwMedia("probe " + Q(path));
    ASSERT_EQ(r.Exit, 0) << r.Out;
    EXPECT_NE(r.Out.find("VideoStream=1\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("FrameRate=25\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("FrameWidth=160\nFrameHeight=120\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("StreamLength="), std::string::npos);
    EXPECT_NE(r.Out.find("FrameCount="), std::string::npos);
}

TEST_F(FwMedia, ProbeWithoutVideo) {
    testmovie::TMovieSpec s;
    s.Container = "wav";
    s.VideoCodec = "";
    s.AudioCodec = "pcm_s16le";
    const std::string path = Dir + "/tone.wav";
    testmovie::MakeTestMovie(path, s);
    for (const std::string& file : {path, Dir + "/missing.avi"}) {
        const TRun r = RunFwMedia("probe " + Q(file));
        EXPECT_EQ(r.Exit, 1);
        EXPECT_EQ(r.Out, "Can not find the video stream in " + file + "\n");
    }
}

TEST_F(FwMedia, GrabWritesTheFrameAtThePositionAsBmp) {
    testmovie::TMovieSpec s;
    s.Container = "mp4";
    s.VideoCodec = "mpeg4";
    s.MaxBFrames = 2;
    s.FrameRateNum = 30000;
    s.FrameRateDen = 1001;
    s.Frames = 60;
    const std::string path = Dir + "/clip.mp4", out = Dir + "/f.bmp";
    testmovie::MakeTestMovie(path, s);
    for (const auto& [args, w, h] : {std::tuple{std::string("41"), 160, 120}, std::tuple{std::string("41 81 61"), 81, 61}}) {
        ASSERT_EQ(RunFwMedia("grab " + Q(path) + " " + args + " " + Q(out)).Exit, 0) << args;
        std::ifstream f(out, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), {});
        ASSERT_GT(bytes.size(), 54u);
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(bytes[1], 'M');
        const uint32_t fileSize = bytes[2] | bytes[3] << 8 | bytes[4] << 16 | uint32_t(bytes[5]) << 24;
        EXPECT_EQ(fileSize, bytes.size());
        EXPECT_EQ(bytes[10], 54);
        EXPECT_EQ(bytes[18], w);
        EXPECT_EQ(bytes[22], h);
        EXPECT_EQ(testmovie::ReadFrameNumberFromDib(bytes.data() + 14, bytes.size() - 14), 41) << args;
    }
    EXPECT_EQ(RunFwMedia("grab " + Q(path) + " -3 " + Q(out)).Exit, 2);
    EXPECT_EQ(RunFwMedia("grab " + Q(path) + " 3 0 10 " + Q(out)).Exit, 2);
    EXPECT_EQ(RunFwMedia("grab " + Q(path) + " 3 " + Q(Dir + "/no/such/folder/f.bmp")).Exit, 1);
}

}  // namespace

// A clip of an AVI with packed B-frames (its frames carry no timestamps of
// their own) written losslessly holds exactly the source's pictures of the
// range, the same ones the preview shows at those positions.
TEST_F(FwMedia, LosslessRenderHoldsTheRangesPictures) {
    const std::string src = std::string(FW_MEDIA_SAMPLES) + "/fate_packed_bframes.avi";
    if (!std::filesystem::exists(src)) GTEST_SKIP() << "sample missing";
    int w = 0, h = 0;
    const auto plain = testmovie::DecodeAllRgb(src, &w, &h);
    ASSERT_EQ(plain.size(), 15u);
    const std::string out = Dir + "/clip.avi";
    const TRun r = RunFwMedia("render " + Q(src) + " " + Q(out) + " 5 12 --avi --video-compressor " +
                              Q("FFV1 lossless") + " --no-audio --width " + std::to_string(w) + " --height " +
                              std::to_string(h));
    ASSERT_EQ(r.Exit, 0) << r.Out;
    int ow = 0, oh = 0;
    const auto clip = testmovie::DecodeAllRgb(out, &ow, &oh);
    ASSERT_EQ(clip.size(), 7u);
    for (std::size_t i = 0; i < clip.size(); ++i) EXPECT_TRUE(clip[i] == plain[5 + i]) << "output frame " << i;
}
