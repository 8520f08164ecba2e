// RenderClip end to end: rendered files hold exactly the chosen source
// frames (read back by the numbers the frames draw), with audio alongside.
#include "RenderTestUtil.h"

#include "convert/RenderClip.h"
#include "media/Compressors.h"
#include "media/RenderEngine.h"
#include "media/WmProfiles.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QString>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <ostream>
#include <sstream>

namespace {

using rendertest::TTestHost;
namespace fs = std::filesystem;

const char* const kDefaultProfile = "{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}";

class RenderClipTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw-render"); }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    std::string Movie(const std::string& name, testmovie::TMovieSpec spec) {
        const std::string path = Dir + "/" + name;
        testmovie::MakeTestMovie(path, spec);
        return path;
    }
    static testmovie::TMovieSpec Spec(const char* container, const char* video, const char* audio, int frames = 50,
                                      int num = 25, int den = 1, int bframes = 0) {
        testmovie::TMovieSpec s;
        s.Container = container;
        s.VideoCodec = video;
        s.AudioCodec = audio;
        s.Frames = frames;
        s.FrameRateNum = num;
        s.FrameRateDen = den;
        s.MaxBFrames = bframes;
        return s;
    }
    std::string Dir;
};

using rendertest::Range;

double Num(const std::map<std::string, std::string>& m, const char* key) {
    auto it = m.find(key);
    return it == m.end() || it->second == "N/A" ? -1 : std::stod(it->second);
}

// ------------------------------------------------------------- exact frames

struct TExactCase {
    const char* Name;
    const char* Container;
    const char* Video;
    const char* Audio;
    int Num, Den, BFrames;
    int Start, End;
    bool Wmv;
};
// gtest would print the bytes of the case, padding included.
void PrintTo(const TExactCase& c, std::ostream* os) { *os << c.Name; }

class ExactFrames : public RenderClipTest, public ::testing::WithParamInterface<TExactCase> {};

TEST_P(ExactFrames, OutputHoldsRangeStartToRangeEndMinusOne) {
    const TExactCase& c = GetParam();
    const std::string src = Movie(std::string("src.") + c.Container, Spec(c.Container, c.Video, c.Audio, 60, c.Num, c.Den, c.BFrames));
    const double rate = double(c.Num) / c.Den;
    const std::string out = Dir + (c.Wmv ? "/out.wmv" : "/out.avi");
    TTestHost host;
    host.Settings.WMVSelected = kDefaultProfile;
    host.Settings.VideoCompressor = c.Wmv ? nullptr : media::BindCompressorByName(media::TCompressorCategory::Video, "Motion JPEG");
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, rate, c.Start,
                           c.End, c.Wmv))
        << host.FailureReason.toStdString();
    EXPECT_EQ(host.Failures, 0);

    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    EXPECT_EQ(decoded.FrameNumbers, Range(c.Start, c.End));
    EXPECT_EQ(decoded.Width, 160);
    EXPECT_EQ(decoded.Height, 120);

    // Duration within a frame; audio and video start together.
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    const double clip = (c.End - c.Start) / rate;
    double starts[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        if (Num(streams[i], "duration") >= 0) {  // AVI gives PCM no duration of its own
            EXPECT_NEAR(Num(streams[i], "duration"), clip, 1.0 / rate + 0.05) << streams[i].at("codec_type");
        }
        starts[i] = Num(streams[i], "start_time");
    }
    EXPECT_LE(std::fabs(starts[0] - starts[1]), 1.0 / rate);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ExactFrames,
    ::testing::Values(TExactCase{"MjpegAviToWmv", "avi", "mjpeg", "pcm_s16le", 25, 1, 0, 10, 35, true},
                      TExactCase{"Mpeg4BFramesNtscToWmv", "mp4", "mpeg4", "aac", 30000, 1001, 2, 13, 47, true},
                      TExactCase{"WholeMovieToWmv", "avi", "mjpeg", "pcm_s16le", 25, 1, 0, 0, 60, true},
                      TExactCase{"Mpeg2ToAvi", "mpeg", "mpeg2video", "mp2", 25, 1, 2, 7, 31, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// A second, independent reader takes the file too.
TEST_F(RenderClipTest, SecondReaderReadsTheWmv) {
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 50));
    const std::string out = Dir + "/out.wmv";
    TTestHost host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 0, 50, true));
    std::string text;
    if (rendertest::Run("command -v mediainfo >/dev/null") == 0) {
        ASSERT_EQ(rendertest::Run("mediainfo --Inform='Video;%Format%|%Width%|%Height%' '" + out + "'", &text), 0);
        EXPECT_NE(text.find("|160|120"), std::string::npos) << text;
    } else if (rendertest::Run("command -v gst-discoverer-1.0 >/dev/null") == 0) {
        ASSERT_EQ(rendertest::Run("gst-discoverer-1.0 '" + out + "'", &text), 0);
        EXPECT_NE(text.find("Windows Media"), std::string::npos) << text;
    } else {
        GTEST_SKIP() << "neither mediainfo nor gst-discoverer-1.0 is installed";
    }
}

