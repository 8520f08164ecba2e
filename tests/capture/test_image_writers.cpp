// The image writers, checked with the image libraries' own decoders.
#include "media/ImageFiles.h"
#include "ImageReaders.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

namespace fs = std::filesystem;
using namespace media;

namespace {

// A picture with a different colour in every pixel and sharp edges.
TRgbPicture Pattern(int w, int h) {
    TRgbPicture b;
    b.Width = w;
    b.Height = h;
    b.Rgb.resize(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &b.Rgb[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<uint8_t>(x * 255 / (w - 1));
            p[1] = static_cast<uint8_t>(y * 255 / (h - 1));
            p[2] = static_cast<uint8_t>((x / 8 + y / 8) % 2 ? 230 : 20);
        }
    return b;
}

// A plain picture, easy to compress.
TRgbPicture Plain(int w, int h) {
    TRgbPicture b = Pattern(w, h);
    for (size_t i = 0; i < b.Rgb.size(); ++i) b.Rgb[i] = static_cast<uint8_t>((i / 3 / w) % 2 ? 200 : 40);
    return b;
}

class ImageWriters : public ::testing::Test {
protected:
    void SetUp() override { Dir = testmovie::MakeTempDir("fw-writers"); }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    // Files in Dir other than the named ones (temporary leftovers).
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Dir;
};

double MeanAbsError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / a.size();
}

}  // namespace

TEST(PictureTypes, ExtensionsFollowTheListOrder) {
    EXPECT_STREQ(PictureExtension(0), "gif");
    EXPECT_STREQ(PictureExtension(1), "jpg");
    EXPECT_STREQ(PictureExtension(2), "bmp");
    EXPECT_STREQ(PictureExtension(3), "png");
    EXPECT_EQ(PictureExtension(4), nullptr);
}

// Every type decoded back with the right size; lossless types exactly.
TEST_F(ImageWriters, EveryTypeReadsBackWithItsSize) {
    const TRgbPicture src = Pattern(37, 21);  // odd width: BMP rows need padding
    for (uint16_t type : {ptGif, ptJpg, ptBmp, ptPng}) {
        SCOPED_TRACE(PictureExtension(type));
        const std::string path = Dir + "/B00000001." + PictureExtension(type);
        WritePictureFile(path, src, type, 100, 5);
        const TDecodedImage img = ReadPicture(path);
        ASSERT_EQ(img.Error, "");
        EXPECT_EQ(img.Width, 37);
        EXPECT_EQ(img.Height, 21);
        if (type == ptBmp || type == ptPng) {
            EXPECT_EQ(img.Rgb, src.Rgb);
        } else if (type == ptJpg) {
            EXPECT_LT(MeanAbsError(img.Rgb, src.Rgb), 12.0);  // chroma subsampling on sharp edges
        }
    }
}

TEST_F(ImageWriters, JpegIsBaselineColourJfifAtTheGivenQuality) {
    const TRgbPicture src = Pattern(64, 48);
    WriteJpegFile(Dir + "/q8.jpg", src, 8);
    WriteJpegFile(Dir + "/q90.jpg", src, 90);
    for (const char* name : {"q8.jpg", "q90.jpg"}) {
        const TDecodedImage img = ReadJpeg(Dir + "/" + name);
        ASSERT_EQ(img.Error, "") << name;
        EXPECT_TRUE(img.Baseline) << name;
        EXPECT_FALSE(img.Progressive) << name;
        EXPECT_TRUE(img.Jfif) << name;
        EXPECT_EQ(img.Components, 3) << name;
    }
    EXPECT_LT(fs::file_size(Dir + "/q8.jpg"), fs::file_size(Dir + "/q90.jpg"));
    EXPECT_LT(MeanAbsError(ReadJpeg(Dir + "/q90.jpg").Rgb, src.Rgb),
              MeanAbsError(ReadJpeg(Dir + "/q8.jpg").Rgb, src.Rgb));
}

TEST(PngLevels, LeftEndSmallestRightEndFastest) {
    const int expected[10] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    for (int step = 0; step <= 9; ++step) EXPECT_EQ(PngZlibLevel(step), expected[step]) << step;
    EXPECT_EQ(PngZlibLevel(-1), 9);
    EXPECT_EQ(PngZlibLevel(12), 0);
}

TEST_F(ImageWriters, PngStepZeroGivesSmallerFilesThanStepNine) {
    const TRgbPicture src = Plain(160, 120);
    WritePngFile(Dir + "/s0.png", src, 0);
    WritePngFile(Dir + "/s9.png", src, 9);
    EXPECT_LT(fs::file_size(Dir + "/s0.png") * 4, fs::file_size(Dir + "/s9.png"));
    for (const char* name : {"s0.png", "s9.png"}) {
        const TDecodedImage img = ReadPng(Dir + "/" + name);
        ASSERT_EQ(img.Error, "");
        EXPECT_EQ(img.Components, 3);
        EXPECT_EQ(img.Rgb, src.Rgb) << name;
    }
}

