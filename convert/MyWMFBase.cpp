#include "convert/MyWMFBase.h"

#include "media/WmProfiles.h"

#include <cmath>
#include <cstdio>

namespace {

const TWMFProf kRows[TWMFBase::kProfileCount] = {
    {1, "V", "Windows Media Video 8 for Color Pocket PCs (225 Kbps)",
     "Use this profile when creating video files for playback on faster color Pocket PCs."},
    {2, "V", "Windows Media Video 8 for Color Pocket PCs (150 Kbps)",
     "Use this profile when creating video files for playback on most Pocket PCs."},
    {3, "V", "Windows Media Video 8 for Dial-up/ISDN (28.8 to 56 Kbps)",
     "Use this multiple bit rate profile for target audiences with dial-up modems or single-channel ISDN connections (bandwidth is between 28.8 Kbps and 56 Kbps)."},
    {4, "V", "Windows Media Video 8 for LAN, Cable, or xDSL (100 to 768 Kbps)",
     "Use this multiple bit rate profile for target audiences with dual-channel ISDN, LAN, cable modem, or xDSL connections (bandwidth is between 100 Kbps and 500 Kbps)."},
    {5, "V", "Windows Media Video 8 for Dial-up or LAN (28.8 to 100 Kbps)",
     "Use this multiple bit rate profile for target audiences with dial-up modem, LAN, or dual-channel ISDN connections (bandwidth is between 28.8 and 100 Kbps)."},
    {6, "V", "Windows Media Video 8 for Dial-up Modems (28.8 Kbps)",
     "Use this profile for low bit rate audio/video delivery over 28.8 Kbps dial-up connections."},
    {7, "V", "Windows Media Video 8 for Dial-up Modems (56 Kbps)",
     "Use this profile for low bit rate audio/video delivery over 56 Kbps dial-up connections."},
    {8, "V", "Windows Media Video 8 for Local Area Network (100 Kbps)",
     "Use this profile for medium bit rate delivery over dual-channel ISDN, LAN, or cable modem connections."},
    {9, "V", "Windows Media Video 8 for Local Area Network (256 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback."},
    {10, "V", "Windows Media Video 8 for Local Area Network (384 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback."},
    {11, "V", "Windows Media Video 8 for Local Area Network (768 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback."},
    {12, "V", "Windows Media Video 8 for Broadband (NTSC, 700 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or download and playback."},
    {13, "V", "Windows Media Video 8 for Broadband (NTSC, 1400 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback."},
    {14, "V", "Windows Media Video 8 for Broadband (PAL, 384 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback."},
    {15, "V", "Windows Media Video 8 for Broadband (PAL, 700 Kbps)",
     "Use this profile for high quality audio/video content intended for local playback or for download and playback."},
    {16, "V", "Windows Media Video 8 for Dial-up Modem (No audio, 28.8 Kbps)",
     "Use this profile when creating video-only content for target audiences with dial-up modems."},
    {17, "V", "Windows Media Video 8 for Dial-up Modem (No audio, 56 Kbps)",
     "Use this profile when creating video-only content for target audiences with dial-up modems."},
    {18, "V", "Windows Media 8 Fair Quality based VBR for Broadband",
     "Fair to high quality based profile for VBR content that is quality constrained."},
    {19, "V", "Windows Media 8 High Quality based VBR for Broadband.",
     "High to best quality based profile for VBR content that is quality constrained."},
    {20, "V", "Windows Media 8 Best Quality based VBR for Broadband.",
     "Best quality based profile for VBR content that is quality constrained."},
    {21, "A", "Windows Media Audio 8 for Dial-up Modem (Mono, 28.8 Kbps)",
     "Use this profile for radio and music content (audio only)."},
    {22, "A", "Windows Media Audio 8 for Dial-up Modem (FM Radio Stereo, 28.8 Kbps)",
     "Use this profile for radio and music content (audio only)."},
    {23, "A", "Windows Media Audio 8 for Dial-up Modem (32 Kbps)",
     "Use this profile for radio and music content (audio only)."},
    {24, "A", "Windows Media Audio 8 for Dial-up Modem (Near CD quality, 48 Kbps)",
     "Use for radio, music, and general purpose audio content."},
    {25, "A", "Windows Media Audio 8 for Dial-up Modem (CD quality, 64 Kbps)",
     "Use this profile for target audiences with high speed Internet or LAN connections."},
    {26, "A", "Windows Media Audio 8 for ISDN (Better than CD quality, 96 Kbps)",
     "Use this profile for target audiences with high speed Internet or LAN connections."},
    {27, "A", "Windows Media Audio 8 for ISDN (Better than CD quality, 128 Kbps)",
     "Use this profile for target audiences with high speed Internet or LAN connections."},
};

TWMFFatalErrorHandler gFatalErrorHandler = nullptr;

}  // namespace

