// The movie reader delivers frame p at position p (time p / FrameRate) for
// every container and codec the program meets, whichever way the position moves.
#include "tests/fixtures/TestMovie.h"

#include "media/MovieReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

namespace {

using media::TMovieReader;
using testmovie::TMovieSpec;

struct TCase {
    const char* Name;
    const char* File;
    TMovieSpec Spec;
};

TMovieSpec Spec(const char* container, const char* video, const char* audio, int num, int den, int gop,
                int bframes, bool audioFirst = false) {
    TMovieSpec s;
    s.Container = container;
    s.VideoCodec = video;
    s.AudioCodec = audio;
    s.FrameRateNum = num;
    s.FrameRateDen = den;
    s.GopSize = gop;
    s.MaxBFrames = bframes;
    s.AudioFirst = audioFirst;
    s.Frames = 100;
    return s;
}

void PrintTo(const TCase& c, std::ostream* os) { *os << c.Name; }

const TCase kCases[] = {
    {"avi_mjpeg", "m.avi", Spec("avi", "mjpeg", "pcm_s16le", 25, 1, 1, 0)},
    {"mpg_mpeg1", "m.mpg", Spec("mpeg", "mpeg1video", "mp2", 25, 1, 12, 0)},
    {"mpeg_mpeg2_bframes", "m.mpeg", Spec("mpeg", "mpeg2video", "mp2", 25, 1, 15, 2)},
    {"vob_mpeg2_2997", "m.vob", Spec("vob", "mpeg2video", "mp2", 30000, 1001, 15, 2)},
    {"asf_wmv2_audio_first", "m.wmv", Spec("asf", "wmv2", "wmav2", 25, 1, 12, 0, true)},
    {"mp4_h264_bframes", "m.mp4", Spec("mp4", "libx264", "aac", 25, 1, 24, 3)},
    {"mp4_h264_23976_audio_first", "n.mp4", Spec("mp4", "libx264", "aac", 24000, 1001, 30, 3, true)},
    {"avi_mpeg4_2997", "n.avi", Spec("avi", "mpeg4", "mp2", 30000, 1001, 25, 0)},
    {"mkv_mpeg4_bframes_23976", "m.mkv", Spec("matroska", "mpeg4", "", 24000, 1001, 20, 2)},
};

class ReaderExactness : public ::testing::TestWithParam<TCase> {
protected:
    static void SetUpTestSuite() { Dir = new std::string(testmovie::MakeTempDir("fw_reader_")); }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(*Dir);
        delete Dir;
    }

    void SetUp() override {
        const TCase& c = GetParam();
        Path = *Dir + "/" + c.File;
        testmovie::MakeTestMovie(Path, c.Spec);
        ASSERT_TRUE(Reader.Open(Path)) << Reader.LastError();
        int video = -1;
        for (int i = 0; i < Reader.StreamCount() && video < 0; ++i)
            if (Reader.StreamType(i) == media::TMajorType::Video) video = i;
        ASSERT_GE(video, 0);
        EXPECT_EQ(video, c.Spec.AudioFirst ? 1 : 0);
        EXPECT_EQ(Reader.Facts().VideoStream, video);
        Rate = Reader.Facts().FrameRate;
    }

    // Number read from the frame the reader shows at time t.
    int NumberAt(double t, int w, int h) {
        TMovieReader::TPictureRequest request;
        request.Seconds = t;
        request.Width = w;
        request.Height = h;
        media::TRgbPicture picture;
        if (!Reader.PictureAt(request, picture)) return -100;
        if (picture.Width != w || picture.Height != h) return -200;
        return testmovie::ReadFrameNumber(picture.Rgb.data(), w, h);
    }
    // Number read from the frame the reader shows at track-bar position p.
    int At(int p, int w = 80, int h = 60) { return NumberAt(p / Rate, w, h); }

    static std::string* Dir;
    std::string Path;
    TMovieReader Reader;
    double Rate = 0;
};
std::string* ReaderExactness::Dir = nullptr;

TEST_P(ReaderExactness, ProbeFacts) {
    const TMovieSpec& s = GetParam().Spec;
    EXPECT_NEAR(Rate, double(s.FrameRateNum) / s.FrameRateDen, 1e-9);
    // ASF states the file's play time, which the audio's last block may stretch a little.
    const double frames = Reader.StreamLength(Reader.Facts().VideoStream) * Rate;
    EXPECT_NEAR(frames, s.Frames, 1.5);
    const media::TMediaTypeInfo mt = Reader.Facts().MediaType;
    EXPECT_EQ(mt.Width, s.Width);
    EXPECT_EQ(mt.Height, s.Height);
}

