// Frames fetched at awkward sizes never make the scaler write outside the
// caller's bitmap. The bitmap ends right at a page that may not be touched,
// so a write past its end stops the test in any build; under valgrind every
// other stray write inside the libraries shows as well.
#include "tests/fixtures/TestMovie.h"

#include "media/MediaDetector.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

namespace {

// size bytes whose last byte is followed directly by an inaccessible page.
class TGuardedBuffer {
public:
    explicit TGuardedBuffer(std::size_t size) : FSize(size) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        FMapped = (size + page - 1) / page * page + page;
        void* p = mmap(nullptr, FMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        FBase = static_cast<uint8_t*>(p);
        mprotect(FBase + FMapped - page, page, PROT_NONE);
        FData = FBase + FMapped - page - size;
    }
    ~TGuardedBuffer() { munmap(FBase, FMapped); }
    TGuardedBuffer(const TGuardedBuffer&) = delete;
    TGuardedBuffer& operator=(const TGuardedBuffer&) = delete;
    uint8_t* Data() { return FData; }
    std::size_t Size() const { return FSize; }

private:
    std::size_t FSize, FMapped = 0;
    uint8_t* FBase = nullptr;
    uint8_t* FData = nullptr;
};

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

class DetectorSizes : public ::testing::Test {
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
        ASSERT_TRUE(Det.put_Filename(path)) << Det.LastError();
        Rate = Det.get_FrameRate();
        ASSERT_GT(Rate, 0);
    }

    // Fetches position p at w x h into a bitmap that ends at a guard page;
    // checks the header and, for pictures large enough to carry it, the number.
    void FetchAt(int p, int w, int h, bool readNumber) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        std::size_t size = 0;
        ASSERT_TRUE(Det.GetBitmapBits(p / Rate, &size, nullptr, w, h)) << Det.LastError();
        const std::size_t stride = (std::size_t(w) * 3 + 3) & ~std::size_t(3);
        ASSERT_EQ(size, 40 + stride * h);
        TGuardedBuffer buf(size);
        std::memset(buf.Data(), 0xAB, size);
        ASSERT_TRUE(Det.GetBitmapBits(p / Rate, &size, buf.Data(), w, h)) << Det.LastError();
        int32_t hdrW = 0, hdrH = 0;
        std::memcpy(&hdrW, buf.Data() + 4, 4);
        std::memcpy(&hdrH, buf.Data() + 8, 4);
        EXPECT_EQ(hdrW, w);
        EXPECT_EQ(hdrH, h);
        // Row padding is zero, never left over.
        for (int y = 0; y < h && stride > std::size_t(w) * 3; ++y)
            for (std::size_t x = std::size_t(w) * 3; x < stride; ++x)
                ASSERT_EQ(buf.Data()[40 + stride * y + x], 0) << "row " << y;
        if (readNumber) EXPECT_EQ(testmovie::ReadFrameNumberFromDib(buf.Data(), buf.Size()), p);
    }

    static std::string* Dir;
    media::TMediaDetector Det;
    double Rate = 0;
};
std::string* DetectorSizes::Dir = nullptr;

TEST_F(DetectorSizes, EveryNarrowWidthAndOddHeight) {
    Open(176, 144);
    for (int w = 1; w <= 64; ++w)
        for (int h : {1, 2, 3, 7, 90})
            FetchAt(w % 6, w, h, false);
    for (auto [w, h] : {std::pair{200, 150}, {120, 90}, {161, 121}, {175, 143}, {177, 145}})
        FetchAt(3, w, h, true);
}

TEST_F(DetectorSizes, TinyMovieAtEveryPosition) {
    // A 2 x 2 MPEG-4 movie, shown larger and smaller than itself.
    Open(2, 2, "mpeg4", 32);
    for (int p = 0; p < 32; ++p)
        for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {3, 3}, {23, 17}, {30, 30}, {45, 2}})
            FetchAt(p, w, h, false);
}

// The window's fitted sizes for 16:9 and 4:3 movies of 720p and 1080p, across
// preview areas from the smallest window to a wide one.
TEST_F(DetectorSizes, WindowFittedSizesOfHdMovies) {
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
