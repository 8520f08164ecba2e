// Frames fetched at awkward sizes (narrow, odd, 1 pixel, the window's fitted
// sizes of HD movies) come out exactly the size asked, rows in place. The
// scaler writes into a picture FFmpeg allocated, which the reader copies
// out; under valgrind any stray write inside the libraries shows as well.
#include "tests/fixtures/TestMovie.h"

#include "media/MovieReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

namespace {

// The preview's fitted size for a movie of vw x vh in a preview area of aw x ah
// (the window shows at most 300 rows).
std::pair<int, int> Fitted(int aw, int ah, int vw, int vh) {
    double w = vw, h = vh;
    if (aw < vw || ah < vh) {
        if (double(ah) / vh > double(aw) / vw) {
            w = aw;
            h = std::nearbyint(double(aw) * vh / vw);
        } else {
            h = ah;
            w = std::nearbyint(double(ah) * vw / vh);
        }
    }
    if (h > 300) {
        w = std::nearbyint(w / h * 300);
        h = 300;
    }
    return {int(w), int(h)};
}

class ReaderSizes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Dir = new std::string(testmovie::MakeTempDir("fw_sizes_")); }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(*Dir);
        delete Dir;
    }

    // Opens a small movie of w x h made for the test.
    void Open(int w, int h, const char* codec = "mjpeg", int frames = 6) {
        testmovie::TMovieSpec s;
        s.Width = w;
        s.Height = h;
        s.VideoCodec = codec;
        s.Frames = frames;
        s.GopSize = 3;
        const std::string path = *Dir + "/" + std::to_string(w) + "x" + std::to_string(h) + codec + ".avi";
        if (!std::filesystem::exists(path)) testmovie::MakeTestMovie(path, s);
        ASSERT_TRUE(Reader.Open(path)) << Reader.LastError();
        Rate = Reader.Facts().FrameRate;
        ASSERT_GT(Rate, 0);
    }

    // Fetches position p at w x h; checks its size and, for pictures large
    // enough to carry it, the number.
    void FetchAt(int p, int w, int h, bool readNumber) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        media::TMovieReader::TPictureRequest request;
        request.Seconds = p / Rate;
        request.Width = w;
        request.Height = h;
        media::TRgbPicture picture;
        ASSERT_TRUE(Reader.PictureAt(request, picture)) << Reader.LastError();
        EXPECT_EQ(picture.Width, w);
        EXPECT_EQ(picture.Height, h);
        ASSERT_EQ(picture.Rgb.size(), std::size_t(w) * 3 * h);
        if (readNumber) {
            EXPECT_EQ(testmovie::ReadFrameNumber(picture.Rgb.data(), w, h), p);
        }
    }

    static std::string* Dir;
    media::TMovieReader Reader;
    double Rate = 0;
};
std::string* ReaderSizes::Dir = nullptr;

TEST_F(ReaderSizes, EveryNarrowWidthAndOddHeight) {
    Open(176, 144);
    for (int w = 1; w <= 64; ++w)
        for (int h : {1, 2, 3, 7, 90})
            FetchAt(w % 6, w, h, false);
    for (auto [w, h] : {std::pair{200, 150}, {120, 90}, {161, 121}, {175, 143}, {177, 145}})
        FetchAt(3, w, h, true);
}

TEST_F(ReaderSizes, TinyMovieAtEveryPosition) {
    // A 2 x 2 MPEG-4 movie, shown larger and smaller than itself.
    Open(2, 2, "mpeg4", 32);
    for (int p = 0; p < 32; ++p)
        for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {3, 3}, {23, 17}, {30, 30}, {45, 2}})
            FetchAt(p, w, h, false);
}

// The window's fitted sizes for 16:9 and 4:3 movies of 720p and 1080p, across
// preview areas from the smallest window to a wide one.
TEST_F(ReaderSizes, WindowFittedSizesOfHdMovies) {
    const std::pair<int, int> movies[] = {{1280, 720}, {960, 720}, {1920, 1080}, {1440, 1080}, {720, 480}};
    for (auto [vw, vh] : movies) {
        std::set<std::pair<int, int>> sizes;
        for (int aw = 420; aw <= 1000; aw += 7)
            for (int ah : {250, 299, 300, 374, 401}) sizes.insert(Fitted(aw, ah, vw, vh));
        sizes.insert({vw / 2 + 1, vh / 2 + 1});
        Open(vw, vh, "mjpeg", 3);
        int p = 0;
        for (auto [w, h] : sizes) FetchAt(p++ % 3, w, h, w >= 160);
    }
}

}  // namespace
