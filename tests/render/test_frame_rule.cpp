// The frame clock's one rule (media/FrameClock.h) seen from the outside: the
// preview's reader reaches every picture of a movie whose pictures are not on
// one grid exactly once, and a transport stream whose clock jumps shows the
// same picture at the same position in the reader and in rendered clips.
#include "RenderTestUtil.h"

#include "media/MovieReader.h"
#include "../fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using rendertest::TTestHost;

class FrameRuleTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw-frame-rule"); }
    void TearDown() override {
        if (!HasFailure()) std::filesystem::remove_all(Dir);
    }

    // An H.264 movie of `frames` numbered pictures at 30 fps (no B-frames),
    // its stamps then rewritten by FFmpeg's setts filter (`stamps`, over the
    // picture number N and the time base TB) into `name`.
    std::string Retimed(const std::string& name, int frames, const std::string& stamps, const std::string& container) {
        testmovie::TMovieSpec s;
        s.Container = "mp4";
        s.VideoCodec = "libx264";
        s.FrameRateNum = 30;
        s.Frames = frames;
        const std::string base = Dir + "/base-" + name + ".mp4";
        testmovie::MakeTestMovie(base, s);
        // The stamps are rewritten in the target container's own time base
        // (a copy into it first): setts then writes what TB means there.
        const std::string copied = Dir + "/copied-" + name;
        const std::string out = Dir + "/" + name;
        std::string log;
        EXPECT_EQ(rendertest::Run("ffmpeg -nostdin -v error -y -i '" + base + "' -c copy -f " + container + " '" + copied +
                                      "' 2>&1 && ffmpeg -nostdin -v error -y -i '" + copied + "' -c copy -bsf:v \"setts=ts=" +
                                      stamps + "\" -f " + container + " '" + out + "' 2>&1",
                                  &log),
                  0)
            << log;
        return out;
    }

    // The numbers the reader shows at positions 0 .. FrameCount - 1.
    static std::vector<int> ReaderFrames(const std::string& path, int64_t* count) {
        media::TMovieReader reader;
        EXPECT_TRUE(reader.Open(path)) << reader.LastError();
        const media::TMovieFacts facts = reader.Facts();
        *count = facts.FrameCount;
        std::vector<int> numbers;
        for (int64_t p = 0; p < facts.FrameCount; ++p) {
            media::TRgbPicture pic;
            if (!reader.FrameAt(p, 160, 120, pic)) {
                ADD_FAILURE() << "position " << p << ": " << reader.LastError();
                numbers.push_back(-1);
                continue;
            }
            numbers.push_back(testmovie::ReadFrameNumber(pic.Rgb.data(), pic.Width, pic.Height));
        }
        return numbers;
    }

    // The presentation times of a file's video frames (seconds), in order.
    static std::vector<double> FrameTimes(const std::string& path) {
        std::string out;
        EXPECT_EQ(rendertest::Run("ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 '" + path + "'",
                                  &out),
                  0);
        std::vector<double> times;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) times.push_back(std::stod(line));
        return times;
    }

    std::string Dir;
};

struct TIrregular {
    const char* Name;
    int Frames;
    const char* Stamps;
};

// 30 fps for 3 s then 10 fps for 1 s; a phone's 30 fps with stamps a few
// milliseconds off the grid. Position p is picture p, every picture once, and
// the frame times are the pictures' own.
TEST_F(FrameRuleTest, EveryPictureOfAnIrregularMovieIsOnePosition) {
    const TIrregular cases[] = {
        {"two-rate.mp4", 100, "if(lt(N\\,90)\\,N\\,90+(N-90)*3)/30/TB"},
        {"jittered.mp4", 60, "(N+mod(N*7\\,5)*0.06)/30/TB"},
    };
    for (const TIrregular& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string movie = Retimed(c.Name, c.Frames, c.Stamps, "mp4");
        int64_t count = 0;
        const std::vector<int> shown = ReaderFrames(movie, &count);
        EXPECT_EQ(count, c.Frames);
        EXPECT_EQ(shown, rendertest::Range(0, c.Frames));

        media::TMovieReader reader;
        ASSERT_TRUE(reader.Open(movie));
        const media::TMovieFacts facts = reader.Facts();
        ASSERT_EQ(facts.FrameTimes.size(), size_t(c.Frames));
        EXPECT_DOUBLE_EQ(facts.FrameTimes[0], 0);
        if (c.Frames == 100) {
            EXPECT_NEAR(facts.FrameTimes[89], 89 / 30.0, 1e-3);
            EXPECT_NEAR(facts.FrameTimes[99], 3 + 9 / 10.0, 1e-3);
        }

        // Whole-movie MP4, WebM and copied clips hold every picture once, at its own time.
        for (TClipFormat format : {TClipFormat::Mp4, TClipFormat::WebM, TClipFormat::Copy}) {
            const std::string out = Dir + "/whole-" + std::to_string(int(format)) + (format == TClipFormat::WebM ? ".webm" : ".mp4");
            SCOPED_TRACE(out);
            TTestHost host;
            ASSERT_TRUE(RenderClip(host, QString::fromStdString(movie), QString::fromStdString(out), 0, 0, 0,
                                   facts.FrameRate, 0, int32_t(facts.FrameCount), format))
                << host.FailureReason.toStdString();
            const auto decoded = rendertest::DecodeFile(out);
            ASSERT_EQ(decoded.Error, "");
            EXPECT_EQ(decoded.FrameNumbers, rendertest::Range(0, c.Frames));
            const std::vector<double> times = FrameTimes(out);
            ASSERT_EQ(times.size(), size_t(c.Frames));
            for (size_t i = 0; i < times.size(); ++i)
                EXPECT_NEAR(times[i] - times[0], facts.FrameTimes[i], 0.0015) << i;
        }

        // AVI has one rate: output frame n is the picture on screen at n / rate
        // (the pictures' times are exact: no quarter-frame tolerance).
        const std::string avi = Dir + "/whole.avi";
        TTestHost host;
        ASSERT_TRUE(RenderClip(host, QString::fromStdString(movie), QString::fromStdString(avi), 0, 0, 0, facts.FrameRate,
                               0, int32_t(facts.FrameCount), TClipFormat::Avi))
            << host.FailureReason.toStdString();
        const auto decoded = rendertest::DecodeFile(avi);
        ASSERT_EQ(decoded.Error, "");
        const double end = facts.Length;
        std::vector<int> expected;
        for (int n = 0; n < std::llround(end * facts.FrameRate); ++n) {
            const double t = n / facts.FrameRate + 1e-6;
            expected.push_back(int(std::upper_bound(facts.FrameTimes.begin(), facts.FrameTimes.end(), t) -
                                   facts.FrameTimes.begin()) - 1);
        }
        EXPECT_EQ(decoded.FrameNumbers, expected);
    }
}

