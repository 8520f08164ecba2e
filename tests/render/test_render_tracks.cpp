// The sound track chosen for a clip, and what describes the movie (creation
// time, title, language tags) carried into MP4, WebM and Matroska clips. The
// source has two audio tracks of different tones and languages.
#include "RenderTestUtil.h"
#include "convert/RenderClip.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using rendertest::Str;

namespace {

// The tone of a file's first audio stream: zero crossings of its mono mix.
double ToneHz(const std::string& file) {
    std::string raw;
    if (rendertest::Run("ffmpeg -nostdin -v error -i '" + file + "' -map 0:a:0 -ac 1 -ar 48000 -f f32le -", &raw) != 0)
        return -1;
    const size_t n = raw.size() / 4;
    if (n < 4800) return -1;
    std::vector<float> s(n);
    std::memcpy(s.data(), raw.data(), n * 4);
    // The middle of the sound, away from the encoders' edges.
    size_t crossings = 0;
    const size_t from = n / 4, to = n * 3 / 4;
    for (size_t i = from + 1; i < to; ++i) crossings += (s[i - 1] < 0) != (s[i] < 0);
    return double(crossings) / 2 / (double(to - from) / 48000);
}

// ffprobe's format tags of a file.
std::string FormatTag(const std::string& file, const char* key) {
    std::string out;
    rendertest::Run(std::string("ffprobe -v error -show_entries format_tags=") + key +
                        " -of default=nw=1:nk=1 '" + file + "'",
                    &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string StreamTag(const std::string& file, const char* stream, const char* key) {
    std::string out;
    rendertest::Run(std::string("ffprobe -v error -select_streams ") + stream + " -show_entries stream_tags=" + key +
                        " -of default=nw=1:nk=1 '" + file + "'",
                    &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

class Tracks : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = testmovie::MakeTempDir("fw-render-tracks");
        Source = Dir + "/two tracks.mkv";
        std::string log;
        const int rc = rendertest::Run(
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=160x120:rate=25:duration=3 "
            "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 "
            "-f lavfi -i sine=frequency=1000:sample_rate=48000:duration=3 "
            "-map 0 -map 1 -map 2 -c:v libx264 -preset ultrafast -g 25 -c:a aac "
            "-metadata title='A walk' -metadata creation_time=2024-05-06T07:08:09.000000Z "
            "-metadata:s:a:0 language=eng -metadata:s:a:1 language=deu -metadata:s:v:0 language=eng '" +
                Source + "' 2>&1",
            &log);
        ASSERT_EQ(rc, 0) << log;
    }
    static void TearDownTestSuite() { fs::remove_all(Dir); }

    static inline std::string Dir, Source;
};

struct TTrackCase {
    const char* Name;
    TClipFormat Format;
    const char* Ext;
    int Track;  // -1: the default
    double Hz;
    const char* Language;
};
void PrintTo(const TTrackCase& c, std::ostream* os) { *os << c.Name; }

class ChosenTrack : public Tracks, public ::testing::WithParamInterface<TTrackCase> {};

TEST_P(ChosenTrack, IsTheClipsSoundWithItsLanguageAndTheMoviesDescription) {
    const TTrackCase& c = GetParam();
    const std::string out = Dir + "/" + c.Name + "." + c.Ext;
    rendertest::TTestHost host;
    host.Settings.AudioTrack = c.Track;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(Source), QString::fromStdString(out), 0, 0, 0, 25, 0, 50,
                           c.Format))
        << host.FailureReason.toStdString();
    EXPECT_NEAR(ToneHz(out), c.Hz, 15);
    EXPECT_EQ(StreamTag(out, "a:0", "language"), c.Language);
    EXPECT_EQ(FormatTag(out, "title"), "A walk");
    EXPECT_EQ(FormatTag(out, "creation_time").substr(0, 19), "2024-05-06T07:08:09");
}

INSTANTIATE_TEST_SUITE_P(Cases, ChosenTrack,
                         ::testing::Values(TTrackCase{"Mp4FirstByDefault", TClipFormat::Mp4, "mp4", -1, 440, "eng"},
                                           TTrackCase{"Mp4Second", TClipFormat::Mp4, "mp4", 1, 1000, "deu"},
                                           TTrackCase{"WebMSecond", TClipFormat::WebM, "webm", 1, 1000, "deu"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Tracks, ATrackTheMovieLacksIsRefusedAndNothingIsWritten) {
    const std::string out = Dir + "/none.mp4";
    rendertest::TTestHost host;
    host.Settings.AudioTrack = 2;
    EXPECT_FALSE(RenderClip(host, QString::fromStdString(Source), QString::fromStdString(out), 0, 0, 0, 25, 0, 50,
                            TClipFormat::Mp4));
    EXPECT_NE(host.FailureReason.toStdString().find("no audio track 2 (it has 2"), std::string::npos)
        << host.FailureReason.toStdString();
    EXPECT_FALSE(fs::exists(out));
}

}  // namespace
