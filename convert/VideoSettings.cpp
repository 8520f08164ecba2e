#include "convert/VideoSettings.h"

#include "convert/EncoderSettingsDlg.h"
#include "convert/MyWMFBase.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

const TFrameSizePreset FrameSizePresets[7] = {
    {"  --<Custom>--", 320, 240},      {"  DV 720 x 576", 720, 576},     {"  large 640 x 480 ", 640, 480},
    {"  medium 320 x 240", 320, 240},  {"  small 240 x 180", 240, 180},  {"  tiny  180 x 120", 180, 120},
    {"", 0, 0},
};

const char* const AudioFormatTexts[9] = {
    "44.100  16 bit stereo", "44.100 16 bit Mono", "44.100  8 bit stereo", "44.100 8 bit Mono",
    "22.050  16 bit stereo", "22.050 16 bit Mono", "22.050  8 bit stereo", "22.050 8 bit Mono",
    "",
};

namespace {

constexpr int kPresetCount = 6;    // rows 0..5 carry a size
constexpr int kPcmRowCount = 8;    // rows 0..7 of the audio format list are PCM formats

// The hourglass for the length of a scope, also when an error leaves it.
class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;
};

QGroupBox* Group(const QString& caption, QWidget* parent) {
    auto* box = new QGroupBox(caption, parent);
    return box;
}

}  // namespace

// ---------------------------------------------------------------- web choices

TWebSettings DefaultWebSettings(TWebCodec codec) {
    return codec == TWebCodec::Mp4 ? DefaultMp4Settings() : DefaultWebMSettings();
}

const std::vector<TWebFrameSize>& WebFrameSizes() {
    static const std::vector<TWebFrameSize> sizes = [] {
        std::vector<TWebFrameSize> list{{QStringLiteral("Same as source"), 0, 0}};
        // Row 0 is the AVI page's custom item and the last row is empty; the
        // rows between carry a size.
        for (int row = 1; row < kPresetCount; ++row) {
            const TFrameSizePreset& preset = FrameSizePresets[row];
            if (preset.Width > 0 && preset.Height > 0 && preset.Width % 2 == 0 && preset.Height % 2 == 0)
                list.push_back({QString::fromLatin1(preset.Text).simplified(), preset.Width, preset.Height});
        }
        list.push_back({QStringLiteral("Custom"), 0, 0});
        return list;
    }();
    return sizes;
}

int WebCustomSizeIndex() { return static_cast<int>(WebFrameSizes().size()) - 1; }

bool WebCustomSizeValid(int width, int height) {
    const auto side = [](int v) { return v > 0 && v <= kWebMaxSide && v % 2 == 0; };
    return side(width) && side(height);
}

int WebMaxCrf(TWebCodec codec) { return codec == TWebCodec::Mp4 ? 51 : 63; }

std::vector<TWebPreset> WebPresets(TWebCodec codec) {
    if (codec == TWebCodec::Mp4) {
        return {{"ultrafast", "ultrafast (fastest, largest file)"},
                {"superfast", "superfast"},
                {"veryfast", "veryfast"},
                {"faster", "faster"},
                {"fast", "fast"},
                {"medium", "medium"},
                {"slow", "slow"},
                {"slower", "slower"},
                {"veryslow", "veryslow (smallest file, slowest)"}};
    }
    std::vector<TWebPreset> presets;
    for (int speed = 0; speed <= 8; ++speed) {
        QString text = QString::number(speed);
        if (speed == 0)
            text += QStringLiteral(" (best, slowest)");
        else if (speed == 8)
            text += QStringLiteral(" (fastest)");
        presets.push_back({QString::number(speed), text});
    }
    return presets;
}

const std::vector<int>& WebAudioRates() {
    static const std::vector<int> rates{64, 96, 128, 160, 192, 256};
    return rates;
}