// ------------------------------------------------------------- profiles

struct TProfileCase {
    int Row;
    int Width, Height;   // 0: the group's 160 x 120
    double Rate;         // 0: the source's 25
    int SampleRate, Channels;  // 0: no audio stream
    bool Video;
};
void PrintTo(const TProfileCase& c, std::ostream* os) { *os << "Row" << c.Row; }

class Profiles : public RenderClipTest, public ::testing::WithParamInterface<TProfileCase> {};

TEST_P(Profiles, FileHasTheProfilesStreams) {
    const TProfileCase& c = GetParam();
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 25));
    const std::string out = Dir + "/out.wmv";
    TTestHost host;
    host.Settings.WMVSelected = QString::fromStdString(media::WmProfileDefs().at(static_cast<size_t>(c.Row)).Guid);
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 0, 25, true))
        << host.FailureReason.toStdString();
    const auto streams = rendertest::Probe(out);
    bool sawVideo = false, sawAudio = false;
    for (const auto& s : streams) {
        if (s.at("codec_type") == "video") {
            sawVideo = true;
            EXPECT_EQ(s.at("codec_name"), "wmv2");
            EXPECT_EQ(Num(s, "width"), c.Width ? c.Width : 160);
            EXPECT_EQ(Num(s, "height"), c.Height ? c.Height : 120);
            const double frames = Num(s, "nb_read_frames");
            EXPECT_NEAR(frames, std::round((c.Rate ? c.Rate : 25) * 1.0), 1);
        } else if (s.at("codec_type") == "audio") {
            sawAudio = true;
            EXPECT_EQ(s.at("codec_name"), "wmav2");
            EXPECT_EQ(Num(s, "sample_rate"), c.SampleRate);
            EXPECT_EQ(Num(s, "channels"), c.Channels);
        }
    }
    EXPECT_EQ(sawVideo, c.Video);
    EXPECT_EQ(sawAudio, c.SampleRate != 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, Profiles,
                         ::testing::Values(TProfileCase{0, 208, 160, 15, 44100, 2, true},
                                           TProfileCase{5, 160, 120, 7.5, 8000, 1, true},
                                           TProfileCase{11, 640, 480, 29.97, 44100, 2, true},
                                           TProfileCase{15, 160, 120, 15, 0, 0, true},
                                           TProfileCase{17, 0, 0, 0, 44100, 2, true},
                                           TProfileCase{20, 0, 0, 0, 22050, 1, false},
                                           TProfileCase{26, 0, 0, 0, 44100, 2, false}),
                         [](const auto& info) { return "Row" + std::to_string(info.param.Row); });

// A bit rate in a profile's name is what the file gets (within the rate
// control's slack).
TEST_F(RenderClipTest, ConstantBitRateProfileKeepsItsRate) {
    testmovie::TMovieSpec spec = Spec("avi", "mjpeg", "pcm_s16le", 100);
    spec.Width = 320;
    spec.Height = 240;
    const std::string src = Movie("src.avi", spec);
    const std::string out = Dir + "/out.wmv";
    TTestHost host;
    host.Settings.WMVSelected = "{BBC75500-33D2-4466-B86B-122B201CC9AE}";  // LAN 256 Kbps
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 320, 240, 0, 25, 0, 100, true));
    const double kbps = fs::file_size(out) * 8.0 / 4.0 / 1000.0;
    EXPECT_LT(kbps, 256 * 1.5);
    EXPECT_GT(kbps, 256 * 0.3);
}

// ------------------------------------------------------------- audio

TEST_F(RenderClipTest, SourceWithoutAudioGetsSilentTrackOfClipLength) {
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "", 50));
    const std::string out = Dir + "/out.avi";
    TTestHost host;
    host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, "Motion JPEG");
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 1, 25, 5, 45, false));
    const auto decoded = rendertest::DecodeFile(out);
    EXPECT_EQ(decoded.FrameNumbers, Range(5, 45));
    EXPECT_EQ(decoded.AudioSamples, 44100 * 40 / 25);  // row 1: 44.1 kHz 16 bit mono
    EXPECT_EQ(decoded.AudioPeak, 0.0);
}

TEST_F(RenderClipTest, SourceAudioIsCarried) {
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 50));
    const std::string out = Dir + "/out.avi";
    TTestHost host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 0, 50, false));
    EXPECT_GT(rendertest::DecodeFile(out).AudioPeak, 0.1);
}

struct TPcmCase {
    int Index;
    int Rate, Channels;
    const char* Codec;
};
void PrintTo(const TPcmCase& c, std::ostream* os) { *os << "Index" << c.Index; }

class PcmFormats : public RenderClipTest, public ::testing::WithParamInterface<TPcmCase> {};

