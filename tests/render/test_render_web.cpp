// MP4 (H.264 + AAC) and WebM (VP9 + Opus) clips through RenderClip and
// fwmedia render, read back with libavformat and ffprobe: exact frames by the
// numbers they draw, codecs, sizes, colour tags and the pictures' colours, the
// index before the data, sound level with the picture, constant rate from a
// variable-rate source, stops, failures, and a second player (GStreamer).
#include "RenderTestUtil.h"

#include "convert/RenderClip.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <ostream>
#include <sstream>

namespace {

using rendertest::TTestHost;
namespace fs = std::filesystem;

using rendertest::Range;

using rendertest::GstPlayProblem;
using rendertest::MoovBeforeMdat;
using rendertest::Num;
using rendertest::Str;

// "30000/1001" as a number.
double RateOf(const std::string& text) {
    const auto slash = text.find('/');
    if (slash == std::string::npos) return std::stod(text);
    const double den = std::stod(text.substr(slash + 1));
    return den > 0 ? std::stod(text.substr(0, slash)) / den : 0;
}

// Presentation times (seconds) of the file's video frames.
std::vector<double> VideoFrameTimes(const std::string& path) {
    std::string out;
    rendertest::Run("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 '" + path + "'", &out);
    std::vector<double> times;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) times.push_back(std::stod(line));
    return times;
}

class RenderWebTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw-render-web"); }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    std::string Movie(const std::string& name, const testmovie::TMovieSpec& spec) {
        const std::string path = Dir + "/" + name;
        testmovie::MakeTestMovie(path, spec);
        return path;
    }
    static testmovie::TMovieSpec AviSpec(int frames = 40) {
        testmovie::TMovieSpec s;
        s.Container = "avi";
        s.VideoCodec = "mjpeg";
        s.AudioCodec = "pcm_s16le";
        s.Frames = frames;
        return s;
    }
    std::string Dir;
};

class WebKindsSync : public RenderWebTest, public ::testing::WithParamInterface<TClipFormat> {};

// ------------------------------------------------------------- the files

struct TWebCase {
    const char* Name;
    TClipFormat Format;
    const char* Container;
    const char* Video;
    const char* Audio;
    int SrcWidth, SrcHeight;
    int Num, Den, BFrames;
    int SampleRate, Channels;
    const char* ColourSpace;   // the source's matrix ("" BT.601)
    int Width, Height;         // asked for; 0 x 0 the source's
    int Start, End;
    // What the file must hold.
    int OutWidth, OutHeight;
    int OutRate, OutChannels;
};
void PrintTo(const TWebCase& c, std::ostream* os) { *os << c.Name; }

class WebOutputs : public RenderWebTest, public ::testing::WithParamInterface<TWebCase> {};