TWebSettings CheckedWebSettings(const TWebSettings& settings, TWebCodec codec) {
    const TWebSettings defaults = DefaultWebSettings(codec);
    TWebSettings checked = settings;

    const auto& sizes = WebFrameSizes();
    const int custom = WebCustomSizeIndex();
    if (checked.FrameSizeIndex < 0 || checked.FrameSizeIndex > custom ||
        (checked.FrameSizeIndex == custom && !WebCustomSizeValid(checked.Width, checked.Height))) {
        checked.FrameSizeIndex = defaults.FrameSizeIndex;
        checked.Width = defaults.Width;
        checked.Height = defaults.Height;
    } else if (checked.FrameSizeIndex != custom) {
        checked.Width = sizes[static_cast<size_t>(checked.FrameSizeIndex)].Width;
        checked.Height = sizes[static_cast<size_t>(checked.FrameSizeIndex)].Height;
    }

    if (checked.Crf < 0 || checked.Crf > WebMaxCrf(codec))
        checked.Crf = defaults.Crf;

    bool presetKnown = false;
    for (const TWebPreset& preset : WebPresets(codec))
        presetKnown = presetKnown || preset.Value == checked.Preset;
    if (!presetKnown)
        checked.Preset = defaults.Preset;

    const auto& rates = WebAudioRates();
    if (std::find(rates.begin(), rates.end(), checked.AudioKbps) == rates.end())
        checked.AudioKbps = defaults.AudioKbps;
    return checked;
}

// ---------------------------------------------------------------- compressors

TCompressorList SystemCompressors(media::TCompressorCategory category) {
    auto devices = std::make_shared<media::TSysDevEnum>(category);
    TCompressorList list;
    for (int i = 0; i < devices->Count(); ++i)
        list.Names.push_back(QString::fromStdString(devices->FriendlyName(i)));
    list.Bind = [devices](int i) -> media::TCompressorFilterPtr {
        try {
            return devices->Bind(i);
        } catch (const std::exception&) {
            return nullptr;  // an entry that cannot be bound renders uncompressed
        }
    };
    return list;
}

bool VideoCompressorListed(const QString& name) {
    return !name.toUpper().startsWith(QLatin1String("WMV")) && !name.toLower().contains(QLatin1String("ecompress"));
}

bool AudioCompressorListed(const QString& name) {
    return name.toUpper().trimmed() != QLatin1String("PCM");
}

// ---------------------------------------------------------------- creation

TVideoSetDlg::TVideoSetDlg(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("VideoSetDlg"));
    setWindowTitle(QStringLiteral("Select the output compression"));
    setModal(true);
    WMAvailable = [] { return TWMFBase::WMAvailable(); };

    nbFormats = new QStackedWidget(this);
    nbFormats->setObjectName(QStringLiteral("nbFormats"));
    nbFormats->addWidget(MakeAviPage());
    nbFormats->addWidget(MakeWmfPage());
    nbFormats->addWidget(MakeWebPage());

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(nbFormats);
    layout->addLayout(buttons);

    // FormCreate
    Cancelled = false;
}

TVideoSetDlg::~TVideoSetDlg() = default;  // the catalogue and the lists go with the dialog