TEST(GifPalette, ChannelLevelRule) {
    struct { int v, level; } cases[] = {{0, 0}, {47, 0}, {48, 1}, {98, 1}, {99, 2},
                                        {150, 3}, {200, 3}, {201, 4}, {252, 5}, {255, 5}};
    for (const auto& c : cases) EXPECT_EQ(GifLevel(static_cast<uint8_t>(c.v)), c.level) << c.v;
    EXPECT_EQ(GifPaletteIndex(255, 255, 255), 215);
    EXPECT_EQ(GifPaletteIndex(48, 0, 255), 36 * 1 + 0 + 5);
    EXPECT_EQ(GifPaletteIndex(0, 99, 0), 12);
}

TEST_F(ImageWriters, GifHoldsOneImageWithTheFixedPaletteAndNoDithering) {
    const TRgbPicture src = Pattern(40, 30);
    WriteGifFile(Dir + "/p.gif", src);
    const TDecodedImage img = ReadGif(Dir + "/p.gif");
    ASSERT_EQ(img.Error, "");
    EXPECT_EQ(img.GifImages, 1);
    ASSERT_GE(img.Palette.size(), 216u * 3);
    for (int i = 0; i < 216; ++i) {
        EXPECT_EQ(img.Palette[3 * i], i / 36 * 51) << i;
        EXPECT_EQ(img.Palette[3 * i + 1], i / 6 % 6 * 51) << i;
        EXPECT_EQ(img.Palette[3 * i + 2], i % 6 * 51) << i;
    }
    ASSERT_EQ(img.Indices.size(), 40u * 30);
    // Each pixel takes its own entry: no error diffusion from its neighbours.
    for (size_t p = 0; p < img.Indices.size(); ++p) {
        const uint8_t* rgb = &src.Rgb[p * 3];
        ASSERT_EQ(img.Indices[p], GifPaletteIndex(rgb[0], rgb[1], rgb[2])) << "pixel " << p;
    }
}

TEST_F(ImageWriters, BmpLayoutByteForByte) {
    TRgbPicture src;
    src.Width = 2;
    src.Height = 2;
    // top row: red, green; bottom row: blue, white
    src.Rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    WriteBmpFile(Dir + "/l.bmp", src);
    const std::vector<uint8_t> expected = {
        'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header: size 70, pixels at 54
        40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0,             // info header size, width, height (bottom-up)
        1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0,            // planes, 24 bits, BI_RGB, image size
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // resolution, colours used, important
        255, 0, 0, 255, 255, 255, 0, 0,                  // bottom row first: blue, white, padding
        0, 0, 255, 0, 255, 0, 0, 0,                      // then the top row: red, green, padding
    };
    EXPECT_EQ(ReadBytes(Dir + "/l.bmp"), expected);
}

TEST_F(ImageWriters, NonAsciiFolder) {
    const std::string sub = Dir + "/Bilder \xC3\xA4\xC3\xB6";
    fs::create_directory(sub);
    WriteJpegFile(sub + "/B00000001.jpg", Pattern(16, 16), 40);
    EXPECT_EQ(ReadJpeg(sub + "/B00000001.jpg").Width, 16);
}

// A failed write raises a message naming the file, leaves no half file under
// the final name and no temporary file, and an older file of that name stays.
TEST_F(ImageWriters, FailedWritesLeaveNothingBehind) {
    std::ofstream(Dir + "/plain") << "a regular file";
    TRgbPicture wide = Pattern(70000, 2);  // beyond what JPEG can code: fails after the file is opened
    TRgbPicture empty;
    struct {
        const char* Name;
        std::string Path;
        const TRgbPicture* Bitmap;
        uint16_t Type;
    } cases[] = {
        {"folder below a regular file", Dir + "/plain/B00000001.jpg", nullptr, ptJpg},
        {"missing folder", Dir + "/nofolder/B00000001.png", nullptr, ptPng},
        {"encoder refuses the picture", Dir + "/old.jpg", &wide, ptJpg},
        {"empty picture", Dir + "/old.bmp", &empty, ptBmp},
    };
    std::ofstream(Dir + "/old.jpg") << "older file";
    std::ofstream(Dir + "/old.bmp") << "older file";
    const TRgbPicture small = Pattern(8, 8);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            WritePictureFile(c.Path, c.Bitmap ? *c.Bitmap : small, c.Type, 40, 9);
            ADD_FAILURE() << "no error";
        } catch (const ECaptureError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Path), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(Listing(), (std::vector<std::string>{"old.bmp", "old.jpg", "plain"}));
    EXPECT_EQ(ReadBytes(Dir + "/old.jpg").size(), 10u);
}

// A full disk: the file size limit makes the writes fail part-way.
TEST_F(ImageWriters, DiskFullMidwayKeepsTheOldFile) {
    std::ofstream(Dir + "/B00000001.bmp") << "older file";
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    for (uint16_t type : {ptBmp, ptPng, ptGif, ptJpg}) {
        try {
            WritePictureFile(Dir + "/B00000001." + PictureExtension(type), Pattern(300, 200), type, 100, 9);
        } catch (const ECaptureError& e) {
            message += std::string(e.what()) + "\n";
        }
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 4) << message;
    EXPECT_EQ(Listing(), (std::vector<std::string>{"B00000001.bmp"}));
    EXPECT_EQ(ReadBytes(Dir + "/B00000001.bmp").size(), 10u);
}