TEST_P(WebOutputs, HoldExactFramesInBt709WithSoundLevelAndIndexFirst) {
    const TWebCase& c = GetParam();
    const bool mp4 = c.Format == TClipFormat::Mp4;
    testmovie::TMovieSpec s;
    s.Container = c.Container;
    s.VideoCodec = c.Video;
    s.AudioCodec = c.Audio;
    s.Width = c.SrcWidth;
    s.Height = c.SrcHeight;
    s.FrameRateNum = c.Num;
    s.FrameRateDen = c.Den;
    s.MaxBFrames = c.BFrames;
    s.SampleRate = c.SampleRate;
    s.Channels = c.Channels;
    s.Frames = 48;
    s.Colourful = true;
    s.ColourSpace = c.ColourSpace;
    const std::string src = Movie(std::string("src.") + c.Container, s);
    const double rate = double(c.Num) / c.Den;
    const std::string out = Dir + (mp4 ? "/out.mp4" : "/out.webm");

    TTestHost host;
    host.Settings.WithAudio = false;  // the AVI choice; MP4 and WebM have their own
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), c.Width, c.Height, 0, rate,
                           c.Start, c.End, c.Format))
        << host.FailureReason.toStdString();
    EXPECT_EQ(host.Failures, 0);

    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    EXPECT_EQ(decoded.FrameNumbers, Range(c.Start, c.End));
    EXPECT_EQ(decoded.Width, c.OutWidth);
    EXPECT_EQ(decoded.Height, c.OutHeight);

    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    const auto& v = streams[0];
    const auto& a = streams[1];
    EXPECT_EQ(Str(v, "codec_name"), mp4 ? "h264" : "vp9");
    EXPECT_EQ(Str(a, "codec_name"), mp4 ? "aac" : "opus");
    EXPECT_EQ(Num(v, "nb_read_frames"), c.End - c.Start);
    EXPECT_EQ(Str(v, "pix_fmt"), "yuv420p");
    EXPECT_EQ(Str(v, "color_range"), "tv");
    EXPECT_EQ(Str(v, "color_space"), "bt709");
    EXPECT_EQ(Str(v, "color_primaries"), "bt709");
    EXPECT_EQ(Str(v, "color_transfer"), "bt709");
    EXPECT_NEAR(RateOf(Str(v, "avg_frame_rate")), rate, 1e-3);
    if (mp4) {
        EXPECT_GT(Num(v, "has_b_frames"), 0) << "x264 reorders; MP4 keeps it";
    }
    EXPECT_EQ(Num(a, "sample_rate"), c.OutRate);
    EXPECT_EQ(Num(a, "channels"), c.OutChannels);

    // The sound starts with the picture (the encoders' priming taken off by
    // the file's edit list or codec delay) and lasts as long.
    const double frame = 1.0 / rate, clip = (c.End - c.Start) / rate;
    EXPECT_NEAR(Num(v, "start_time"), 0, frame / 2);
    EXPECT_NEAR(Num(a, "start_time"), Num(v, "start_time"), frame);
    EXPECT_NEAR(double(decoded.AudioSamples) / c.OutRate, clip, frame + 0.03);
    if (mp4) EXPECT_NEAR(Num(v, "duration"), clip, frame / 2);  // WebM gives streams no length of their own
    // The source plays a tone all along: no stretch of the clip is silent.
    for (size_t i = 0; i + 1 < decoded.AudioTenthPeaks.size(); ++i)
        EXPECT_GT(decoded.AudioTenthPeaks[i], 0.05) << "tenth " << i;

    if (mp4) EXPECT_TRUE(MoovBeforeMdat(out));

    // The pictures are made in BT.709, as tagged: read with their tags, the
    // colours are the source's.
    if (c.OutWidth == c.SrcWidth && c.OutHeight == c.SrcHeight) {
        int sw = 0, sh = 0, ow = 0, oh = 0;
        const auto srcFrames = testmovie::DecodeAllRgb(src, &sw, &sh);
        const auto outFrames = testmovie::DecodeAllRgb(out, &ow, &oh);
        ASSERT_EQ(outFrames.size(), size_t(c.End - c.Start));
        ASSERT_GE(srcFrames.size(), size_t(c.End));
        for (size_t i = 0; i < outFrames.size(); i += 7) {
            const auto& o = outFrames[i];
            const auto& r = srcFrames[size_t(c.Start) + i];
            ASSERT_EQ(o.size(), r.size());
            double sum = 0;
            for (size_t k = 0; k < o.size(); ++k) sum += std::abs(int(o[k]) - int(r[k]));
            EXPECT_LT(sum / double(o.size()), 3.5) << "frame " << i;
        }
    }

    const std::string gst = GstPlayProblem(out);
    if (gst == "skip") GTEST_SKIP() << "gst-launch-1.0 is not installed; GStreamer playback not checked";
    EXPECT_EQ(gst, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WebOutputs,
    ::testing::Values(
        // name, kind, container, video, audio, source size, rate, B-frames, sound, matrix, asked size, range, expected
        TWebCase{"Mp4FromAviSameSize", TClipFormat::Mp4, "avi", "mjpeg", "pcm_s16le", 160, 120, 25, 1, 0, 44100, 2, "",
                 0, 0, 7, 37, 160, 120, 44100, 2},
        TWebCase{"Mp4FromNtscMp4WithBFramesScaled", TClipFormat::Mp4, "mp4", "mpeg4", "aac", 320, 240, 30000, 1001, 2,
                 48000, 1, "bt709", 160, 120, 5, 41, 160, 120, 48000, 1},
        // An odd source size rounds down to even; six channels become two.
        TWebCase{"Mp4FromOddSizeSixChannels", TClipFormat::Mp4, "avi", "mjpeg", "pcm_s16le", 161, 121, 25, 1, 0,
                 22050, 6, "", 0, 0, 0, 30, 160, 120, 22050, 2},
        TWebCase{"WebMFromAviSameSize", TClipFormat::WebM, "avi", "mjpeg", "pcm_s16le", 160, 120, 25, 1, 0, 44100, 2,
                 "", 0, 0, 7, 37, 160, 120, 48000, 2},
        TWebCase{"WebMFromMkvScaledMono", TClipFormat::WebM, "matroska", "mpeg4", "pcm_s16le", 320, 240, 24, 1, 2,
                 32000, 1, "", 192, 144, 3, 40, 192, 144, 48000, 1}),
    [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------------------- sound in step

// A tone that starts at exactly 1 s of the source starts 0.2 s into a clip
// from 0.8 s: the encoders' priming (AAC 1024 samples, Opus 312) neither
// shifts the sound nor is played in front of it.
TEST_P(WebKindsSync, ToneStartsWhereTheSourcesDoes) {
    const std::string src = Dir + "/onset.avi";
    ASSERT_EQ(rendertest::Run("ffmpeg -v error -y -f lavfi -i color=black:s=160x120:r=25:d=3 -f lavfi -i "
                              "\"aevalsrc='if(gte(t,1),0.5*sin(2*PI*1000*t),0)':s=44100:c=stereo:d=3\" "
                              "-c:v mjpeg -c:a pcm_s16le '" + src + "'"),
              0);
    const std::string out = Dir + (GetParam() == TClipFormat::Mp4 ? "/onset.mp4" : "/onset.webm");
    TTestHost host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, 25, 20, 60,
                           GetParam()))
        << host.FailureReason.toStdString();
    const auto streams = rendertest::Probe(out, false);
    ASSERT_EQ(streams.size(), 2u);
    const double onsetTime = rendertest::ToneOnsetSeconds(out);
    ASSERT_GE(onsetTime, 0) << "no tone in the clip";
    EXPECT_NEAR(onsetTime - Num(streams[0], "start_time"), 0.2, 0.006);
}