TEST_P(PcmFormats, UncompressedAviHasTheTablesFormat) {
    const TPcmCase& c = GetParam();
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 25));
    const std::string out = Dir + "/out.avi";
    TTestHost host;
    host.Settings.VideoCompressor = nullptr;  // uncompressed RGB555
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120,
                           static_cast<uint16_t>(c.Index), 25, 0, 25, false));
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), "rawvideo");
    EXPECT_EQ(streams[0].at("pix_fmt"), "rgb555le");
    EXPECT_EQ(Num(streams[0], "nb_read_frames"), 25);
    EXPECT_EQ(streams[1].at("codec_name"), c.Codec);
    EXPECT_EQ(Num(streams[1], "sample_rate"), c.Rate);
    EXPECT_EQ(Num(streams[1], "channels"), c.Channels);
    EXPECT_EQ(rendertest::DecodeFile(out).FrameNumbers, Range(0, 25));
}

INSTANTIATE_TEST_SUITE_P(Rows, PcmFormats,
                         ::testing::Values(TPcmCase{0, 44100, 2, "pcm_s16le"}, TPcmCase{3, 44100, 1, "pcm_u8"},
                                           TPcmCase{6, 22050, 2, "pcm_u8"}, TPcmCase{7, 22050, 1, "pcm_u8"},
                                           TPcmCase{8, 44100, 2, "pcm_s16le"},  // no row: row 0
                                           TPcmCase{500, 44100, 2, "pcm_s16le"}),
                         [](const auto& info) { return "Index" + std::to_string(info.param.Index); });

// ------------------------------------------------------------- AVI compressors

struct TAviCase {
    const char* Video;  // friendly names
    const char* Audio;
    const char* VideoCodec;
    const char* AudioCodec;
};
void PrintTo(const TAviCase& c, std::ostream* os) { *os << c.VideoCodec; }

class AviCompressors : public RenderClipTest, public ::testing::WithParamInterface<TAviCase> {};

TEST_P(AviCompressors, FileHasTheCodecsAndEveryFrame) {
    const TAviCase& c = GetParam();
    if (!media::BindCompressorByName(media::TCompressorCategory::Video, c.Video) ||
        !media::BindCompressorByName(media::TCompressorCategory::Audio, c.Audio))
        GTEST_SKIP() << "encoder not in this FFmpeg";
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 20));
    const std::string out = Dir + "/out.avi";
    TTestHost host;
    host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, c.Video);
    host.Settings.AudioCompressor = media::BindCompressorByName(media::TCompressorCategory::Audio, c.Audio);
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 2, 17, false))
        << host.FailureReason.toStdString();
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), c.VideoCodec);
    EXPECT_EQ(Num(streams[0], "nb_read_frames"), 15);
    EXPECT_EQ(streams[1].at("codec_name"), c.AudioCodec);
    const auto decoded = rendertest::DecodeFile(out);
    EXPECT_EQ(decoded.FrameNumbers, Range(2, 17));
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, AviCompressors,
    ::testing::Values(TAviCase{"Cinepak by Radius", "MPEG Layer-3", "cinepak", "mp3"},
                      TAviCase{"Motion JPEG", "MPEG Layer-2", "mjpeg", "mp2"},
                      TAviCase{"MPEG-4 Part 2", "AC-3", "mpeg4", "ac3"},
                      TAviCase{"Microsoft MPEG-4 Video Codec V2", "IMA ADPCM", "msmpeg4v2", "adpcm_ima_wav"},
                      TAviCase{"Microsoft MPEG-4 Video Codec V3", "Microsoft ADPCM", "msmpeg4v3", "adpcm_ms"},
                      TAviCase{"Microsoft Video 1", "CCITT A-Law", "msvideo1", "pcm_alaw"},
                      TAviCase{"Huffyuv", "CCITT u-Law", "huffyuv", "pcm_mulaw"},
                      TAviCase{"FFV1 lossless", "PCM", "ffv1", "pcm_s16le"},
                      TAviCase{"Ut Video", "MPEG Layer-3", "utvideo", "mp3"},
                      TAviCase{"Zip Motion Blocks Video (ZMBV)", "MPEG Layer-2", "zmbv", "mp2"},
                      TAviCase{"H.264 (x264)", "AC-3", "h264", "ac3"}),
    [](const auto& info) {
        std::string n = info.param.VideoCodec;
        return n + "_" + info.param.AudioCodec;
    });

// Single-threaded encoders (Cinepak and others): a clip several seconds long
// is encoded in segments side by side, each with an encoder of its own. The
// file must still hold every frame once, in order, starting with a key frame.
struct TSegmentCase {
    const char* Video;  // friendly name
    const char* Codec;
};
void PrintTo(const TSegmentCase& c, std::ostream* os) { *os << c.Codec; }

class SegmentedEncoders : public RenderClipTest, public ::testing::WithParamInterface<TSegmentCase> {};