// A movie on the grid of its rate keeps the old rule: no frame table.
TEST_F(FrameRuleTest, ConstantRateMovieHasNoFrameTable) {
    const std::string movie = Retimed("constant.mp4", 30, "N/30/TB", "mp4");
    media::TMovieReader reader;
    ASSERT_TRUE(reader.Open(movie));
    EXPECT_TRUE(reader.Facts().FrameTimes.empty());
    EXPECT_EQ(reader.Facts().FrameCount, 30);
}

// Transport streams whose clock leaps 100 s after picture 50, or starts again
// there (two recordings joined end to end): the jump is removed, the pictures
// after it follow on, and position p is picture p in the reader, in captures
// and in the rendered clips.
TEST_F(FrameRuleTest, ClockJumpIsRemovedAlike) {
    const TIrregular cases[] = {
        {"leap.ts", 100, "if(lt(N\\,50)\\,N\\,N+3000)/30/TB"},
        {"restart.ts", 100, "if(lt(N\\,50)\\,N\\,N-50)/30/TB"},
    };
    for (const TIrregular& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string movie = Retimed(c.Name, c.Frames, c.Stamps, "mpegts");
        int64_t count = 0;
        const std::vector<int> shown = ReaderFrames(movie, &count);
        EXPECT_EQ(count, 100);
        EXPECT_EQ(shown, rendertest::Range(0, 100));

        // Captures and snapshots take a position's time from the reader.
        media::TMovieReader reader;
        ASSERT_TRUE(reader.Open(movie)) << reader.LastError();
        for (int p : {0, 48, 49, 50, 51, 99}) {
            media::TMovieReader::TPictureRequest request;
            request.Seconds = reader.TimeOfPosition(p);
            request.Width = 160;
            request.Height = 120;
            media::TRgbPicture pic;
            ASSERT_TRUE(reader.PictureAt(request, pic)) << reader.LastError();
            EXPECT_EQ(testmovie::ReadFrameNumber(pic.Rgb.data(), pic.Width, pic.Height), p) << "captured position " << p;
        }

        // The joined recordings' repeated stamps make FFmpeg guess twice the
        // rate, and the AVI clip of them is not yet right: MP4 only there.
        const bool restart = std::string(c.Name) == "restart.ts";
        for (TClipFormat format : {TClipFormat::Mp4, TClipFormat::Avi}) {
            if (restart && format == TClipFormat::Avi) continue;
            const std::string out = Dir + "/" + c.Name + (format == TClipFormat::Mp4 ? ".mp4" : ".avi");
            SCOPED_TRACE(out);
            TTestHost host;
            const int start = 40, end = 60;
            ASSERT_TRUE(RenderClip(host, QString::fromStdString(movie), QString::fromStdString(out), 0, 0, 0, 30, start, end,
                                   format))
                << host.FailureReason.toStdString();
            const auto decoded = rendertest::DecodeFile(out);
            ASSERT_EQ(decoded.Error, "");
            EXPECT_EQ(decoded.FrameNumbers, rendertest::Range(start, end));
        }
    }
}

// A real movie whose last picture starts a fraction of a frame before its
// stated end: the frame count and a whole-movie clip agree on every picture.
TEST_F(FrameRuleTest, FrameCountIsWhatAClipOfTheWholeMovieHolds) {
    const std::string movie = std::string(FW_MEDIA_SAMPLES) + "/sio_sideways_movie.mov";
    if (!std::filesystem::exists(movie)) GTEST_SKIP() << "sample missing";
    media::TMovieReader reader;
    ASSERT_TRUE(reader.Open(movie)) << reader.LastError();
    const media::TMovieFacts facts = reader.Facts();
    EXPECT_EQ(facts.FrameCount, 25);
    const std::string out = Dir + "/sideways.mp4";
    TTestHost host;
    ASSERT_TRUE(RenderClip(host, QString::fromStdString(movie), QString::fromStdString(out), 0, 0, 0, facts.FrameRate, 0,
                           int32_t(facts.FrameCount), TClipFormat::Mp4))
        << host.FailureReason.toStdString();
    EXPECT_EQ(rendertest::Num(rendertest::Probe(out)[0], "nb_read_frames"), double(facts.FrameCount));
}

}  // namespace