QWidget* TVideoSetDlg::MakeAviPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("AVI"));

    // Video settings: compressor with "Set", frame size with the two boxes.
    auto* video = Group(QStringLiteral("Video settings"), page);
    auto* compression = Group(QStringLiteral("Video compression"), video);
    cbVidComp = new QComboBox(compression);
    cbVidComp->setObjectName(QStringLiteral("cbVidComp"));
    cbVidComp->setMinimumContentsLength(28);
    sbSetVideoCompress = new QPushButton(QStringLiteral("Set"), compression);
    sbSetVideoCompress->setObjectName(QStringLiteral("sbSetVideoCompress"));
    auto* compressionRow = new QHBoxLayout(compression);
    compressionRow->addWidget(cbVidComp, 1);
    compressionRow->addWidget(sbSetVideoCompress);

    auto* frame = Group(QStringLiteral("Frame size"), video);
    cbVideoSize = new QComboBox(frame);
    cbVideoSize->setObjectName(QStringLiteral("cbVideoSize"));
    for (const TFrameSizePreset& preset : FrameSizePresets)
        cbVideoSize->addItem(QString::fromLatin1(preset.Text));
    lbWidth = new QLabel(QStringLiteral(" Width:"), frame);
    lbHeight = new QLabel(QStringLiteral("Height:"), frame);
    eProjWidth = new QLineEdit(QStringLiteral("320"), frame);
    eProjWidth->setObjectName(QStringLiteral("eProjWidth"));
    eProjWidth->setEnabled(false);
    eProjHeight = new QLineEdit(QStringLiteral("240"), frame);
    eProjHeight->setObjectName(QStringLiteral("eProjHeight"));
    eProjHeight->setEnabled(false);
    auto* frameGrid = new QGridLayout(frame);
    frameGrid->addWidget(cbVideoSize, 0, 0, 1, 4);
    frameGrid->addWidget(lbWidth, 1, 0);
    frameGrid->addWidget(eProjWidth, 1, 1);
    frameGrid->addWidget(lbHeight, 1, 2);
    frameGrid->addWidget(eProjHeight, 1, 3);

    auto* videoColumn = new QVBoxLayout(video);
    videoColumn->addWidget(compression);
    videoColumn->addWidget(frame);

    // Audio settings: compressor, PCM format and the audio track switch.
    auto* audio = Group(QStringLiteral("Audio settings"), page);
    auto* audioCompression = Group(QStringLiteral("Audio compression"), audio);
    cbAudComp = new QComboBox(audioCompression);
    cbAudComp->setObjectName(QStringLiteral("cbAudComp"));
    cbAudComp->setMinimumContentsLength(28);
    auto* audioCompressionRow = new QHBoxLayout(audioCompression);
    audioCompressionRow->addWidget(cbAudComp);

    auto* format = Group(QStringLiteral("Available audio format "), audio);
    cbAudFormat = new QComboBox(format);
    cbAudFormat->setObjectName(QStringLiteral("cbAudFormat"));
    for (const char* text : AudioFormatTexts)
        cbAudFormat->addItem(QString::fromLatin1(text));
    cbAudFormat->setEnabled(false);
    cbWithSound = new QCheckBox(QStringLiteral("Include audio track"), format);
    cbWithSound->setObjectName(QStringLiteral("cbWithSound"));
    cbWithSound->setChecked(true);
    auto* formatColumn = new QVBoxLayout(format);
    formatColumn->addWidget(cbAudFormat);
    formatColumn->addWidget(cbWithSound);

    auto* audioColumn = new QVBoxLayout(audio);
    audioColumn->addWidget(audioCompression);
    audioColumn->addWidget(format);

    auto* pageColumn = new QVBoxLayout(page);
    pageColumn->addWidget(video);
    pageColumn->addWidget(audio);
    pageColumn->addStretch(1);

    // User selections only: selecting in code runs none of these.
    connect(cbVidComp, &QComboBox::activated, this, [this] { cbVidCompClick(); });
    connect(cbAudComp, &QComboBox::activated, this, [this] { cbAudCompClick(); });
    connect(cbVideoSize, &QComboBox::activated, this, [this] { cbVideoSizeChange(); });
    connect(sbSetVideoCompress, &QPushButton::clicked, this, [this] { sbSetVideoCompressClick(); });
    return page;
}

QWidget* TVideoSetDlg::MakeWmfPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("WMF"));

    auto* profiles = Group(QStringLiteral("Available WMV profiles"), page);
    cbProfiles = new QComboBox(profiles);
    cbProfiles->setObjectName(QStringLiteral("cbProfiles"));
    cbProfiles->setMinimumContentsLength(40);
    auto* profilesRow = new QHBoxLayout(profiles);
    profilesRow->addWidget(cbProfiles);

    auto* descriptions = Group(QStringLiteral("profile descriptions"), page);
    mmProfileDetails = new QPlainTextEdit(descriptions);
    mmProfileDetails->setObjectName(QStringLiteral("mmProfileDetails"));
    mmProfileDetails->setReadOnly(true);
    mmProfileDetails->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmProfileDetails->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // The detail lines line their figures up with blanks.
    mmProfileDetails->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* descriptionsRow = new QHBoxLayout(descriptions);
    descriptionsRow->addWidget(mmProfileDetails);

    auto* pageColumn = new QVBoxLayout(page);
    pageColumn->addWidget(profiles);
    pageColumn->addWidget(descriptions, 1);

    connect(cbProfiles, &QComboBox::activated, this, [this] { cbProfilesChange(); });
    return page;
}