TEST_P(SegmentedEncoders, KeepEveryFrameInOrder) {
    const TSegmentCase& c = GetParam();
    if (!media::BindCompressorByName(media::TCompressorCategory::Video, c.Video))
        GTEST_SKIP() << "encoder not in this FFmpeg";
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 110));
    const std::string out = Dir + "/out.avi";
    TTestHost host;
    host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, c.Video);
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 3, 106, false))
        << host.FailureReason.toStdString();
    EXPECT_EQ(host.Failures, 0);
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    EXPECT_EQ(decoded.FrameNumbers, Range(3, 106));
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].at("codec_name"), c.Codec);
    EXPECT_EQ(Num(streams[0], "nb_read_frames"), 103);
    // Packet flags and stamps in file order: one packet per frame, stamped
    // 0, 1, 2, ..., the first a key frame, and more key frames further on.
    std::string packets;
    ASSERT_EQ(rendertest::Run("ffprobe -v error -select_streams v:0 -show_entries packet=pts,flags -of csv=p=0 '" + out + "'",
                              &packets), 0);
    std::istringstream lines(packets);
    std::string line;
    int n = 0, keys = 0;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        const auto comma = line.find(',');
        ASSERT_NE(comma, std::string::npos) << line;
        EXPECT_EQ(std::stoi(line.substr(0, comma)), n) << line;
        const bool key = line.substr(comma + 1).find('K') != std::string::npos;
        if (n == 0) {
            EXPECT_TRUE(key) << "the first frame is not a key frame";
        }
        keys += key ? 1 : 0;
        ++n;
    }
    EXPECT_EQ(n, 103);
    EXPECT_GE(keys, 4);
    // The audio runs the clip's length alongside.
    EXPECT_NEAR(double(decoded.AudioSamples) / Num(streams[1], "sample_rate"), 103 / 25.0, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Encoders, SegmentedEncoders,
                         ::testing::Values(TSegmentCase{"Cinepak by Radius", "cinepak"},
                                           TSegmentCase{"Microsoft Video 1", "msvideo1"},
                                           TSegmentCase{"Zip Motion Blocks Video (ZMBV)", "zmbv"},
                                           TSegmentCase{"Microsoft MPEG-4 Video Codec V2", "msmpeg4v2"}),
                         [](const auto& info) { return std::string(info.param.Codec); });

// The encoder's settings from the filter object reach the file.
TEST_F(RenderClipTest, CompressorSettingsAreUsed) {
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "", 25));
    auto render = [&](int quality, const std::string& name) {
        TTestHost host;
        host.Settings.WithAudio = false;
        host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, "Motion JPEG");
        EXPECT_TRUE(host.Settings.VideoCompressor->SetOption("quality", quality));
        const std::string out = Dir + "/" + name;
        EXPECT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 0, 25, false));
        return fs::file_size(out);
    };
    // The test pictures are flat blocks, so even quantiser 31 keeps much of the size.
    EXPECT_LT(double(render(31, "low.avi")) * 1.15, double(render(2, "high.avi")));
}

// ------------------------------------------------------------- refusals and failures

TEST_F(RenderClipTest, FrameRateZeroFailsWithoutMessage) {
    TTestHost host;
    EXPECT_FALSE(RenderClip(host, "x.avi", QString::fromStdString(Dir + "/o.wmv"), 320, 240, 0, 0.0, 0, 10, true));
    EXPECT_EQ(host.Failures, 0);
}

struct TRefusal {
    const char* Name;
    int Width, Height;
    bool Wmv;
    const char* Video;
    const char* Reason;  // part of the reason
};
void PrintTo(const TRefusal& c, std::ostream* os) { *os << c.Name; }

class Refusals : public RenderClipTest, public ::testing::WithParamInterface<TRefusal> {};

TEST_P(Refusals, SayWhyAndWriteNothing) {
    const TRefusal& c = GetParam();
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 10));
    const std::string out = Dir + (c.Wmv ? "/out.wmv" : "/out.avi");
    TTestHost host;
    if (*c.Video) host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, c.Video);
    EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out),
                            static_cast<uint16_t>(c.Width), static_cast<uint16_t>(c.Height), 0, 25, 0, 10, c.Wmv));
    EXPECT_EQ(host.FailureMessage, QString::fromStdString("Fail to make clip " + out));
    EXPECT_TRUE(host.FailureReason.contains(QString::fromLatin1(c.Reason))) << host.FailureReason.toStdString();
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusals,
    ::testing::Values(TRefusal{"WidthZero", 0, 240, true, "", "frame size"},
                      TRefusal{"HeightZeroAvi", 320, 0, false, "Motion JPEG", "frame size"},
                      TRefusal{"OddSizeWmv", 161, 121, true, "", "even width and height"},
                      TRefusal{"OddSizeMpeg4", 161, 120, false, "MPEG-4 Part 2", "even width and height"},
                      TRefusal{"Video1NeedsFourPixelBlocks", 162, 122, false, "Microsoft Video 1", "Microsoft Video 1"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RenderClipTest, MissingSourceFails) {
    TTestHost host;
    const std::string out = Dir + "/out.wmv";
    EXPECT_FALSE(RenderClip(host, QString::fromStdString(Dir + "/none.avi"), QString::fromStdString(out), 160, 120, 0,
                            25, 0, 10, true));
    EXPECT_EQ(host.Failures, 1);
    EXPECT_FALSE(fs::exists(out));
}

// Output below a regular file: the folder can not exist.
TEST_F(RenderClipTest, UnwritableOutputSaysFailToMakeClip) {
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 10));
    std::ofstream(Dir + "/plain") << "x";
    const QString out = QString::fromStdString(Dir + "/plain/out.wmv");
    TTestHost host;
    EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), out, 160, 120, 0, 25, 0, 10, true));
    EXPECT_EQ(host.FailureMessage, QStringLiteral("Fail to make clip ") + out);
    EXPECT_EQ(host.Failures, 1);
}

