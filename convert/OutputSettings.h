// The output choices kept between jobs. All but the two compressor references
// are stored with the preferences (WMVSelected in section Preference, the
// rest in section Last settings).
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

namespace media { class TCompressorFilter; }

// The default Windows Media profile (320 x 240).
inline constexpr const char* kDefaultWmvProfile = "{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}";

// The choices of an MP4 or WebM clip (section Last settings, keys starting
// with "MP4 " or "WebM ").
struct TWebSettings {
    int32_t FrameSizeIndex = 0;   // item of the page's frame-size list; 0: "Same as source"
    int32_t Width = 0;            // pixels; 0 x 0: same as source
    int32_t Height = 0;
    int32_t Crf = 23;             // constant quality (lower is better)
    QString Preset;               // x264 preset name, or VP9 cpu-used as digits
    bool WithAudio = true;
    int32_t AudioKbps = 128;
};

inline TWebSettings DefaultMp4Settings() { return TWebSettings{0, 0, 0, 23, QStringLiteral("veryfast"), true, 128}; }
inline TWebSettings DefaultWebMSettings() { return TWebSettings{0, 0, 0, 33, QStringLiteral("4"), true, 96}; }

// The choices of a GIF or WebP animation (section Last settings, keys
// starting with "GIF " or "WebP ").
struct TAnimSettings {
    int32_t Fps = 15;             // 5 .. 30
    int32_t Width = 480;          // pixels; the height follows the picture's shape
    bool Loop = true;
    int32_t Dither = 2;           // GIF: 0 none, 1 Bayer, 2 error diffusion
    bool PalettePerScene = false; // GIF: a palette per scene instead of one for the clip
    int32_t Quality = 75;         // WebP: 0 .. 100
};

struct TOutputSettings {
    QString WMVSelected = QString::fromLatin1(kDefaultWmvProfile);  // profile GUID text with braces
    std::shared_ptr<media::TCompressorFilter> VideoCompressor;     // empty: uncompressed video
    std::shared_ptr<media::TCompressorFilter> AudioCompressor;     // empty: PCM from AudioFormatIndex
    QString VideoCompressorName = QStringLiteral("Cinepak by Radius");  // "" for uncompressed
    QString AudioCompressorName;                                   // "" for PCM
    int32_t FrameSizeIndex = 3;     // item of the frame-size list
    int32_t OutputWidth = 320;      // pixels
    int32_t OutputHeight = 240;     // pixels
    int32_t AudioFormatIndex = 0;   // row of the PCM audio format table
    bool WithAudio = true;
    TWebSettings Mp4 = DefaultMp4Settings();
    TWebSettings WebM = DefaultWebMSettings();
    TAnimSettings Gif;
    TAnimSettings WebP;
    // The movie's audio track the clip's sound comes from (from 0); -1: the first. Not stored.
    int32_t AudioTrack = -1;
};