INSTANTIATE_TEST_SUITE_P(Kinds, WebKindsSync, ::testing::Values(TClipFormat::Mp4, TClipFormat::WebM),
                         [](const auto& info) { return std::string(info.param == TClipFormat::Mp4 ? "Mp4" : "WebM"); });

// ------------------------------------------------------------- variable rate

// A variable-rate source keeps its pictures' own times: positions are its
// pictures, and the clip of positions start .. end - 1 holds those pictures,
// each once, each lasting until the next as in the source.
TEST_F(RenderWebTest, VariableRateSourceKeepsItsPicturesTimes) {
    testmovie::TMovieSpec s;
    s.Container = "mp4";
    s.VideoCodec = "mpeg4";
    s.AudioCodec = "aac";
    s.Frames = 48;
    s.VariableRate = true;
    const std::string src = Movie("vfr.mp4", s);
    for (TClipFormat format : {TClipFormat::Mp4, TClipFormat::WebM}) {
        const std::string out = Dir + (format == TClipFormat::Mp4 ? "/vfr-out.mp4" : "/vfr-out.webm");
        SCOPED_TRACE(out);
        TTestHost host;
        const int start = 5, end = 37;
        ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, 25, start, end,
                               format))
            << host.FailureReason.toStdString();
        const auto decoded = rendertest::DecodeFile(out);
        ASSERT_EQ(decoded.Error, "");
        EXPECT_EQ(decoded.FrameNumbers, rendertest::Range(start, end));
        const auto times = VideoFrameTimes(out);
        ASSERT_EQ(times.size(), size_t(end - start));
        for (size_t i = 0; i < times.size(); ++i)
            EXPECT_NEAR(times[i] - times[0],
                        (testmovie::VariableRateStart(start + int(i)) - testmovie::VariableRateStart(start)) / 25, 0.0015)
                << i;
        const auto streams = rendertest::Probe(out, false);
        ASSERT_EQ(streams.size(), 2u);
        // The same mean rate (four pictures every four periods) where the file states one (WebM does not).
        if (format == TClipFormat::Mp4) EXPECT_NEAR(RateOf(Str(streams[0], "avg_frame_rate")), 25, 1);
    }
}