// A write failure while running (a full disk) ends in failure, not "Done.".
TEST_F(RenderClipTest, DiskFullWhileWritingFails) {
    if (!fs::exists("/dev/full")) GTEST_SKIP();
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 50));
    for (bool wmv : {true, false}) {
        TTestHost host;
        EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), "/dev/full", 160, 120, 0, 25, 0, 50, wmv));
        EXPECT_EQ(host.FailureMessage, QStringLiteral("Fail to make clip /dev/full"));
        EXPECT_FALSE(host.FailureReason.isEmpty());
        EXPECT_FALSE(host.BusyVisible);
        EXPECT_FALSE(host.TimeLeftVisible);
        // A device that was there is never removed.
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
    }
}

// ------------------------------------------------------------- stop

TEST_F(RenderClipTest, StopLeavesPlayablePartialFileAndCountsAsDone) {
    // Cinepak is slow enough that the stop comes part-way.
    testmovie::TMovieSpec spec = Spec("avi", "mjpeg", "pcm_s16le", 250);
    spec.Width = 320;
    spec.Height = 240;
    const std::string src = Movie("src.avi", spec);
    const std::string out = Dir + "/out.avi";
    TTestHost host;
    host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, "Cinepak by Radius");
    host.StopAfterPolls = 3;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 320, 240, 0, 25, 20, 250, false));
    EXPECT_EQ(host.Failures, 0);
    EXPECT_TRUE(host.Hourglass == false);
    EXPECT_EQ(host.Pauses, 1);
    EXPECT_FALSE(host.BusyVisible);
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    ASSERT_FALSE(decoded.FrameNumbers.empty());
    EXPECT_LT(decoded.FrameNumbers.size(), 230u);
    EXPECT_EQ(decoded.FrameNumbers, Range(20, 20 + static_cast<int>(decoded.FrameNumbers.size())));
    const auto streams = rendertest::Probe(out);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(Num(streams[0], "nb_read_frames"), double(decoded.FrameNumbers.size()));
}

// ------------------------------------------------------------- progress

TEST_F(RenderClipTest, ProgressCaptionsAndTimeLeft) {
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "", 150));
    TTestHost host;
    host.ShowPreview = true;
    host.Settings.WithAudio = false;
    host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, "Cinepak by Radius");
    // 320 x 240 Cinepak keeps the render running for several seconds even on
    // both cores, so the time left and the preview get their turns.
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(Dir + "/o.avi"), 320, 240, 0, 25,
                           0, 150, false));
    ASSERT_FALSE(host.BusyCaptions.isEmpty());
    for (const auto& c : host.BusyCaptions) EXPECT_TRUE(c.startsWith("Progress: ") && c.endsWith("%")) << c.toStdString();
    // The time left and the preview move once every 11 polls.
    const int polls = host.BusyCaptions.size();
    EXPECT_LE(host.TimeLeftCaptions.size(), polls / 11 + 1);
    EXPECT_LE(host.TimeLeftCaptions.size(), static_cast<qsizetype>(host.TrackBarPositions.size()));
    EXPECT_FALSE(host.TrackBarPositions.empty());
    for (const auto& c : host.TimeLeftCaptions) EXPECT_TRUE(c.startsWith("Finish in ")) << c.toStdString();
    for (int32_t p : host.TrackBarPositions) EXPECT_TRUE(p >= 0 && p < 150);
    EXPECT_FALSE(host.BusyVisible);
    EXPECT_FALSE(host.TimeLeftVisible);
}

// ------------------------------------------------------------- sources that change or end early

// Two recordings joined with cat, the sound of the second in another format:
// the sound goes on at the right speed to the clip's end, the pictures of
// both halves follow each other.
struct TJoinCase {
    const char* Name;
    int SecondRate, SecondChannels;
    bool Wmv;
};
void PrintTo(const TJoinCase& c, std::ostream* os) { *os << c.Name; }

