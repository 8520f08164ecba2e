// The main window's preferences: every value it keeps in the settings store,
// read and written in one fixed order.
#include "app/Main.h"

#include "common/MyCommonParams.h"
#include "convert/VideoSettings.h"

#include <QAction>

namespace {
const QString kPreference = QStringLiteral("Preference");
const QString kLastSettings = QStringLiteral("Last settings");

// The names of a web clip's values: the prefix ("MP4 " or "WebM ") and the value.
QString WebKey(TWebCodec codec, const char* name) {
    return (codec == TWebCodec::Mp4 ? QStringLiteral("MP4 ") : QStringLiteral("WebM ")) + QString::fromLatin1(name);
}

// A web clip's settings as stored; values that cannot be read (another type
// of value) or that the page cannot show give the codec's defaults.
// An animation's settings (keys "GIF ..." or "WebP ..."); values that can not
// be read or lie outside the page's ranges give the defaults.
TAnimSettings ReadAnimSettings(TMyRegistry& store, const QString& prefix) {
    const TAnimSettings d;
    const auto readInt = [&](const char* name, int32_t def, int32_t lo, int32_t hi) {
        try {
            const int32_t v = store.ReadInteger(kLastSettings, prefix + QString::fromLatin1(name), def);
            return v >= lo && v <= hi ? v : def;
        } catch (const ERegistryException&) {
            return def;
        }
    };
    TAnimSettings s;
    s.Fps = readInt("frame rate", d.Fps, 5, 30);
    s.Width = readInt("width", d.Width, 16, 4096);
    s.Loop = readInt("loop", d.Loop ? 1 : 0, 0, 1) != 0;
    s.Dither = readInt("dithering", d.Dither, 0, 2);
    s.PalettePerScene = readInt("palette per scene", d.PalettePerScene ? 1 : 0, 0, 1) != 0;
    s.Quality = readInt("quality", d.Quality, 0, 100);
    return s;
}

void WriteAnimSettings(TMyRegistry& store, const QString& prefix, const TAnimSettings& s) {
    store.WriteInteger(kLastSettings, prefix + QStringLiteral("frame rate"), s.Fps);
    store.WriteInteger(kLastSettings, prefix + QStringLiteral("width"), s.Width);
    store.WriteInteger(kLastSettings, prefix + QStringLiteral("loop"), s.Loop ? 1 : 0);
    store.WriteInteger(kLastSettings, prefix + QStringLiteral("dithering"), s.Dither);
    store.WriteInteger(kLastSettings, prefix + QStringLiteral("palette per scene"), s.PalettePerScene ? 1 : 0);
    store.WriteInteger(kLastSettings, prefix + QStringLiteral("quality"), s.Quality);
}

TWebSettings ReadWebSettings(TMyRegistry& store, TWebCodec codec) {
    const TWebSettings defaults = DefaultWebSettings(codec);
    const auto readInt = [&](const char* name, int32_t def) {
        try {
            return store.ReadInteger(kLastSettings, WebKey(codec, name), def);
        } catch (const ERegistryException&) {
            return def;
        }
    };
    TWebSettings s;
    s.FrameSizeIndex = readInt("frame size index", defaults.FrameSizeIndex);
    s.Width = readInt("width", defaults.Width);
    s.Height = readInt("height", defaults.Height);
    s.Crf = readInt("quality", defaults.Crf);
    try {
        s.Preset = store.ReadString(kLastSettings, WebKey(codec, "preset"), defaults.Preset);
    } catch (const ERegistryException&) {
        s.Preset = defaults.Preset;
    }
    s.WithAudio = readInt("with audio", defaults.WithAudio ? 1 : 0) != 0;
    s.AudioKbps = readInt("audio bit rate", defaults.AudioKbps);
    return CheckedWebSettings(s, codec);
}

void WriteWebSettings(TMyRegistry& store, TWebCodec codec, const TWebSettings& s) {
    store.WriteInteger(kLastSettings, WebKey(codec, "frame size index"), s.FrameSizeIndex);
    store.WriteInteger(kLastSettings, WebKey(codec, "width"), s.Width);
    store.WriteInteger(kLastSettings, WebKey(codec, "height"), s.Height);
    store.WriteInteger(kLastSettings, WebKey(codec, "quality"), s.Crf);
    store.WriteString(kLastSettings, WebKey(codec, "preset"), s.Preset);
    store.WriteBool(kLastSettings, WebKey(codec, "with audio"), s.WithAudio);
    store.WriteInteger(kLastSettings, WebKey(codec, "audio bit rate"), s.AudioKbps);
}

}  // namespace