TEST_P(ReaderExactness, ForwardBackwardAndRandomMoves) {
    const int n = GetParam().Spec.Frames;
    std::vector<int> positions;
    for (int p = 0; p < 12; ++p) positions.push_back(p);        // step forward from the start
    for (int p : {n - 1, 3, 60, 59, 58, 20, 90, 0, 47, 48, 2}) positions.push_back(p);  // jumps both ways
    std::mt19937 rng(4711);
    for (int i = 0; i < 40; ++i) positions.push_back(int(rng() % n));
    for (int p : positions) EXPECT_EQ(At(p), p) << "position " << p;
    EXPECT_EQ(At(33, GetParam().Spec.Width, GetParam().Spec.Height), 33) << "full size";
}

TEST_P(ReaderExactness, NextFrameAndDragDoNotSeek) {
    ASSERT_EQ(At(30), 30);
    const auto seeks = Reader.Stats().Seeks;
    for (int p = 31; p <= 40; ++p) EXPECT_EQ(At(p), p);    // arrow key
    for (int p = 42; p <= 60; p += 3) EXPECT_EQ(At(p), p); // a slow drag forward
    EXPECT_EQ(Reader.Stats().Seeks, seeks) << "moving forward a little must not seek";
    EXPECT_EQ(At(10), 10);                                  // backward needs a seek
    EXPECT_GT(Reader.Stats().Seeks, seeks);
}

TEST_P(ReaderExactness, TimesBetweenFramesAndPastTheEnd) {
    // Half a frame after frame 20 still shows frame 20; a hair before frame 21 too.
    EXPECT_EQ(testmovie::ReadFrameNumberFromDib(nullptr, 0), -1);
    auto numberAt = [&](double t) { return NumberAt(t, 64, 48); };
    EXPECT_EQ(numberAt(20.5 / Rate), 20);
    EXPECT_EQ(numberAt(20.7 / Rate), 20);
    EXPECT_EQ(numberAt(21 / Rate), 21);
    const int last = GetParam().Spec.Frames - 1;
    EXPECT_EQ(numberAt(last / Rate + 10), last);  // past the end: the last frame stays
    EXPECT_EQ(numberAt(-1), 0);                   // before the start: the first frame
}

// The scaler stores whole vectors at a time: the picture must still be
// exactly the size asked, its rows packed, at sizes whose rows are no
// multiple of the scaler's vectors; a picture of another shape is fitted
// inside with black bars.
TEST(ReaderPicture, IsExactlyTheSizeItAsked) {
    const std::string dir = testmovie::MakeTempDir("fw_reader_pad_");
    TMovieSpec s = Spec("vob", "mpeg2video", "mp2", 30000, 1001, 15, 2);
    s.Width = 720;
    s.Height = 480;
    s.Frames = 6;
    const std::string path = dir + "/big.vob";
    testmovie::MakeTestMovie(path, s);
    TMovieReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.LastError();
    const struct {
        int W, H;
    } sizes[] = {{450, 300}, {534, 300}, {375, 300}, {161, 121}, {80, 60}, {720, 480}};
    for (const auto& z : sizes) {
        TMovieReader::TPictureRequest request;
        request.Width = z.W;
        request.Height = z.H;
        media::TRgbPicture picture;
        ASSERT_TRUE(reader.PictureAt(request, picture)) << z.W << "x" << z.H << ": " << reader.LastError();
        ASSERT_EQ(picture.Width, z.W);
        ASSERT_EQ(picture.Height, z.H);
        ASSERT_EQ(picture.Rgb.size(), std::size_t(z.W) * z.H * 3) << z.W << "x" << z.H;
        // A size of the picture's shape (3:2) holds the whole picture; another
        // shape holds it fitted inside, with black bars at the sides.
        const double shape = double(z.W) / z.H;
        if (std::fabs(shape - 1.5) < 0.02) {
            EXPECT_EQ(testmovie::ReadFrameNumber(picture.Rgb.data(), z.W, z.H), 0) << z.W << "x" << z.H;
        } else {
            auto pixel = [&](int x, int y) { return picture.Row(y) + 3 * x; };
            auto dark = [](const uint8_t* p) { return p[0] + p[1] + p[2] < 3 * 8; };
            const bool wider = shape > 1.5;  // bars left and right, else above and below
            EXPECT_TRUE(dark(wider ? pixel(0, z.H / 2) : pixel(z.W / 2, 0))) << "first bar " << z.W << "x" << z.H;
            EXPECT_TRUE(dark(wider ? pixel(z.W - 1, z.H / 2) : pixel(z.W / 2, z.H - 1))) << "second bar " << z.W << "x" << z.H;
            const uint8_t* centre = pixel(z.W / 2, z.H / 2);
            EXPECT_GT(centre[2], 100) << "picture " << z.W << "x" << z.H;
        }
    }
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Movies, ReaderExactness, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