QWidget* TVideoSetDlg::MakeWebPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("Web"));

    // Video settings: frame size with the custom boxes, quality, speed.
    auto* video = Group(QStringLiteral("Video settings"), page);
    auto* frame = Group(QStringLiteral("Frame size"), video);
    cbWebSize = new QComboBox(frame);
    cbWebSize->setObjectName(QStringLiteral("cbWebSize"));
    for (const TWebFrameSize& size : WebFrameSizes())
        cbWebSize->addItem(size.Text);
    auto* widthLabel = new QLabel(QStringLiteral(" Width:"), frame);
    auto* heightLabel = new QLabel(QStringLiteral("Height:"), frame);
    const auto sideBox = [frame](const char* name, int value) {
        auto* box = new QSpinBox(frame);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(0, kWebMaxSide);
        box->setSingleStep(2);
        box->setValue(value);
        box->setEnabled(false);
        return box;
    };
    seWebWidth = sideBox("seWebWidth", 320);
    seWebHeight = sideBox("seWebHeight", 240);
    auto* note = new QLabel(QStringLiteral("The picture keeps its shape; width and height are even numbers."), frame);
    note->setWordWrap(true);
    auto* frameGrid = new QGridLayout(frame);
    frameGrid->addWidget(cbWebSize, 0, 0, 1, 4);
    frameGrid->addWidget(widthLabel, 1, 0);
    frameGrid->addWidget(seWebWidth, 1, 1);
    frameGrid->addWidget(heightLabel, 1, 2);
    frameGrid->addWidget(seWebHeight, 1, 3);
    frameGrid->addWidget(note, 2, 0, 1, 4);

    auto* quality = Group(QStringLiteral("Quality and speed"), video);
    lbWebCrf = new QLabel(quality);
    lbWebCrf->setObjectName(QStringLiteral("lbWebCrf"));
    seWebCrf = new QSpinBox(quality);
    seWebCrf->setObjectName(QStringLiteral("seWebCrf"));
    auto* presetLabel = new QLabel(QStringLiteral("Speed preset:"), quality);
    cbWebPreset = new QComboBox(quality);
    cbWebPreset->setObjectName(QStringLiteral("cbWebPreset"));
    auto* qualityGrid = new QGridLayout(quality);
    qualityGrid->addWidget(lbWebCrf, 0, 0);
    qualityGrid->addWidget(seWebCrf, 0, 1);
    qualityGrid->addWidget(presetLabel, 1, 0);
    qualityGrid->addWidget(cbWebPreset, 1, 1);

    auto* videoColumn = new QVBoxLayout(video);
    videoColumn->addWidget(frame);
    videoColumn->addWidget(quality);

    // Audio settings: the track switch and its bit rate.
    auto* audio = Group(QStringLiteral("Audio settings"), page);
    cbWebAudio = new QCheckBox(QStringLiteral("Include audio track"), audio);
    cbWebAudio->setObjectName(QStringLiteral("cbWebAudio"));
    cbWebAudio->setChecked(true);
    auto* rateLabel = new QLabel(QStringLiteral("Audio bit rate:"), audio);
    cbWebAudioRate = new QComboBox(audio);
    cbWebAudioRate->setObjectName(QStringLiteral("cbWebAudioRate"));
    for (int rate : WebAudioRates())
        cbWebAudioRate->addItem(QStringLiteral("%1 kb/s").arg(rate), rate);
    auto* audioGrid = new QGridLayout(audio);
    audioGrid->addWidget(cbWebAudio, 0, 0, 1, 2);
    audioGrid->addWidget(rateLabel, 1, 0);
    audioGrid->addWidget(cbWebAudioRate, 1, 1);

    auto* pageColumn = new QVBoxLayout(page);
    pageColumn->addWidget(video);
    pageColumn->addWidget(audio);
    pageColumn->addStretch(1);

    connect(cbWebSize, &QComboBox::activated, this, [this] { cbWebSizeChange(); });
    connect(cbWebAudio, &QCheckBox::toggled, cbWebAudioRate, &QWidget::setEnabled);

    SetWebSettings(TWebCodec::Mp4, DefaultMp4Settings());
    return page;
}

void TVideoSetDlg::SetPage(int page) { nbFormats->setCurrentIndex(page); }

