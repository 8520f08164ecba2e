// fwmedia probe and grab, run as a user would run them.
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace {

struct TRun {
    int Exit = -1;
    std::string Out;
};

// Runs fwmedia with the arguments; a run that hangs is ended after two minutes
// (exit 124). stderrToo: the messages are part of Out.
TRun RunFwMedia(const std::string& args, bool stderrToo = false) {
    TRun r;
    const std::string command =
        "timeout 120 " + std::string(FWMEDIA_BIN) + " " + args + (stderrToo ? " 2>&1" : " 2>/dev/null");
    std::FILE* p = popen(command.c_str(), "r");
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

// Headers whose frame rate no real movie has: an AVI scale of 100000 or
// 2^32-1 (ten frames lasting hours to decades), an MP4 whose frame duration
// is huge, a MOV with a time scale of 1. They are refused before anything is
// written, instead of turning ten frames into gigabytes.
TEST_F(FwMedia, AbsurdFrameRatesAreRefused) {
    auto read = [](const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(f)), {});
    };
    auto put32 = [](std::string& b, std::size_t at, uint32_t v, bool bigEndian) {
        for (int i = 0; i < 4; ++i) b[at + i] = char(bigEndian ? v >> (24 - 8 * i) : v >> (8 * i));
    };
    auto movie = [&](const char* container, const char* video, const char* name) {
        testmovie::TMovieSpec s;
        s.Container = container;
        s.VideoCodec = video;
        s.AudioCodec = "pcm_s16le";
        if (std::string(container) == "mp4") s.AudioCodec = "aac";
        s.Frames = 10;
        const std::string path = Dir + "/" + name;
        testmovie::MakeTestMovie(path, s);
        return read(path);
    };
    struct TCase {
        std::string Name, Bytes;
    };
    std::vector<TCase> cases;
    const std::string avi = movie("avi", "mjpeg", "src.avi");
    const std::size_t strh = avi.find("strh");
    ASSERT_NE(strh, std::string::npos);
    for (uint32_t scale : {100000u, 0xFFFFFFFFu}) {
        std::string b = avi;
        put32(b, strh + 8 + 20, scale, false);  // dwScale of the video stream header
        cases.push_back({"scale" + std::to_string(scale) + ".avi", b});
    }
    const std::string mp4 = movie("mp4", "libx264", "src.mp4");
    const std::size_t stts = mp4.find("stts");
    ASSERT_NE(stts, std::string::npos);
    std::string longFrames = mp4;
    put32(longFrames, stts + 16, 0x7FFFFFFF, true);  // the first entry's frame duration
    cases.push_back({"long.mp4", longFrames});
    const std::string mov = movie("mov", "mjpeg", "src.mov");
    const std::size_t mdhd = mov.find("mdhd");
    ASSERT_NE(mdhd, std::string::npos);
    std::string tinyScale = mov;
    put32(tinyScale, mdhd + 4 + 4 + (mov[mdhd + 4] == 1 ? 16 : 8), 1, true);  // the video track's time scale
    cases.push_back({"tiny.mov", tinyScale});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = Dir + "/" + c.Name, out = Dir + "/out.wmv";
        std::ofstream(path, std::ios::binary) << c.Bytes;
        const TRun probe = RunFwMedia("probe " + Q(path), true);
        EXPECT_NE(probe.Out.find("FrameRate=0\n"), std::string::npos) << probe.Out;
        EXPECT_NE(probe.Out.find("no usable frame rate"), std::string::npos) << probe.Out;
        const TRun render = RunFwMedia("render " + Q(path) + " " + Q(out) + " 0 10", true);
        EXPECT_EQ(render.Exit, 1) << render.Out;
        EXPECT_NE(render.Out.find("usable frame rate"), std::string::npos) << render.Out;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// A pipe (with nobody writing to it) or a device given as the movie gets a
// message at once instead of blocking for ever, whatever the command.
TEST_F(FwMedia, PipesAndDevicesAreRefusedAtOnce) {
    const std::string fifo = Dir + "/movie.avi";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& source : {fifo, std::string("/dev/zero")}) {
        for (const std::string& command :
             {"probe " + Q(source), "grab " + Q(source) + " 3 " + Q(Dir + "/f.bmp"),
              "render " + Q(source) + " " + Q(Dir + "/o.wmv") + " 0 10",
              "capture " + Q(source) + " " + Q(Dir + "/caps") + " 0 10 3 --type bmp"}) {
            SCOPED_TRACE(command);
            const TRun r = RunFwMedia(command, true);
            EXPECT_NE(r.Exit, 0);
            EXPECT_NE(r.Exit, 124) << "hung";
            EXPECT_NE(r.Out.find("not a regular file"), std::string::npos) << r.Out;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(Dir + "/o.wmv"));
}

// A stated picture size of 0, or a side beyond what the decoder takes (a
// damaged 65535), leaves the movie without usable video: probe and grab say
// so and fail instead of printing the record as a good one.
TEST_F(FwMedia, UnusablePictureSizesAreRefused) {
    testmovie::TMovieSpec s;
    s.Container = "avi";
    s.VideoCodec = "rawvideo";
    s.Frames = 5;
    const std::string good = Dir + "/good.avi";
    testmovie::MakeTestMovie(good, s);
    std::ifstream in(good, std::ios::binary);
    const std::string avi((std::istreambuf_iterator<char>(in)), {});
    const std::size_t strf = avi.find("strf");
    ASSERT_NE(strf, std::string::npos);
    auto put32 = [](std::string& b, std::size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (8 * i));
    };
    struct TCase {
        const char* Name;
        uint32_t Width, Height;
    } cases[] = {{"width0.avi", 0, 120}, {"height65535.avi", 160, 65535}, {"width20000.avi", 20000, 2}};
    {
        const TRun r = RunFwMedia("probe " + Q(good), true);
        EXPECT_EQ(r.Exit, 0) << r.Out;
    }
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string b = avi;
        put32(b, strf + 8 + 4, c.Width);   // biWidth of the video format
        put32(b, strf + 8 + 8, c.Height);  // biHeight
        const std::string path = Dir + "/" + c.Name;
        std::ofstream(path, std::ios::binary) << b;
        const TRun probe = RunFwMedia("probe " + Q(path), true);
        EXPECT_EQ(probe.Exit, 1) << probe.Out;
        EXPECT_NE(probe.Out.find("is not usable. The movie has no usable video."), std::string::npos) << probe.Out;
        const TRun grab = RunFwMedia("grab " + Q(path) + " 0 " + Q(Dir + "/f.bmp"), true);
        EXPECT_EQ(grab.Exit, 1) << grab.Out;
        EXPECT_NE(grab.Out.find("no usable video"), std::string::npos) << grab.Out;
        EXPECT_FALSE(std::filesystem::exists(Dir + "/f.bmp"));
    }
}
