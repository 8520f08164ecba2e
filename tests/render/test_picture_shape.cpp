// Rotation and display aspect ratio: a phone movie stored on its side with a
// display rotation, and a movie of non-square pixels, are shown and written
// upright and at their shape; a picture put into a size of another shape is
// fitted inside it with black bars, never stretched.
#include "RenderTestUtil.h"

#include "convert/RenderClip.h"
#include "media/Compressors.h"
#include "media/MovieReader.h"
#include "media/Scaler.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <QString>
#include <filesystem>
#include <ostream>

namespace {

namespace fs = std::filesystem;

// ------------------------------------------------------------ placement rules

TEST(PlaceInside, BarsOnlyWhenTheShapesDiffer) {
    const struct {
        double Aspect;
        int W, H, AlignW, AlignH;
        media::TPlacement Want;
    } cases[] = {
        {16.0 / 9, 320, 240, 1, 1, {0, 30, 320, 180}},     // wide into 4:3: bars above and below
        {9.0 / 16, 320, 240, 1, 1, {92, 0, 136, 240}},     // upright phone into 4:3: bars at the sides
        {4.0 / 3, 320, 240, 1, 1, {0, 0, 320, 240}},       // same shape
        {16.0 / 9, 854, 480, 1, 1, {0, 0, 854, 480}},      // 853.3 wide: within a pixel, no bar
        {1.5, 534, 300, 0, 0, {42, 0, 450, 300}},          // RGB: no alignment
        {16.0 / 9, 1280, 720, 1, 1, {0, 0, 1280, 720}},
        {2.39, 320, 240, 1, 1, {0, 52, 320, 134}},         // scope: offsets even
        {0, 320, 240, 1, 1, {0, 0, 320, 240}},             // unknown shape: all of it
    };
    for (const auto& c : cases) {
        const media::TPlacement p = media::PlaceInside(c.Aspect, c.W, c.H, c.AlignW, c.AlignH);
        EXPECT_EQ(p.X, c.Want.X) << c.Aspect << " into " << c.W << "x" << c.H;
        EXPECT_EQ(p.Y, c.Want.Y) << c.Aspect << " into " << c.W << "x" << c.H;
        EXPECT_EQ(p.Width, c.Want.Width) << c.Aspect << " into " << c.W << "x" << c.H;
        EXPECT_EQ(p.Height, c.Want.Height) << c.Aspect << " into " << c.W << "x" << c.H;
    }
}

// ------------------------------------------------------------ test movies

struct TShapeMovie {
    const char* Name;
    const char* Container;
    const char* Codec;
    int StoredW, StoredH;
    int Rotation;
    int SarNum, SarDen;
    int ShownW, ShownH;
};
void PrintTo(const TShapeMovie& m, std::ostream* os) { *os << m.Name; }

const TShapeMovie kMovies[] = {
    // A phone held upright: stored lying down, turned on display.
    {"phone_90", "mp4", "mpeg4", 160, 96, 90, 0, 0, 96, 160},
    {"phone_270", "mp4", "mpeg4", 160, 96, 270, 0, 0, 96, 160},
    {"upside_down_180", "mp4", "mpeg4", 160, 96, 180, 0, 0, 160, 96},
    // DVD-style wide picture of narrow pixels, the shape in the stream header.
    {"dvd_wide", "vob", "mpeg2video", 176, 144, 0, 16, 11, 256, 144},
    // The shape in the container (mp4 'pasp'), tall pixels.
    {"tall_pixels", "mp4", "mpeg4", 160, 120, 0, 3, 4, 160, 160},
    // Turned and of non-square pixels.
    {"phone_wide_pixels", "mp4", "mpeg4", 128, 96, 90, 4, 3, 96, 171},
};

class PictureShape : public ::testing::TestWithParam<TShapeMovie> {
protected:
    void SetUp() override {
        Dir = testmovie::MakeTempDir("fw-shape");
        const TShapeMovie& m = GetParam();
        testmovie::TMovieSpec s;
        s.Container = m.Container;
        s.VideoCodec = m.Codec;
        s.Width = m.StoredW;
        s.Height = m.StoredH;
        s.Rotation = m.Rotation;
        s.SampleAspectNum = m.SarNum;
        s.SampleAspectDen = m.SarDen;
        s.Frames = 20;
        s.GopSize = 5;
        Path = Dir + "/movie." + m.Container;
        testmovie::MakeTestMovie(Path, s);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    std::string Dir, Path;
};

// Rows of a picture cut out of a larger one (tightly packed RGB).
std::vector<uint8_t> Cut(const std::vector<uint8_t>& rgb, int width, int x, int y, int w, int h) {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(w) * h * 3);
    for (int r = y; r < y + h; ++r) {
        const uint8_t* row = rgb.data() + (static_cast<size_t>(r) * width + x) * 3;
        out.insert(out.end(), row, row + static_cast<size_t>(w) * 3);
    }
    return out;
}

bool Dark(const uint8_t* p) { return p[0] + p[1] + p[2] < 3 * 24; }

// The black bars around a picture: how many rows from the top and the bottom
// (at the middle column) and columns from the left and the right (at the
// middle row) are black; the drawn pictures are grey there.
struct TBars {
    int Top = 0, Bottom = 0, Left = 0, Right = 0;
};
TBars MeasureBars(const std::vector<uint8_t>& rgb, int w, int h) {
    auto at = [&](int x, int y) { return rgb.data() + (static_cast<size_t>(y) * w + x) * 3; };
    TBars b;
    while (b.Top < h && Dark(at(w / 2, b.Top))) ++b.Top;
    while (b.Bottom < h && Dark(at(w / 2, h - 1 - b.Bottom))) ++b.Bottom;
    while (b.Left < w && Dark(at(b.Left, h / 2))) ++b.Left;
    while (b.Right < w && Dark(at(w - 1 - b.Right, h / 2))) ++b.Right;
    return b;
}

TEST_P(PictureShape, ReaderShowsThePictureUprightAtItsShape) {
    const TShapeMovie& m = GetParam();
    media::TMovieReader reader;
    ASSERT_TRUE(reader.Open(Path)) << reader.LastError();
    ASSERT_EQ(reader.Facts().VideoStream, 0);
    const media::TMediaTypeInfo type = reader.Facts().MediaType;
    EXPECT_EQ(type.Width, m.ShownW);
    EXPECT_EQ(type.Height, m.ShownH);
    EXPECT_EQ(type.StoredWidth, m.StoredW);
    EXPECT_EQ(type.StoredHeight, m.StoredH);
    EXPECT_EQ(type.Rotation, m.Rotation);
    for (int frame : {0, 7, 19}) {
        media::TRgbPicture picture;
        media::TMovieReader::TPictureRequest request;
        request.Seconds = frame / 25.0;
        request.Width = m.ShownW;
        request.Height = m.ShownH;
        ASSERT_TRUE(reader.PictureAt(request, picture)) << reader.LastError();
        EXPECT_EQ(testmovie::ReadFrameNumber(picture.Rgb.data(), picture.Width, picture.Height), frame);
        const TBars bars = MeasureBars(picture.Rgb, picture.Width, picture.Height);
        EXPECT_EQ(bars.Top + bars.Bottom + bars.Left + bars.Right, 0) << "no bars at the picture's own shape";
    }
}

// Written at its own shape (AVI at that size, MP4 "same as source"), and at
// 320 x 240 (the default profile, a WebM preset size), a shape that differs
// from every one of these: the picture is fitted inside, bars on the sides it
// does not fill, and reads upright inside them.
TEST_P(PictureShape, OutputsAreUprightAndFittedWithBars) {
    const TShapeMovie& m = GetParam();
    const int w4 = m.ShownW + m.ShownW % 2, h4 = m.ShownH + m.ShownH % 2;
    const struct {
        const char* Name;
        TClipFormat Format;
        int W, H;        // asked for; 0 x 0: same as source
        int WantW, WantH;
    } outputs[] = {{"own_shape.avi", TClipFormat::Avi, w4, h4, w4, h4},
                   {"profile.wmv", TClipFormat::Wmv, 320, 240, 320, 240},
                   {"same_as_source.mp4", TClipFormat::Mp4, 0, 0, m.ShownW & ~1, m.ShownH & ~1},
                   {"preset_size.webm", TClipFormat::WebM, 320, 240, 320, 240}};
    for (const auto& o : outputs) {
        rendertest::TTestHost host;
        host.Settings.VideoCompressor = o.Format == TClipFormat::Avi
                                            ? media::BindCompressorByName(media::TCompressorCategory::Video, "Huffyuv")
                                            : nullptr;
        host.Settings.WithAudio = host.Settings.Mp4.WithAudio = host.Settings.WebM.WithAudio = false;
        const std::string out = Dir + "/" + o.Name;
        ASSERT_TRUE(RenderClip(host, QString::fromStdString(Path), QString::fromStdString(out), o.W, o.H, 0, 25, 3, 9,
                               o.Format))
            << host.FailureReason.toStdString();
        int w = 0, h = 0;
        const auto frames = testmovie::DecodeAllRgb(out, &w, &h);
        ASSERT_EQ(frames.size(), 6u) << o.Name;
        ASSERT_EQ(w, o.WantW) << o.Name;
        ASSERT_EQ(h, o.WantH) << o.Name;
        const media::TPlacement place = media::PlaceInside(double(m.ShownW) / m.ShownH, w, h, 1, 1);
        const TBars bars = MeasureBars(frames[0], w, h);
        // Bars within a couple of pixels of the fitted place (lossy coding blurs the edge).
        EXPECT_NEAR(bars.Top, place.Y, 2) << o.Name;
        EXPECT_NEAR(bars.Bottom, h - place.Y - place.Height, 2) << o.Name;
        EXPECT_NEAR(bars.Left, place.X, 2) << o.Name;
        EXPECT_NEAR(bars.Right, w - place.X - place.Width, 2) << o.Name;
        if (o.W == 320) EXPECT_GT(bars.Top + bars.Bottom + bars.Left + bars.Right, 20) << "the profile's shape differs";
        for (size_t i = 0; i < frames.size(); ++i) {
            const auto inner = Cut(frames[i], w, place.X, place.Y, place.Width, place.Height);
            EXPECT_EQ(testmovie::ReadFrameNumber(inner.data(), place.Width, place.Height), int(3 + i)) << o.Name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Movies, PictureShape, ::testing::ValuesIn(kMovies),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