void TVideoSetDlg::SetWebSettings(TWebCodec codec, const TWebSettings& settings) {
    FWebCodec = codec;
    const TWebSettings s = CheckedWebSettings(settings, codec);

    cbWebSize->setCurrentIndex(s.FrameSizeIndex);
    if (s.FrameSizeIndex == WebCustomSizeIndex()) {
        seWebWidth->setValue(s.Width);
        seWebHeight->setValue(s.Height);
    }
    cbWebSizeChange();

    const int maxCrf = WebMaxCrf(codec);
    lbWebCrf->setText(QStringLiteral("Quality (CRF 0..%1, lower is better):").arg(maxCrf));
    seWebCrf->setRange(0, maxCrf);
    seWebCrf->setValue(s.Crf);

    cbWebPreset->clear();
    for (const TWebPreset& preset : WebPresets(codec))
        cbWebPreset->addItem(preset.Text, preset.Value);
    cbWebPreset->setCurrentIndex(cbWebPreset->findData(s.Preset));

    cbWebAudio->setChecked(s.WithAudio);
    cbWebAudioRate->setCurrentIndex(cbWebAudioRate->findData(s.AudioKbps));
    cbWebAudioRate->setEnabled(s.WithAudio);
}

TWebSettings TVideoSetDlg::WebSettings() const {
    TWebSettings s;
    s.FrameSizeIndex = std::max(0, cbWebSize->currentIndex());
    if (s.FrameSizeIndex == WebCustomSizeIndex()) {
        s.Width = seWebWidth->value();
        s.Height = seWebHeight->value();
    } else {
        s.Width = WebFrameSizes()[static_cast<size_t>(s.FrameSizeIndex)].Width;
        s.Height = WebFrameSizes()[static_cast<size_t>(s.FrameSizeIndex)].Height;
    }
    s.Crf = seWebCrf->value();
    s.Preset = cbWebPreset->currentData().toString();
    s.WithAudio = cbWebAudio->isChecked();
    s.AudioKbps = cbWebAudioRate->currentData().toInt();
    return s;
}

// ---------------------------------------------------------------- showing

TModalResult TVideoSetDlg::Execute() {
    FCloseQueried = false;
    FormShow();
    const TModalResult result = Prompts().ExecModal(*this);
    // A scripted or otherwise closed run may not pass through done().
    if (!FCloseQueried)
        FormCloseQuery();
    return result;
}

void TVideoSetDlg::FormShow() {
    FillLists();
    cbProfiles->setCurrentIndex(FCatalogue->GetIdxByProfile(Profile));
    cbProfilesChange();
}

void TVideoSetDlg::FillLists() {
    Ready = false;

    FCatalogue = std::make_unique<TWMFBase>();
    FCatalogue->SetGroupFrameSize(GroupWidth, GroupHeight);
    cbProfiles->clear();
    if (WMAvailable && WMAvailable()) {
        QStringList names;
        FCatalogue->GetProfileNames(names);
        cbProfiles->addItems(names);
    }

    FAudioList = EnumerateCompressors(media::TCompressorCategory::Audio);
    FVideoList = EnumerateCompressors(media::TCompressorCategory::Video);

    cbVidComp->clear();
    cbVidComp->addItem(QStringLiteral("--<Uncompressed Video>--"), kUncompressedTag);
    for (int i = 0; i < static_cast<int>(FVideoList.Names.size()); ++i) {
        if (VideoCompressorListed(FVideoList.Names[i]))
            cbVidComp->addItem(FVideoList.Names[i], i);
    }

    cbAudComp->clear();
    cbAudComp->addItem(QStringLiteral("--<Uncompressed audio (PCM)>--"), kUncompressedTag);
    for (int i = 0; i < static_cast<int>(FAudioList.Names.size()); ++i) {
        if (AudioCompressorListed(FAudioList.Names[i]))
            cbAudComp->addItem(FAudioList.Names[i], i);
    }

    const auto preselect = [](QComboBox* list, const QString& name) {
        int found = 0;
        for (int i = 0; i < list->count(); ++i) {
            if (list->itemText(i).compare(name, Qt::CaseInsensitive) == 0) {
                found = i;
                break;
            }
        }
        list->setCurrentIndex(found);
    };
    preselect(cbVidComp, VideoName);
    preselect(cbAudComp, AudioName);

    cbVidCompClick();
    cbAudCompClick();
    Ready = true;
}

// ---------------------------------------------------------------- handlers