// An ASF file states no average rate, and for pictures at irregular times
// FFmpeg guesses one from the finest spacing (here twice the pictures' mean
// rate; 1000 fps for some real files). The rate comes from the pictures' own
// times instead: the clip holds about one output frame per picture, in
// order, and the movie's frame count says the same.
TEST_F(RenderWebTest, RateTheStampsDoNotFollowIsTakenFromThePictures) {
    testmovie::TMovieSpec s;
    s.Container = "asf";
    s.VideoCodec = "wmv2";
    s.Frames = 48;
    s.VariableRate = true;
    const std::string src = Movie("vfr.wmv", s);
    const auto stated = rendertest::Probe(src, false);
    ASSERT_EQ(stated.size(), 1u);
    ASSERT_EQ(Str(stated[0], "avg_frame_rate"), "0/0") << "the fixture must state no average rate";
    ASSERT_GE(RateOf(Str(stated[0], "r_frame_rate")), 45) << "the fixture's guessed rate must disagree";

    std::string probe;
    ASSERT_EQ(rendertest::Run("'" + std::string(FWMEDIA_BIN) + "' probe '" + src + "'", &probe), 0) << probe;
    EXPECT_NE(probe.find("FrameCount=48\n"), std::string::npos) << probe;

    const std::string out = Dir + "/pictures.mp4";
    TTestHost host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, 25, 0, 1000,
                           TClipFormat::Mp4))
        << host.FailureReason.toStdString();
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    EXPECT_GE(decoded.FrameNumbers.size(), 46u);
    EXPECT_LE(decoded.FrameNumbers.size(), 50u);
    EXPECT_TRUE(std::is_sorted(decoded.FrameNumbers.begin(), decoded.FrameNumbers.end()));
    const auto streams = rendertest::Probe(out, false);
    ASSERT_FALSE(streams.empty());
    EXPECT_NEAR(RateOf(Str(streams[0], "avg_frame_rate")), 25, 1.5);
}

// ------------------------------------------------------------- stop, sound off, failure

class WebKinds : public RenderWebTest, public ::testing::WithParamInterface<TClipFormat> {
protected:
    std::string Out(const char* stem) const {
        return Dir + "/" + stem + (GetParam() == TClipFormat::Mp4 ? ".mp4" : ".webm");
    }
};

// A stop part-way leaves a finished file (trailer, MP4 index first) holding
// the clip's first frames, and counts as done.
TEST_P(WebKinds, StopLeavesPlayableFile) {
    testmovie::TMovieSpec s = AviSpec(400);
    s.Width = 320;
    s.Height = 240;
    const std::string src = Movie("long.avi", s), out = Out("stopped");
    // Stops once some frames are written, however slow the machine (valgrind).
    struct TStopOnProgress : TTestHost {
        bool StopRequested() override {
            return !BusyCaptions.isEmpty() && BusyCaptions.back() != QStringLiteral("Progress: 0%");
        }
    } host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, 25, 10, 400,
                           GetParam()))
        << host.FailureReason.toStdString();
    EXPECT_EQ(host.Failures, 0);
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    ASSERT_FALSE(decoded.FrameNumbers.empty());
    EXPECT_LT(decoded.FrameNumbers.size(), 390u) << "the stop came after the end; nothing stopped";
    EXPECT_EQ(decoded.FrameNumbers, Range(10, 10 + int(decoded.FrameNumbers.size())));
    std::string err;
    EXPECT_EQ(rendertest::Run("ffprobe -v error -show_format '" + out + "' 2>&1 >/dev/null", &err), 0);
    EXPECT_EQ(err, "");
    if (GetParam() == TClipFormat::Mp4) EXPECT_TRUE(MoovBeforeMdat(out));
    const std::string gst = GstPlayProblem(out);
    if (gst != "skip") EXPECT_EQ(gst, "");
}

