// The main window's preferences: every value it keeps in the settings store,
// read and written in one fixed order.
#include "app/Main.h"

#include "common/MyCommonParams.h"

#include <QAction>

namespace {
const QString kPreference = QStringLiteral("Preference");
const QString kLastSettings = QStringLiteral("Last settings");
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
        TB1Change();

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
}