void TVideoSetDlg::cbVidCompClick() {
    VideoFilter.reset();
    const int tag = cbVidComp->currentData().toInt();
    if (cbVidComp->currentIndex() < 0 || tag == kUncompressedTag) {
        VideoName.clear();
        return;
    }
    if (FVideoList.Bind)
        VideoFilter = FVideoList.Bind(tag);
    VideoName = cbVidComp->currentText();
}

void TVideoSetDlg::cbAudCompClick() {
    AudioFilter.reset();
    const int tag = cbAudComp->currentData().toInt();
    if (cbAudComp->currentIndex() < 0 || tag == kUncompressedTag) {
        AudioName.clear();
        cbAudFormat->setEnabled(true);
        return;
    }
    if (FAudioList.Bind)
        AudioFilter = FAudioList.Bind(tag);
    AudioName = cbAudComp->currentText();
    // A compressor takes the audio as it comes; the PCM format does not apply.
    cbAudFormat->setCurrentIndex(0);
    cbAudFormat->setEnabled(false);
}

void TVideoSetDlg::sbSetVideoCompressClick() {
    if (!VideoFilter || !VideoFilter->HasOptions())
        return;
    TEncoderSettingsDlg settings(*VideoFilter, this);
    if (Prompts().ExecModal(settings) == TModalResult::Ok)
        settings.Apply();
}

void TVideoSetDlg::cbVideoSizeChange() {
    eProjWidth->setEnabled(false);
    eProjHeight->setEnabled(false);
    const int index = cbVideoSize->currentIndex();
    if (index < 0 || index >= kPresetCount)
        return;  // the empty last item keeps the boxes as they are
    eProjWidth->setText(QString::number(FrameSizePresets[index].Width));
    eProjHeight->setText(QString::number(FrameSizePresets[index].Height));
    if (index == 0) {
        eProjWidth->setEnabled(true);
        eProjHeight->setEnabled(true);
    }
}

void TVideoSetDlg::cbWebSizeChange() {
    const int index = cbWebSize->currentIndex();
    const bool custom = index == WebCustomSizeIndex();
    // "Same as source" keeps the boxes as they are; a size fills them.
    if (index > 0 && !custom) {
        seWebWidth->setValue(WebFrameSizes()[static_cast<size_t>(index)].Width);
        seWebHeight->setValue(WebFrameSizes()[static_cast<size_t>(index)].Height);
    }
    seWebWidth->setEnabled(custom);
    seWebHeight->setEnabled(custom);
}

bool TVideoSetDlg::WebPageAcceptable() {
    if (cbWebSize->currentIndex() != WebCustomSizeIndex() ||
        WebCustomSizeValid(seWebWidth->value(), seWebHeight->value()))
        return true;
    const int width = seWebWidth->value();
    const int height = seWebHeight->value();
    ShowMessage(QStringLiteral("The custom frame size %1 x %2 cannot be used.\n"
                               "Width and height must be even numbers from 2 to %3.")
                    .arg(width)
                    .arg(height)
                    .arg(kWebMaxSide));
    (WebCustomSizeValid(width, 2) ? seWebHeight : seWebWidth)->setFocus();
    return false;
}

void TVideoSetDlg::cbProfilesChange() {
    if (!Ready)
        return;
    TWaitCursor hourglass;
    mmProfileDetails->clear();
    Profile = FCatalogue->GetProfileByIdx(cbProfiles->currentIndex());
    QStringList lines;
    FCatalogue->GetProfileDetails(Profile, lines);
    mmProfileDetails->setPlainText(lines.join(QLatin1Char('\n')));
}

void TVideoSetDlg::btnCancelClick() {
    Cancelled = true;
    reject();
}

void TVideoSetDlg::FormCloseQuery() {
    FCloseQueried = true;
    // An unticked audio track never keeps an audio compressor.
    if (!Cancelled && !cbWithSound->isChecked())
        AudioFilter.reset();
}

void TVideoSetDlg::done(int result) {
    if (result == QDialog::Accepted && nbFormats->currentIndex() == kWebPage && !WebPageAcceptable())
        return;  // stays open for another size
    FormCloseQuery();
    QDialog::done(result);
}

int TVideoSetDlg::AudioFormatIndex() const {
    const int index = cbAudFormat->currentIndex();
    return index >= 0 && index < kPcmRowCount ? index : 0;
}
