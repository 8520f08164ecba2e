// The Windows Media profile catalogue: rows, lookups, the index error and the
// detail text's labels and number formats.
#include "convert/MyWMFBase.h"
#include "convert/RenderClip.h"
#include "media/PcmFormat.h"
#include "media/WmProfiles.h"

#include <gtest/gtest.h>

namespace {

TEST(WMFBase, HasTheTwentySevenRowsInOrder) {
    TWMFBase cat;
    QStringList names;
    names << "stale";
    cat.GetProfileNames(names);
    ASSERT_EQ(names.size(), 27);
    EXPECT_EQ(names[0], "Windows Media Video 8 for Color Pocket PCs (225 Kbps)");
    EXPECT_EQ(names[11], "Windows Media Video 8 for Broadband (NTSC, 700 Kbps)");
    EXPECT_EQ(names[18], "Windows Media 8 High Quality based VBR for Broadband.");
    EXPECT_EQ(names[26], "Windows Media Audio 8 for ISDN (Better than CD quality, 128 Kbps)");
    EXPECT_EQ(cat.GetProfileDescByIdx(9), cat.GetProfileDescByIdx(8));
    EXPECT_EQ(cat.GetProfileDescByIdx(11),
              "Use this profile for high quality audio/video content intended for local playback or download and playback.");
    EXPECT_EQ(cat.GetProfileDescByIdx(25), "Use this profile for target audiences with high speed Internet or LAN connections.");
}

TEST(WMFBase, IndexAndProfileRoundTrip) {
    TWMFBase cat;
    for (int i = 0; i < 27; ++i) EXPECT_EQ(cat.GetIdxByProfile(cat.GetProfileByIdx(i)), i);
    EXPECT_EQ(cat.GetProfileByIdx(18), QUuid::fromString(QStringLiteral("{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}")));
    EXPECT_EQ(cat.GetIdxByProfile(QUuid::fromString(QStringLiteral("{00000000-1111-2222-3333-444444444444}"))), 14);
    EXPECT_EQ(cat.GetIdxByProfile(QUuid()), 14);
}

QString gReported;
void RecordFatal(const QString& m) { gReported = m; }

TEST(WMFBase, IndexOutsideTheTableIsReported) {
    TWMFBase cat;
    for (int bad : {-1, 27, 1000}) {
        SetWMFFatalErrorHandler(&RecordFatal);
        gReported.clear();
        EXPECT_THROW(cat.GetProfileByIdx(bad), EWMFBaseError);
        EXPECT_EQ(gReported, "TWMFBase.GetProfileByIdx: Error Idx is " + QString::number(bad));
        SetWMFFatalErrorHandler(nullptr);
        EXPECT_THROW(cat.GetProfileDescByIdx(bad), EWMFBaseError);
    }
    EXPECT_TRUE(cat.CheckIdx(0));
    EXPECT_TRUE(cat.CheckIdx(26));
}

struct TTimebaseCase {
    int64_t AvgTimePerFrame;
    const char* Text;
};

TEST(WMFBase, TimebaseNumberFormat) {
    const TTimebaseCase cases[] = {{400000, "25"}, {333667, "29.97"}, {666667, "14.999993"}, {1000000, "10"},
                                   {417083, "23.976043"}};
    for (const auto& c : cases) {
        TWMFInfo info;
        info.VideoRate = 30;
        info.VideoBitRate = 250000;
        info.VideoFrameRate = 10000000.0L / c.AvgTimePerFrame;
        const QStringList lines = TWMFBase::DetailLines(info, "d");
        EXPECT_EQ(lines[4], QStringLiteral("  Timebase: ") + c.Text + " frame per second") << c.AvgTimePerFrame;
    }
    EXPECT_EQ(TWMFBase::FormatFrameRate(1.5e10L), "1.5E+010");
}

TEST(WMFBase, NoVideoAndNoAudioLines) {
    TWMFInfo info;
    info.VideoRate = 8191 >> 13;  // a bit rate below 8192 bits per second
    const QStringList lines = TWMFBase::DetailLines(info, "  Desc.  ");
    const QStringList expected = {"Video:", "  No Video", "", "Audio:", "  No audio", "", "Desc."};
    EXPECT_EQ(lines, expected);
}

TEST(WMFBase, SampleRateLine) {
    TWMFInfo info;
    info.WaveFormat.nSamplesPerSec = 44100;
    info.WaveFormat.nChannels = 1;
    info.WaveFormat.wBitsPerSample = 8;
    info.WaveFormat.nAvgBytesPerSec = 4000;
    info.AudioRate = (4000 * 8) >> 10;
    info.AudioBitRate = 32000;
    const QStringList lines = TWMFBase::DetailLines(info, "x");
    EXPECT_EQ(lines[4], "  Quality:    8 bit Mono");
    EXPECT_EQ(lines[5], "  Bit rate:   32 kbps");
    EXPECT_EQ(lines[6], "  Sample rate:44 kHz");
}

struct TDetailCase {
    int Row;
    QStringList Lines;
};

// The whole text for a few rows, as the writer will write them.
TEST(WMFBase, ProfileDetailsDescribeTheWrittenFile) {
    if (!TWMFBase::WMAvailable()) GTEST_SKIP() << "no wmv2/wmav2 in this FFmpeg";
    const TDetailCase cases[] = {
        {0,
         {"Video:", "  Width:    208 pixels", "  Height:   160 pixels", "  Pixel:    24bit",
          "  Timebase: 14.999993 frame per second", "  Bit rate: 193 kbps", "", "Audio:", "  Quality:    16 bit Stereo",
          "  Bit rate:   32 kbps", "  Sample rate:44 kHz", "",
          "Use this profile when creating video files for playback on faster color Pocket PCs."}},
        {11,
         {"Video:", "  Width:    640 pixels", "  Height:   480 pixels", "  Pixel:    24bit",
          "  Timebase: 29.97 frame per second", "  Bit rate: 636 kbps", "", "Audio:",
          "  Quality:    16 bit Stereo", "  Bit rate:   64 kbps", "  Sample rate:44 kHz", "",
          "Use this profile for high quality audio/video content intended for local playback or download and playback."}},
        {16,
         {"Video:", "  Width:    176 pixels", "  Height:   144 pixels", "  Pixel:    24bit",
          "  Timebase: 14.999993 frame per second", "  Bit rate: 52 kbps", "", "Audio:", "  No audio", "",
          "Use this profile when creating video-only content for target audiences with dial-up modems."}},
        {18,
         {"Video:", "  Width:    320 pixels", "  Height:   240 pixels", "  Pixel:    24bit",
          "  Timebase: same as the source", "  Bit rate: 1024 kbps", "", "Audio:", "  Quality:    16 bit Stereo",
          "  Bit rate:   96 kbps", "  Sample rate:44 kHz", "",
          "High to best quality based profile for VBR content that is quality constrained."}},
        {20,
         {"Video:", "  No Video", "", "Audio:", "  Quality:    16 bit Mono", "  Bit rate:   28 kbps",
          "  Sample rate:22 kHz", "", "Use this profile for radio and music content (audio only)."}},
    };
    TWMFBase cat;
    for (const auto& c : cases) {
        QStringList lines = {"old"};
        cat.GetProfileDetails(cat.GetProfileByIdx(c.Row), lines);
        EXPECT_EQ(lines, c.Lines) << "row " << c.Row << ":\n" << lines.join('\n').toStdString();
    }
}

TEST(WMFBase, QualityRowsShowTheClipsFrameSize) {
    TWMFBase cat;
    cat.SetGroupFrameSize(640, 480);
    TWMFInfo info;
    ASSERT_TRUE(cat.GetProfileInfo(cat.GetProfileByIdx(17), info));
    EXPECT_EQ(info.VideoWidth, 640);
    EXPECT_EQ(info.VideoHeight, 480);
}

TEST(WMFBase, UnknownProfileHasNoDetails) {
    TWMFBase cat;
    QStringList lines = {"old"};
    cat.GetProfileDetails(QUuid::fromString(QStringLiteral("{00000000-1111-2222-3333-444444444444}")), lines);
    EXPECT_TRUE(lines.isEmpty());
}

// ------------------------------------------------------------- progress texts

TEST(RenderClipTexts, ProgressRoundsTiesToEven) {
    struct {
        int64_t Position, Total, Percent;
    } cases[] = {{0, 1000, 0}, {5, 1000, 0}, {15, 1000, 2}, {25, 1000, 2}, {35, 1000, 4},
                 {999, 1000, 100}, {1000, 1000, 100}, {1, 3, 33}, {2, 3, 67},
                 // position x 100 needs 64 bits
                 {int64_t(600) * 10000000 * 60, int64_t(600) * 10000000 * 120, 50}};
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressPercent(c.Position, c.Total), c.Percent) << c.Position << "/" << c.Total;
        EXPECT_EQ(ProgressCaption(c.Position, c.Total), "Progress: " + QString::number(c.Percent) + "%");
    }
}

TEST(RenderClipTexts, PleaseWaitDotsGrowToFourteen) {
    EXPECT_EQ(PleaseWaitCaption(0), "Please wait..");
    EXPECT_EQ(PleaseWaitCaption(2), "Please wait....");
    EXPECT_EQ(PleaseWaitCaption(13), "Please wait." + QString(14, '.'));
    EXPECT_EQ(PleaseWaitCaption(40), "Please wait." + QString(14, '.'));
}

TEST(PcmTable, RowsAndFallback) {
    const media::TPcmFormat r5 = media::PcmFormatByIndex(5);
    EXPECT_EQ(r5.SampleRate, 22050);
    EXPECT_EQ(r5.Bits, 16);
    EXPECT_EQ(r5.Channels, 1);
    EXPECT_EQ(r5.BlockAlign(), 2);
    EXPECT_EQ(r5.AvgBytesPerSecond(), 44100);
    for (int bad : {-1, 8, 9, 65535}) EXPECT_EQ(media::PcmFormatByIndex(bad).AvgBytesPerSecond(), 176400);
}

}  // namespace