void SetWMFFatalErrorHandler(TWMFFatalErrorHandler handler) { gFatalErrorHandler = handler; }

bool TWMFBase::WMAvailable() { return media::WMAvailable(); }

void TWMFBase::SetGroupFrameSize(int32_t width, int32_t height) {
    FGroupWidth = width;
    FGroupHeight = height;
}

const TWMFProf& TWMFBase::Row(int32_t index) { return kRows[index]; }

QString TWMFBase::ProfileGuidText(int32_t index) {
    return QString::fromStdString(media::WmProfileDefs().at(static_cast<size_t>(index)).Guid);
}

void TWMFBase::GetProfileNames(QStringList& list) const {
    list.clear();
    for (const auto& row : kRows) list.append(QString::fromUtf8(row.Name));
}

bool TWMFBase::CheckIdx(int32_t index) const {
    if (index >= 0 && index < kProfileCount) return true;
    const QString message = QStringLiteral("TWMFBase.GetProfileByIdx: Error Idx is ") + QString::number(index);
    if (gFatalErrorHandler) gFatalErrorHandler(message);
    throw EWMFBaseError(message.toStdString());
}

QUuid TWMFBase::GetProfileByIdx(int32_t index) const {
    QUuid result = QUuid::fromString(ProfileGuidText(0));
    if (CheckIdx(index)) result = QUuid::fromString(ProfileGuidText(index));
    return result;
}

int32_t TWMFBase::GetIdxByProfile(const QUuid& profile) const {
    for (int32_t i = 0; i < kProfileCount; ++i)
        if (QUuid::fromString(ProfileGuidText(i)) == profile) return i;
    return kUnknownProfileIdx;
}

QString TWMFBase::GetProfileDescByIdx(int32_t index) const {
    if (CheckIdx(index)) return QString::fromUtf8(kRows[index].Description);
    return {};
}

bool TWMFBase::GetProfileInfo(const QUuid& profile, TWMFInfo& info) const {
    if (!WMAvailable()) return false;
    const media::TWmProfileDef* def =
        media::FindWmProfile(profile.toString(QUuid::WithBraces).toUpper().toStdString());
    if (!def) return false;
    info = TWMFInfo{};
    if (def->Audio.Present) {
        const auto& a = def->Audio;
        info.WaveFormat.wFormatTag = 0x0161;  // Windows Media Audio
        info.WaveFormat.nChannels = static_cast<uint16_t>(a.Channels);
        info.WaveFormat.nSamplesPerSec = static_cast<uint32_t>(a.SampleRate);
        info.WaveFormat.nAvgBytesPerSec = static_cast<uint32_t>(a.BitRate / 8);
        info.WaveFormat.nBlockAlign = static_cast<uint16_t>((a.Channels * a.Bits) >> 3);
        info.WaveFormat.wBitsPerSample = static_cast<uint16_t>(a.Bits);
        info.AudioRate = static_cast<int32_t>(static_cast<uint32_t>(info.WaveFormat.nAvgBytesPerSec * 8u) >> 10);
        info.AudioBitRate = a.BitRate;
    }
    if (def->Video.Present) {
        const auto& v = def->Video;
        const bool keepsSize = v.Width <= 0 || v.Height <= 0;
        info.VideoWidth = keepsSize ? FGroupWidth : v.Width;
        info.VideoHeight = keepsSize ? FGroupHeight : v.Height;
        if (v.FrameRateNum > 0 && v.FrameRateDen > 0) {
            info.VideoAvgTimePerFrame = std::llround(1e7 * v.FrameRateDen / v.FrameRateNum);
            info.VideoFrameRate = 10000000.0L / info.VideoAvgTimePerFrame;
        }
        info.VideoRate = v.BitRate >> 13;
        info.VideoBitRate = v.BitRate;
        info.PixelText = QString::number(v.BitCount) + QStringLiteral("bit");
    }
    return true;
}