class JoinedRecordings : public RenderClipTest, public ::testing::WithParamInterface<TJoinCase> {};

TEST_P(JoinedRecordings, SoundFollowsTheFormatChange) {
    const TJoinCase& c = GetParam();
    testmovie::TMovieSpec first = Spec("mpegts", "mpeg2video", "mp2", 25);
    testmovie::TMovieSpec second = first;
    second.SampleRate = c.SecondRate;
    second.Channels = c.SecondChannels;
    const std::string joined = Dir + "/joined.ts";
    rendertest::JoinFiles(Movie("a.ts", first), Movie("b.ts", second), joined);
    const std::string out = Dir + (c.Wmv ? "/out.wmv" : "/out.avi");
    TTestHost host;
    host.Settings.WMVSelected = kDefaultProfile;
    host.Settings.VideoCompressor = c.Wmv ? nullptr : media::BindCompressorByName(media::TCompressorCategory::Video, "Motion JPEG");
    const rendertest::TFileSizeLimit cap(50 << 20);
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(joined), QString::fromStdString(out), 160, 120, 0, 25, 0, 50,
                           c.Wmv))
        << host.FailureReason.toStdString();

    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    std::vector<int> frames = Range(0, 25);
    frames.insert(frames.end(), frames.begin(), frames.end());
    EXPECT_EQ(decoded.FrameNumbers, frames);
    ASSERT_GT(decoded.AudioRate, 0);
    EXPECT_NEAR(double(decoded.AudioSamples) / decoded.AudioRate, 2.0, 1.0 / 25 + 0.05);
    // Sound in every tenth of a second of both halves (at double speed the
    // second half would end early and silence would fill the rest).
    ASSERT_GE(decoded.AudioTenthPeaks.size(), 19u);
    for (size_t i = 0; i < 19; ++i) EXPECT_GT(decoded.AudioTenthPeaks[i], 0.05) << "tenth " << i;
}

INSTANTIATE_TEST_SUITE_P(Joins, JoinedRecordings,
                         ::testing::Values(TJoinCase{"MonoAfterStereoToWmv", 44100, 1, true},
                                           TJoinCase{"MonoAfterStereoToAvi", 44100, 1, false},
                                           TJoinCase{"HalfRateAfterFullRateToWmv", 22050, 2, true},
                                           TJoinCase{"HalfRateAfterFullRateToAvi", 22050, 2, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A clip that reaches past the movie's end ends with the movie, sound included.
struct TPastEndCase {
    const char* Name;
    int Start, End;
    bool Wmv;
};
void PrintTo(const TPastEndCase& c, std::ostream* os) { *os << c.Name; }

class ClipPastTheEnd : public RenderClipTest, public ::testing::WithParamInterface<TPastEndCase> {};

TEST_P(ClipPastTheEnd, IsCutAtTheMoviesLastFrame) {
    const TPastEndCase& c = GetParam();
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 10));
    const std::string out = Dir + (c.Wmv ? "/out.wmv" : "/out.avi");
    TTestHost host;
    host.Settings.WMVSelected = kDefaultProfile;
    host.Settings.VideoCompressor = c.Wmv ? nullptr : media::BindCompressorByName(media::TCompressorCategory::Video, "Motion JPEG");
    const rendertest::TFileSizeLimit cap(20 << 20);
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, c.Start,
                           c.End, c.Wmv))
        << host.FailureReason.toStdString();
    EXPECT_EQ(host.Failures, 0);
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    EXPECT_EQ(decoded.FrameNumbers, Range(c.Start, 10));
    ASSERT_GT(decoded.AudioRate, 0);
    EXPECT_NEAR(double(decoded.AudioSamples) / decoded.AudioRate, (10 - c.Start) / 25.0, 1.0 / 25 + 0.05);
    // The progress reached its end.
    ASSERT_FALSE(host.BusyCaptions.isEmpty());
    EXPECT_EQ(host.BusyCaptions.last(), QStringLiteral("Progress: 100%"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ClipPastTheEnd,
                         ::testing::Values(TPastEndCase{"OneFrameBeyondToAvi", 0, 11, false},
                                           TPastEndCase{"FarBeyondToWmv", 0, 1000, true},
                                           TPastEndCase{"ToTheLargestFrameNumberToAvi", 3, 2147483647, false},
                                           TPastEndCase{"ToTheLargestFrameNumberToWmv", 3, 2147483647, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Within the length the file states, the last frame that could be decoded
// still stays on screen to the clip's end (a truncated Matroska file keeps
// the length in its header).
TEST_F(RenderClipTest, TruncatedMovieRepeatsItsLastFrameWithinItsStatedLength) {
    testmovie::TMovieSpec spec = Spec("matroska", "mjpeg", "", 50);
    spec.TruncateFraction = 0.6;
    const std::string src = Movie("src.mkv", spec);
    const std::string out = Dir + "/out.avi";
    TTestHost host;
    host.Settings.WithAudio = false;
    host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, "Motion JPEG");
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 0, 50, false))
        << host.FailureReason.toStdString();
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.FrameNumbers.size(), 50u);
    const int last = decoded.FrameNumbers.back();
    ASSERT_GT(last, 10);
    ASSERT_LT(last, 45);
    std::vector<int> expected = Range(0, last + 1);
    expected.resize(50, last);
    EXPECT_EQ(decoded.FrameNumbers, expected);
}