// The kind's own WithAudio decides, not the AVI one.
TEST_P(WebKinds, SoundFollowsTheKindsOwnChoice) {
    const std::string src = Movie("src.avi", AviSpec(20));
    for (const bool withAudio : {false, true}) {
        TTestHost host;
        host.Settings.WithAudio = !withAudio;
        (GetParam() == TClipFormat::Mp4 ? host.Settings.Mp4 : host.Settings.WebM).WithAudio = withAudio;
        const std::string out = Out(withAudio ? "with" : "without");
        ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, 25, 0, 20,
                               GetParam()))
            << host.FailureReason.toStdString();
        const auto streams = rendertest::Probe(out);
        ASSERT_EQ(streams.size(), withAudio ? 2u : 1u);
        EXPECT_EQ(Str(streams[0], "codec_type"), "video");
        EXPECT_EQ(Num(streams[0], "nb_read_frames"), 20);
    }
}

// A file below a regular file can not be made: a clear failure, and neither
// a file nor a change to the regular file.
TEST_P(WebKinds, UnwritablePlaceFailsClearlyAndLeavesNothing) {
    const std::string src = Movie("src.avi", AviSpec(10));
    const std::string blocker = Dir + "/plain";
    std::ofstream(blocker) << "keep";
    const std::string out = blocker + (GetParam() == TClipFormat::Mp4 ? "/out.mp4" : "/out.webm");
    TTestHost host;
    EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, 25, 0, 10,
                            GetParam()));
    EXPECT_EQ(host.Failures, 1);
    EXPECT_EQ(host.FailureMessage.toStdString(), "Fail to make clip " + out);
    EXPECT_NE(host.FailureReason.toStdString().find("can not be created"), std::string::npos)
        << host.FailureReason.toStdString();
    EXPECT_FALSE(fs::exists(out));
    std::ifstream in(blocker);
    std::string text;
    in >> text;
    EXPECT_EQ(text, "keep");
}

// Writing fails part-way (the disk fills): a failure with the reason, and the
// unfinished file is taken away.
TEST_P(WebKinds, DiskFullPartWayFailsAndRemovesTheFile) {
    testmovie::TMovieSpec s = AviSpec(200);
    s.Width = 320;
    s.Height = 240;
    s.Colourful = true;
    const std::string src = Movie("src.avi", s), out = Out("full");
    TTestHost host;
    bool ok = true;
    {
        rendertest::TFileSizeLimit limit(40000);
        ok = RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 0, 0, 0, 25, 0, 200, GetParam());
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(host.Failures, 1);
    EXPECT_NE(host.FailureReason.toStdString().find("failed"), std::string::npos) << host.FailureReason.toStdString();
    EXPECT_FALSE(fs::exists(out));
}

// A size the 4:2:0 pictures can not take is refused before a file is made.
TEST_P(WebKinds, OddSizeIsRefusedWithoutAFile) {
    const std::string src = Movie("src.avi", AviSpec(10)), out = Out("odd");
    TTestHost host;
    EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 161, 120, 0, 25, 0, 10,
                            GetParam()));
    EXPECT_NE(host.FailureReason.toStdString().find("choose an even width and height"), std::string::npos)
        << host.FailureReason.toStdString();
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(Kinds, WebKinds, ::testing::Values(TClipFormat::Mp4, TClipFormat::WebM),
                         [](const auto& info) { return std::string(info.param == TClipFormat::Mp4 ? "Mp4" : "WebM"); });

// ------------------------------------------------------------- fwmedia render

struct TRun {
    int Exit = -1;
    std::string Out;  // stdout and stderr together
};
TRun RunFwMedia(const std::string& args) {
    TRun r;
    r.Exit = rendertest::Run("exec " + std::string(FWMEDIA_BIN) + " " + args + " 2>&1", &r.Out);
    return r;
}