QString TWMFBase::FormatFrameRate(long double rate) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.8LG", rate);
    QString text = QString::fromLatin1(buf);
    // Scientific form: at least three exponent digits.
    const int e = text.indexOf(QLatin1Char('E'));
    if (e >= 0) {
        QString mantissa = text.left(e);
        QString exponent = text.mid(e + 1);
        QChar sign = QLatin1Char('+');
        if (exponent.startsWith(QLatin1Char('+')) || exponent.startsWith(QLatin1Char('-'))) {
            sign = exponent.at(0);
            exponent = exponent.mid(1);
        }
        while (exponent.size() < 3) exponent.prepend(QLatin1Char('0'));
        text = mantissa + QLatin1Char('E') + sign + exponent;
    }
    return text;
}

QStringList TWMFBase::DetailLines(const TWMFInfo& info, const QString& description) {
    QStringList lines;
    lines << QStringLiteral("Video:");
    if (info.VideoRate <= 0) {
        lines << QStringLiteral("  No Video");
    } else {
        lines << QStringLiteral("  Width:    ") + QString::number(info.VideoWidth) + QStringLiteral(" pixels");
        lines << QStringLiteral("  Height:   ") + QString::number(info.VideoHeight) + QStringLiteral(" pixels");
        lines << QStringLiteral("  Pixel:    ") + info.PixelText;
        if (info.VideoFrameRate > 0)
            lines << QStringLiteral("  Timebase: ") + FormatFrameRate(info.VideoFrameRate) +
                         QStringLiteral(" frame per second");
        else
            lines << QStringLiteral("  Timebase: same as the source");
        // The coded stream's rate, in kbps (1000 bits per second).
        lines << QStringLiteral("  Bit rate: ") + QString::number(info.VideoBitRate / 1000) + QStringLiteral(" kbps");
    }
    lines << QString();
    lines << QStringLiteral("Audio:");
    if (info.AudioRate <= 0) {
        lines << QStringLiteral("  No audio");
    } else {
        lines << QStringLiteral("  Quality:    ") +
                     (info.WaveFormat.wBitsPerSample > 8 ? QStringLiteral("16 bit") : QStringLiteral("8 bit")) +
                     (info.WaveFormat.nChannels >= 2 ? QStringLiteral(" Stereo") : QStringLiteral(" Mono"));
        lines << QStringLiteral("  Bit rate:   ") + QString::number(info.AudioBitRate / 1000) + QStringLiteral(" kbps");
        lines << QStringLiteral("  Sample rate:") + QString::number(info.WaveFormat.nSamplesPerSec / 1000) +
                     QStringLiteral(" kHz");
    }
    lines << QString();
    lines << description.trimmed();
    return lines;
}

void TWMFBase::GetProfileDetails(const QUuid& profile, QStringList& lines) const {
    lines.clear();
    const QString description = GetProfileDescByIdx(GetIdxByProfile(profile));
    TWMFInfo info;
    if (!GetProfileInfo(profile, info)) return;
    lines = DetailLines(info, description);
}