// A source cut short while the clip is being made is a failure that names
// the frames that could not be read, not a clip whose last frames all show
// one frozen picture; nothing is left under the output's name.
class SourceCutShortWhileRendering : public RenderClipTest, public ::testing::WithParamInterface<TClipFormat> {};

TEST_P(SourceCutShortWhileRendering, FailsNamingTheFramesNotRead) {
    testmovie::TMovieSpec spec = Spec("avi", "mjpeg", "pcm_s16le", 600);
    spec.Width = 320;
    spec.Height = 240;
    const std::string src = Movie("src.avi", spec);
    const std::string out = Dir + (GetParam() == TClipFormat::Mp4 ? "/out.mp4" : "/out.wmv");
    // Cuts the source to a third at the first poll, while the render reads it.
    struct TCutter : TTestHost {
        std::string Source;
        void ProcessMessages() override {
            if (Polls++ == 0) fs::resize_file(Source, fs::file_size(Source) / 3);
        }
    } host;
    host.Source = src;
    host.Settings.WMVSelected = kDefaultProfile;
    const bool ok = RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 320, 240, 0, 25, 0, 600,
                               GetParam());
    if (ok && host.Failures == 0 && host.Polls <= 1) GTEST_SKIP() << "the render ended before the source was cut";
    EXPECT_EQ(host.Failures, 1);
    EXPECT_NE(host.FailureReason.indexOf("changed while the clip was being made"), -1) << host.FailureReason.toStdString();
    EXPECT_NE(host.FailureReason.indexOf(QRegularExpression("frames \\d+ to 599 could not be read")), -1)
        << host.FailureReason.toStdString();
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(Formats, SourceCutShortWhileRendering, ::testing::Values(TClipFormat::Wmv, TClipFormat::Mp4),
                         [](const auto& info) { return std::string(info.param == TClipFormat::Mp4 ? "Mp4" : "Wmv"); });

// Without a picture (an audio-only profile) the sound's end bounds the clip.
TEST_F(RenderClipTest, AudioOnlyClipPastTheEndIsCutToo) {
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 10));
    const std::string out = Dir + "/out.wma.wmv";
    TTestHost host;
    host.Settings.WMVSelected = QString::fromStdString(media::WmProfileDefs().at(20).Guid);  // sound only
    const rendertest::TFileSizeLimit cap(20 << 20);
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 0, 100000, true))
        << host.FailureReason.toStdString();
    const auto decoded = rendertest::DecodeFile(out);
    ASSERT_EQ(decoded.Error, "");
    EXPECT_TRUE(decoded.FrameNumbers.empty());
    ASSERT_GT(decoded.AudioRate, 0);
    EXPECT_NEAR(double(decoded.AudioSamples) / decoded.AudioRate, 0.4, 0.1);
}

TEST_F(RenderClipTest, ClipStartingAfterTheMoviesEndFailsAndLeavesNoFile) {
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "pcm_s16le", 10));
    for (bool wmv : {true, false}) {
        const std::string out = Dir + (wmv ? "/out.wmv" : "/out.avi");
        TTestHost host;
        host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, "Motion JPEG");
        EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 20, 30, wmv));
        EXPECT_EQ(host.FailureMessage, QString::fromStdString("Fail to make clip " + out));
        EXPECT_TRUE(host.FailureReason.contains("after the end of the movie")) << host.FailureReason.toStdString();
        EXPECT_FALSE(fs::exists(out));
    }
}

// Files whose video time base is broken (bytes patched after writing) claim
// that each frame lasts minutes or years. They are refused before anything is
// written instead of filling the disk with a repeated frame or silence.
struct TBrokenCase {
    const char* Name;
    const char* Container;
    const char* Video;
    const char* Audio;
    const char* Tag;  // where the number is
    int Offset;
    uint32_t Value;
    bool BigEndian;
};
void PrintTo(const TBrokenCase& c, std::ostream* os) { *os << c.Name; }

class BrokenTimeBases : public RenderClipTest, public ::testing::WithParamInterface<TBrokenCase> {};