TEST_F(RenderWebTest, FwMediaWritesMp4AndWebMWithTheChoicesGiven) {
    const std::string src = Movie("src.avi", AviSpec(30));
    struct TCase {
        const char* Args;
        const char* File;
        const char* Video;
        const char* Audio;  // "" none
        int Width, Height;
        int AudioBitRate;   // about, bits per second; 0: not checked
    } cases[] = {
        {"--mp4", "default.mp4", "h264", "aac", 160, 120, 0},
        {"--mp4 --crf 30 --preset ultrafast --audio-bitrate 64 --width 96 --height 64", "chosen.mp4", "h264", "aac", 96,
         64, 64000},
        {"--webm --crf 40 --preset 8 --audio-bitrate 48", "chosen.webm", "vp9", "opus", 160, 120, 0},
        {"--webm --no-audio", "silent.webm", "vp9", "", 160, 120, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args);
        const std::string out = Dir + "/" + c.File;
        const TRun r = RunFwMedia("render '" + src + "' '" + out + "' 4 24 " + c.Args);
        ASSERT_EQ(r.Exit, 0) << r.Out;
        const auto streams = rendertest::Probe(out);
        ASSERT_EQ(streams.size(), *c.Audio ? 2u : 1u);
        EXPECT_EQ(Str(streams[0], "codec_name"), c.Video);
        EXPECT_EQ(Num(streams[0], "width"), c.Width);
        EXPECT_EQ(Num(streams[0], "height"), c.Height);
        EXPECT_EQ(Num(streams[0], "nb_read_frames"), 20);
        if (*c.Audio) EXPECT_EQ(Str(streams[1], "codec_name"), c.Audio);
        if (c.AudioBitRate > 0) EXPECT_NEAR(Num(streams[1], "bit_rate"), c.AudioBitRate, c.AudioBitRate * 0.25);
        EXPECT_EQ(rendertest::DecodeFile(out).FrameNumbers, Range(4, 24));
    }
}

struct TBadWeb {
    const char* Name;
    const char* Args;
    int Exit;
    const char* Says;
};
class FwMediaBadWebChoices : public RenderWebTest, public ::testing::WithParamInterface<TBadWeb> {};

TEST_P(FwMediaBadWebChoices, AreRefusedWithAMessageAndNoFile) {
    const TBadWeb& c = GetParam();
    const std::string src = Movie("src.avi", AviSpec(10)), out = Dir + "/out.mp4";
    const TRun r = RunFwMedia("render '" + src + "' '" + out + "' 0 10 " + c.Args);
    EXPECT_EQ(r.Exit, c.Exit) << r.Out;
    EXPECT_NE(r.Out.find(c.Says), std::string::npos) << r.Out;
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FwMediaBadWebChoices,
    ::testing::Values(TBadWeb{"Mp4CrfTooHigh", "--mp4 --crf 52", 2, "CRF) must be from 0 to 51, not 52"},
                      TBadWeb{"WebMCrfTooHigh", "--webm --crf 64", 2, "CRF) must be from 0 to 63, not 64"},
                      TBadWeb{"CrfNotANumber", "--mp4 --crf high", 2, "--crf takes a whole number"},
                      TBadWeb{"NegativeCrf", "--mp4 --crf -1", 2, "--crf takes a whole number"},
                      TBadWeb{"UnknownPreset", "--mp4 --preset fastest", 2, "preset \"fastest\" is not known"},
                      TBadWeb{"WebMPresetNotADigit", "--webm --preset fast", 2, "must be a digit from 0 to 8"},
                      TBadWeb{"WebMPresetTooHigh", "--webm --preset 9", 2, "must be a digit from 0 to 8"},
                      TBadWeb{"AudioBitRateWord", "--mp4 --audio-bitrate lots", 2, "--audio-bitrate takes"},
                      TBadWeb{"AudioBitRateTooHigh", "--webm --audio-bitrate 600", 2, "from 6 to 510 kb/s"},
                      TBadWeb{"CrfWithoutKind", "--crf 20", 2, "go with --mp4 or --webm"},
                      TBadWeb{"TwoKinds", "--mp4 --webm", 2, "Choose one of"},
                      TBadWeb{"WidthAlone", "--mp4 --width 96", 2, "Give both --width and --height"},
                      TBadWeb{"OddWidth", "--mp4 --width 97 --height 64", 1, "choose an even width and height"}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
