// Key frames come from the packets alone and name the frames ffprobe's packet
// flags name, on generated movies of every kind of group of pictures and on
// the real samples.
#include "tests/fixtures/TestMovie.h"

#include "media/MovieReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using media::TMovieReader;
using testmovie::TMovieSpec;

std::string Run(const std::string& command) {
    std::string out;
    std::FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// The key frames by ffprobe: the packets flagged K, placed on the reader's
// frames by their presentation time (the frame whose time shows them).
std::vector<int64_t> ProbedKeyFrames(const std::string& path, const media::TMovieFacts& facts) {
    const std::string out = Run("ffprobe -v error -select_streams " + std::to_string(facts.VideoStream) +
                                " -show_entries packet=pts_time,flags -of csv=p=0 '" + path + "'");
    std::vector<double> all, keys;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto comma = line.find(',');
        if (comma == std::string::npos || line.compare(0, comma, "N/A") == 0) continue;
        const double t = std::stod(line.substr(0, comma));
        all.push_back(t);
        if (line.find('K', comma) != std::string::npos && line.find('D', comma) == std::string::npos) keys.push_back(t);
    }
    if (all.empty()) return {};
    // Frames count from the first picture the decoder gives (leading pictures
    // of an open group at the start are not shown); where every picture is
    // listed (frames off one grid), from the first listed one.
    double origin = *std::min_element(all.begin(), all.end());
    const std::string first = Run("ffprobe -v error -select_streams " + std::to_string(facts.VideoStream) +
                                  " -read_intervals %+#200 -show_entries frame=best_effort_timestamp_time -of csv=p=0 '" +
                                  path + "'");
    if (facts.FrameTimes.empty() && !first.empty() && first.compare(0, 3, "N/A") != 0) origin = std::stod(first);
    std::vector<int64_t> frames;
    for (const double t : keys) {
        const double s = t - origin;
        int64_t f;
        if (facts.FrameTimes.empty()) {
            f = int64_t(std::ceil(s * facts.FrameRate - 0.25 - 1e-9));
        } else {
            const auto& times = facts.FrameTimes;
            f = std::lower_bound(times.begin(), times.end(), s - 1e-4) - times.begin();
        }
        if (f >= 0 && f < facts.FrameCount) frames.push_back(f);
    }
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    return frames;
}

struct TCase {
    const char* Name;
    const char* File;
    TMovieSpec Spec;
    int MinKeys;  // key frames the movie has at least (its groups of pictures)
};

TMovieSpec Spec(const char* container, const char* video, int gop, int bframes, bool openGop = false) {
    TMovieSpec s;
    s.Container = container;
    s.VideoCodec = video;
    s.AudioCodec = "";
    s.GopSize = gop;
    s.MaxBFrames = bframes;
    s.OpenGop = openGop;
    s.Frames = 60;
    s.Width = 96;
    s.Height = 64;
    return s;
}

void PrintTo(const TCase& c, std::ostream* os) { *os << c.Name; }

const TCase kCases[] = {
    {"h264_closed_mp4", "closed.mp4", Spec("mp4", "libx264", 12, 2), 5},
    {"h264_open_mp4", "open.mp4", Spec("mp4", "libx264", 12, 3, true), 2},
    {"h264_open_mkv", "open.mkv", Spec("matroska", "libx264", 12, 3, true), 2},
    {"h264_closed_ts", "closed.ts", Spec("mpegts", "libx264", 10, 2), 6},
    {"hevc_mp4", "hevc.mp4", Spec("mp4", "libx265", 15, 2), 4},
    {"mpeg2_ts", "mpeg2.ts", Spec("mpegts", "mpeg2video", 15, 2), 4},
    {"vp9_webm", "vp9.webm", Spec("webm", "libvpx-vp9", 20, 0), 3},
    {"mjpeg_avi", "all.avi", Spec("avi", "mjpeg", 1, 0), 60},
};

class KeyFramesGenerated : public ::testing::TestWithParam<TCase> {
protected:
    static void SetUpTestSuite() { Dir = new std::string(testmovie::MakeTempDir("fw_keys_")); }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(*Dir);
        delete Dir;
    }
    static std::string* Dir;
};
std::string* KeyFramesGenerated::Dir = nullptr;

TEST_P(KeyFramesGenerated, EqualFfprobePacketFlagsWithoutDecoding) {
    const TCase& c = GetParam();
    const std::string path = *Dir + "/" + c.File;
    testmovie::MakeTestMovie(path, c.Spec);
    TMovieReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.LastError();
    const TMovieReader::TKeyFrames keys = reader.KeyFrames();
    EXPECT_EQ(keys.Error, "");
    EXPECT_EQ(reader.Stats().FramesDecoded, 0u) << "key frames must come without decoding";
    EXPECT_EQ(keys.Frames, ProbedKeyFrames(path, reader.Facts()));
    ASSERT_FALSE(keys.Frames.empty());
    EXPECT_EQ(keys.Frames.front(), 0);
    EXPECT_GE(int(keys.Frames.size()), c.MinKeys);
    // Each key frame is the picture of that number (the frame clock's frame).
    for (size_t i = 0; i < keys.Frames.size(); i += 2) {
        media::TRgbPicture picture;
        ASSERT_TRUE(reader.FrameAt(keys.Frames[i], 96, 64, picture)) << reader.LastError();
        EXPECT_EQ(testmovie::ReadFrameNumber(picture.Rgb.data(), 96, 64), keys.Frames[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyFramesGenerated, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(KeyFrames, CancelledScanGivesNothing) {
    const std::string dir = testmovie::MakeTempDir("fw_keys_cancel_");
    const std::string path = dir + "/m.mkv";
    testmovie::MakeTestMovie(path, Spec("matroska", "libx264", 10, 0));
    TMovieReader reader;
    ASSERT_TRUE(reader.Open(path));
    const std::atomic<bool> cancel{true};
    const TMovieReader::TKeyFrames keys = reader.KeyFrames(&cancel);
    EXPECT_TRUE(keys.Cancelled);
    EXPECT_TRUE(keys.Frames.empty());
    std::filesystem::remove_all(dir);
}

// The real samples (those with a video stream the reader opens), where present.
TEST(KeyFrames, RealSamplesEqualFfprobePacketFlags) {
    const std::string folder = FW_MEDIA_SAMPLES;
    std::ifstream manifest(folder + "/MANIFEST.tsv");
    if (!manifest) GTEST_SKIP() << "no samples in " << folder;
    std::string line;
    std::getline(manifest, line);
    int checked = 0;
    while (std::getline(manifest, line)) {
        const std::string file = line.substr(0, line.find('\t'));
        const std::string path = folder + "/" + file;
        if (!std::filesystem::exists(path)) continue;
        TMovieReader reader;
        if (!reader.Open(path) || reader.Facts().VideoStream < 0 || reader.Facts().FrameCount <= 0) continue;
        const TMovieReader::TKeyFrames keys = reader.KeyFrames();
        EXPECT_EQ(keys.Frames, ProbedKeyFrames(path, reader.Facts())) << file;
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no readable samples in " << folder;
}

}  // namespace