void TMainForm::LoadPreferences() {
    TMyRegistry& store = *SettingsStore;
    // A missing folder value leaves the field as it is.
    ImageFolder = store.ReadString(kPreference, QStringLiteral("ImageFolder"), ImageFolder);
    VideoFolder = store.ReadString(kPreference, QStringLiteral("VideoFolder"), VideoFolder);
    SourceFolder = store.ReadString(kPreference, QStringLiteral("SourceFolder"), SourceFolder);
    OutputSettings.WMVSelected =
        store.ReadString(kPreference, QStringLiteral("WMVSelected"), QString::fromLatin1(kDefaultWmvProfile));

    const bool useTimecode = store.ReadBool(kPreference, QStringLiteral("Use timecode"), true);
    const bool unitChanged = Timecode1->isChecked() != useTimecode;
    Timecode1->setChecked(useTimecode);
    FrameNumber1->setChecked(!useTimecode);
    if (unitChanged)
        tbPositionChange();

    ShowPreview1->setChecked(store.ReadBool(kPreference, QStringLiteral("Show Preview"), true));
    Showresultwhenready1->setChecked(store.ReadBool(kPreference, QStringLiteral("Show Result"), true));

    // The compressor filters are not stored and stay as they are.
    OutputSettings.VideoCompressorName =
        store.ReadString(kLastSettings, QStringLiteral("AVI video encoder"), QStringLiteral("Cinepak by Radius"));
    OutputSettings.AudioCompressorName = store.ReadString(kLastSettings, QStringLiteral("AVI audio encoder"), QString());
    OutputSettings.FrameSizeIndex = store.ReadInteger(kLastSettings, QStringLiteral("Video format index"), 3);
    OutputSettings.OutputWidth = store.ReadInteger(kLastSettings, QStringLiteral("Video width"), 320);
    OutputSettings.OutputHeight = store.ReadInteger(kLastSettings, QStringLiteral("Video Height"), 240);
    OutputSettings.AudioFormatIndex = store.ReadInteger(kLastSettings, QStringLiteral("PCM Mode"), 0);
    OutputSettings.WithAudio = store.ReadBool(kLastSettings, QStringLiteral("With audio"), true);
    OutputSettings.Mp4 = ReadWebSettings(store, TWebCodec::Mp4);
    OutputSettings.WebM = ReadWebSettings(store, TWebCodec::WebM);
    OutputSettings.Gif = ReadAnimSettings(store, QStringLiteral("GIF "));
    OutputSettings.WebP = ReadAnimSettings(store, QStringLiteral("WebP "));
}

void TMainForm::SavePreferences() {
    TMyRegistry& store = *SettingsStore;
    store.WriteString(kPreference, QStringLiteral("ImageFolder"), ImageFolder);
    store.WriteString(kPreference, QStringLiteral("VideoFolder"), VideoFolder);
    store.WriteString(kPreference, QStringLiteral("SourceFolder"), SourceFolder);
    store.WriteString(kPreference, QStringLiteral("WMVSelected"), OutputSettings.WMVSelected);
    store.WriteBool(kPreference, QStringLiteral("Use timecode"), Timecode1->isChecked());
    store.WriteBool(kPreference, QStringLiteral("Show Preview"), ShowPreview1->isChecked());
    store.WriteBool(kPreference, QStringLiteral("Show Result"), Showresultwhenready1->isChecked());

    store.WriteString(kLastSettings, QStringLiteral("AVI video encoder"), OutputSettings.VideoCompressorName);
    store.WriteString(kLastSettings, QStringLiteral("AVI audio encoder"), OutputSettings.AudioCompressorName);
    store.WriteInteger(kLastSettings, QStringLiteral("Video format index"), OutputSettings.FrameSizeIndex);
    store.WriteInteger(kLastSettings, QStringLiteral("Video width"), OutputSettings.OutputWidth);
    store.WriteInteger(kLastSettings, QStringLiteral("Video Height"), OutputSettings.OutputHeight);
    store.WriteInteger(kLastSettings, QStringLiteral("PCM Mode"), OutputSettings.AudioFormatIndex);
    store.WriteBool(kLastSettings, QStringLiteral("With audio"), OutputSettings.WithAudio);
    WriteWebSettings(store, TWebCodec::Mp4, OutputSettings.Mp4);
    WriteWebSettings(store, TWebCodec::WebM, OutputSettings.WebM);
    WriteAnimSettings(store, QStringLiteral("GIF "), OutputSettings.Gif);
    WriteAnimSettings(store, QStringLiteral("WebP "), OutputSettings.WebP);
}