TEST_P(BrokenTimeBases, AreRefusedBeforeWriting) {
    const TBrokenCase& c = GetParam();
    const std::string src = Movie(std::string("src.") + c.Container, Spec(c.Container, c.Video, c.Audio, 10));
    ASSERT_TRUE(rendertest::PatchAfterTag(src, c.Tag, 0, c.Offset, c.Value, c.BigEndian));
    const rendertest::TFileSizeLimit cap(20 << 20);
    for (bool wmv : {true, false}) {
        const std::string out = Dir + (wmv ? "/out.wmv" : "/out.avi");
        TTestHost host;
        host.Settings.VideoCompressor = media::BindCompressorByName(media::TCompressorCategory::Video, "Motion JPEG");
        EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 0, 10, wmv));
        EXPECT_EQ(host.Failures, 1);
        EXPECT_TRUE(host.FailureReason.contains("time stamps are broken")) << host.FailureReason.toStdString();
        EXPECT_FALSE(fs::exists(out));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenTimeBases,
    ::testing::Values(
        // strh of the video stream: dwScale (dwRate stays 25).
        TBrokenCase{"AviScale100000", "avi", "mjpeg", "pcm_s16le", "strh", 28, 100000, false},
        TBrokenCase{"AviScaleAllOnes", "avi", "mjpeg", "pcm_s16le", "strh", 28, 0xFFFFFFFFu, false},
        // stts of the video track: the first entry's frame duration.
        TBrokenCase{"Mp4HugeFirstFrameDuration", "mp4", "mpeg4", "aac", "stts", 16, 0x7FFFFFFFu, true},
        // mdhd of the video track: its time scale.
        TBrokenCase{"MovTimeScaleOne", "mov", "mpeg4", "pcm_s16le", "mdhd", 16, 1, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// A clip that would last more than a day of a movie that states no length.
TEST_F(RenderClipTest, ClipOfMoreThanADayIsRefused) {
    const std::string src = Movie("src.mjpeg", Spec("mjpeg", "mjpeg", "", 10));
    const std::string out = Dir + "/out.avi";
    TTestHost host;
    host.Settings.WithAudio = false;
    const rendertest::TFileSizeLimit cap(20 << 20);
    EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, 0,
                            25 * 3600 * 25, false));
    EXPECT_TRUE(host.FailureReason.contains("at most 24 hours")) << host.FailureReason.toStdString();
    EXPECT_FALSE(fs::exists(out));
}

struct TRangeCase {
    const char* Name;
    int32_t Start, End;
};
void PrintTo(const TRangeCase& c, std::ostream* os) { *os << c.Name; }

class EmptyRanges : public RenderClipTest, public ::testing::WithParamInterface<TRangeCase> {};

TEST_P(EmptyRanges, AreRefusedWithAMessage) {
    const TRangeCase& c = GetParam();
    const std::string src = Movie("src.avi", Spec("avi", "mjpeg", "", 10));
    const std::string out = Dir + "/out.wmv";
    TTestHost host;
    EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 160, 120, 0, 25, c.Start,
                            c.End, true));
    EXPECT_EQ(host.Failures, 1);
    EXPECT_TRUE(host.FailureReason.contains("holds no frame")) << host.FailureReason.toStdString();
    EXPECT_FALSE(fs::exists(out));
}

INSTANTIATE_TEST_SUITE_P(Cases, EmptyRanges,
                         ::testing::Values(TRangeCase{"NegativeStart", -1, 10}, TRangeCase{"EndAtStart", 10, 10},
                                           TRangeCase{"EndBeforeStart", 5, 3},
                                           TRangeCase{"WholeInt32Span", std::numeric_limits<int32_t>::min(),
                                                      std::numeric_limits<int32_t>::max()}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ------------------------------------------------------------- failed renders leave no half file

// The disk fills part-way (a file size limit): the render fails and takes
// away the file it created; a file the user had under that name stays.
TEST_F(RenderClipTest, FailurePartWayRemovesTheFileItCreated) {
    testmovie::TMovieSpec spec = Spec("avi", "mjpeg", "pcm_s16le", 50);
    spec.Width = 320;
    spec.Height = 240;
    const std::string src = Movie("src.avi", spec);
    for (bool wmv : {true, false}) {
        for (bool existed : {false, true}) {
            const std::string out = Dir + (wmv ? "/out.wmv" : "/out.avi");
            if (existed) std::ofstream(out) << "the user's own file";
            TTestHost host;
            host.Settings.VideoCompressor = nullptr;  // uncompressed: a large file
            {
                // A few frames in: the header and the first packets are written.
                const rendertest::TFileSizeLimit cap(wmv ? 24 << 10 : 400 << 10);
                EXPECT_FALSE(RenderClip(host, QString::fromStdString(src), QString::fromStdString(out), 320, 240, 0, 25,
                                        0, 50, wmv));
            }
            EXPECT_EQ(host.FailureMessage, QString::fromStdString("Fail to make clip " + out));
            EXPECT_TRUE(host.FailureReason.contains("File too large")) << host.FailureReason.toStdString();
            EXPECT_EQ(fs::exists(out), existed) << (wmv ? "wmv" : "avi") << (existed ? ", file was there" : "");
            fs::remove(out);
        }
    }
}

// ------------------------------------------------------------- running graphs

}  // namespace
