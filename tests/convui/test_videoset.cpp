// The output settings dialog and the encoder settings dialog, headless, with
// scripted prompts and (where the filters are under test) compressor lists of
// our own.
#include "WebSettingsText.h"
#include "convert/EncoderSettingsDlg.h"
#include "convert/MyWMFBase.h"
#include "convert/VideoSettings.h"
#include "support/MyExceptDlg.h"
#include "support/SupportInfo.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <gtest/gtest.h>

#include <memory>

namespace {

// A compressor list of the given names; binding entry i gives a filter named
// after it with one "bitrate" setting, so a test can see which entry was bound.
TCompressorList FakeList(media::TCompressorCategory category, std::vector<QString> names) {
    TCompressorList list;
    list.Names = names;
    list.Bind = [category, names](int i) {
        return std::make_shared<media::TCompressorFilter>(
            category, names.at(static_cast<size_t>(i)).toStdString(), "fake" + std::to_string(i),
            std::vector<media::TCompressorOption>{{"bitrate", "Bit rate (kbps)", 8, 512, 128, 128}});
    };
    return list;
}

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

QList<int> Tags(const QComboBox* box) {
    QList<int> tags;
    for (int i = 0; i < box->count(); ++i)
        tags << box->itemData(i).toInt();
    return tags;
}

// Simulates the user's choice of an item (selection in code runs no handler).
void Pick(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

const std::vector<QString> VideoNames = {
    "Cinepak by Radius", "WMV9 Encoder", "wmvideo lower case", "Xvid Decompressor", "Intel DECOMPRESSION", "Motion JPEG",
    "My WMV codec",  // "WMV" inside, not at the start: listed
};
const std::vector<QString> AudioNames = {"PCM", "  pcm ", "MPEG Layer-3", "PCM 16", "Pcm"};

struct TDialogFixture : testing::Test {
    TScriptedPromptsInstaller prompts;
    std::unique_ptr<TVideoSetDlg> dlg;

    void SetUp() override {
        dlg = std::make_unique<TVideoSetDlg>(nullptr);
        dlg->EnumerateCompressors = [](media::TCompressorCategory category) {
            return category == media::TCompressorCategory::Video ? FakeList(category, VideoNames)
                                                                 : FakeList(category, AudioNames);
        };
        dlg->Profile = TWMFBase().GetProfileByIdx(18);
    }
};

}  // namespace

TEST(VideoSetDlg, CaptionPagesAndControlsAsDesigned) {
    TVideoSetDlg dlg(nullptr);
    EXPECT_EQ(dlg.windowTitle(), "Select the output compression");
    ASSERT_EQ(dlg.nbFormats->count(), 3);
    EXPECT_EQ(dlg.nbFormats->widget(kAviPage)->objectName(), "AVI");
    EXPECT_EQ(dlg.nbFormats->widget(kWmfPage)->objectName(), "WMF");
    EXPECT_EQ(dlg.nbFormats->widget(kWebPage)->objectName(), "Web");
    EXPECT_EQ(Items(dlg.cbVideoSize), (QStringList{"  --<Custom>--", "  DV 720 x 576", "  large 640 x 480 ",
                                                   "  medium 320 x 240", "  small 240 x 180", "  tiny  180 x 120", ""}));
    EXPECT_EQ(Items(dlg.cbAudFormat),
              (QStringList{"44.100  16 bit stereo", "44.100 16 bit Mono", "44.100  8 bit stereo", "44.100 8 bit Mono",
                           "22.050  16 bit stereo", "22.050 16 bit Mono", "22.050  8 bit stereo", "22.050 8 bit Mono",
                           ""}));
    EXPECT_EQ(dlg.eProjWidth->text(), "320");
    EXPECT_EQ(dlg.eProjHeight->text(), "240");
    EXPECT_FALSE(dlg.eProjWidth->isEnabled());
    EXPECT_FALSE(dlg.eProjHeight->isEnabled());
    EXPECT_FALSE(dlg.cbAudFormat->isEnabled());
    EXPECT_TRUE(dlg.cbWithSound->isChecked());
    EXPECT_EQ(dlg.cbWithSound->text(), "Include audio track");
    EXPECT_EQ(dlg.lbWidth->text(), " Width:");
    EXPECT_EQ(dlg.lbHeight->text(), "Height:");
    EXPECT_TRUE(dlg.mmProfileDetails->isReadOnly());
    EXPECT_FALSE(dlg.Cancelled);
}

TEST_F(TDialogFixture, ListsLeaveOutFilteredNamesInAnyCaseAndTagEntriesByEnumerationPosition) {
    dlg->FormShow();
    EXPECT_EQ(Items(dlg->cbVidComp),
              (QStringList{"--<Uncompressed Video>--", "Cinepak by Radius", "Motion JPEG", "My WMV codec"}));
    EXPECT_EQ(Tags(dlg->cbVidComp), (QList<int>{kUncompressedTag, 0, 5, 6}));
    EXPECT_EQ(Items(dlg->cbAudComp), (QStringList{"--<Uncompressed audio (PCM)>--", "MPEG Layer-3", "PCM 16"}));
    EXPECT_EQ(Tags(dlg->cbAudComp), (QList<int>{kUncompressedTag, 2, 3}));
    EXPECT_TRUE(dlg->Ready);
}

TEST(VideoSetDlgFilters, NamesTable) {
    struct {
        const char* Name;
        bool Video;
        bool Audio;
    } const cases[] = {
        {"WMV3", false, true},         {"wmv", false, true},          {"Wmv Screen", false, true},
        {" WMV", true, true},          {"XviD decompressor", false, true}, {"ECOMPRESS", false, true},
        {"PCM", true, false},          {" pcm  ", true, false},       {"PcM", true, false},
        {"PCM-16", true, true},        {"Motion JPEG", true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VideoCompressorListed(c.Name), c.Video) << c.Name;
        EXPECT_EQ(AudioCompressorListed(c.Name), c.Audio) << c.Name;
    }
}

TEST(VideoSetDlgSystem, RealListsOfferCinepakAndNoPcmEntry) {
    TScriptedPromptsInstaller prompts;
    TVideoSetDlg dlg(nullptr);
    dlg.VideoName = "Cinepak by Radius";
    dlg.Profile = TWMFBase().GetProfileByIdx(18);
    dlg.FormShow();
    EXPECT_EQ(dlg.cbVidComp->currentText(), "Cinepak by Radius");
    ASSERT_TRUE(dlg.VideoFilter);
    EXPECT_EQ(dlg.VideoFilter->EncoderName(), "cinepak");
    EXPECT_FALSE(Items(dlg.cbAudComp).contains("PCM"));
    EXPECT_GT(dlg.cbAudComp->count(), 1);
    EXPECT_EQ(dlg.cbProfiles->count(), 27);
    // FW_CONVUI_SCREENSHOT=prefix keeps pictures of the two pages.
    if (qEnvironmentVariableIsSet("FW_CONVUI_SCREENSHOT")) {
        for (int page : {kAviPage, kWmfPage}) {
            dlg.SetPage(page);
            dlg.show();
            dlg.grab().save(qEnvironmentVariable("FW_CONVUI_SCREENSHOT") + QString::number(page) + ".png");
        }
    }
}

TEST_F(TDialogFixture, PreselectionByNameIgnoringCase) {
    struct {
        QString Stored;
        QString Selected;
        QString NameOut;
        bool Bound;
    } const cases[] = {
        {"cinepak BY radius", "Cinepak by Radius", "Cinepak by Radius", true},
        {"MOTION jpeg", "Motion JPEG", "Motion JPEG", true},
        {"Gone Codec 2000", "--<Uncompressed Video>--", "", false},
        {"", "--<Uncompressed Video>--", "", false},
        {"WMV9 Encoder", "--<Uncompressed Video>--", "", false},  // filtered out, so not there to select
    };
    for (const auto& c : cases) {
        dlg->VideoName = c.Stored;
        dlg->FormShow();
        EXPECT_EQ(dlg->cbVidComp->currentText(), c.Selected) << c.Stored.toStdString();
        EXPECT_EQ(dlg->VideoName, c.NameOut) << c.Stored.toStdString();
        EXPECT_EQ(static_cast<bool>(dlg->VideoFilter), c.Bound) << c.Stored.toStdString();
        if (c.Bound) {
            EXPECT_EQ(QString::fromStdString(dlg->VideoFilter->FriendlyName()), c.Selected);
        }
    }
    dlg->AudioName = "mpeg layer-3";
    dlg->FormShow();
    EXPECT_EQ(dlg->cbAudComp->currentText(), "MPEG Layer-3");
    EXPECT_EQ(dlg->AudioName, "MPEG Layer-3");
    EXPECT_TRUE(dlg->AudioFilter);
}

TEST_F(TDialogFixture, EachPickBindsANewFilterObject) {
    dlg->VideoName = "Motion JPEG";
    dlg->FormShow();
    const auto first = dlg->VideoFilter;
    ASSERT_TRUE(first);
    Pick(dlg->cbVidComp, 2);
    ASSERT_TRUE(dlg->VideoFilter);
    EXPECT_NE(dlg->VideoFilter.get(), first.get());
    Pick(dlg->cbVidComp, 0);
    EXPECT_FALSE(dlg->VideoFilter);
    EXPECT_EQ(dlg->VideoName, "");
}

TEST_F(TDialogFixture, AudioCompressorSwitchesTheFormatListOffAtRowZeroAndPcmSwitchesItBackOn) {
    dlg->FormShow();
    EXPECT_TRUE(dlg->cbAudFormat->isEnabled());  // PCM preselected
    dlg->cbAudFormat->setCurrentIndex(5);

    Pick(dlg->cbAudComp, 1);  // MPEG Layer-3
    EXPECT_FALSE(dlg->cbAudFormat->isEnabled());
    EXPECT_EQ(dlg->cbAudFormat->currentIndex(), 0);
    EXPECT_EQ(dlg->AudioName, "MPEG Layer-3");
    EXPECT_TRUE(dlg->AudioFilter);

    dlg->cbAudFormat->setCurrentIndex(6);  // as if it had been left there
    Pick(dlg->cbAudComp, 0);
    EXPECT_TRUE(dlg->cbAudFormat->isEnabled());
    EXPECT_EQ(dlg->cbAudFormat->currentIndex(), 6);  // selection unchanged
    EXPECT_FALSE(dlg->AudioFilter);
    EXPECT_EQ(dlg->AudioName, "");
}

TEST_F(TDialogFixture, AudioFormatIndexOutGivesRowZeroForTheEmptyItemAndNoSelection) {
    dlg->FormShow();
    for (int row = 0; row < 8; ++row) {
        dlg->cbAudFormat->setCurrentIndex(row);
        EXPECT_EQ(dlg->AudioFormatIndex(), row);
    }
    dlg->cbAudFormat->setCurrentIndex(8);
    EXPECT_EQ(dlg->AudioFormatIndex(), 0);
    dlg->cbAudFormat->setCurrentIndex(99);  // a stored index beyond the list
    EXPECT_EQ(dlg->AudioFormatIndex(), 0);
}

TEST_F(TDialogFixture, UntickedAudioDropsTheCompressorOnOkButKeepsItsName) {
    dlg->AudioName = "MPEG Layer-3";
    prompts->ModalHandlers.push_back([](QDialog& d) {
        auto& v = dynamic_cast<TVideoSetDlg&>(d);
        EXPECT_TRUE(v.AudioFilter);
        v.cbWithSound->setChecked(false);
        v.btnOk->click();
        return TModalResult::Ok;
    });
    EXPECT_EQ(dlg->Execute(), TModalResult::Ok);
    EXPECT_FALSE(dlg->AudioFilter);
    EXPECT_EQ(dlg->AudioName, "MPEG Layer-3");
}

TEST_F(TDialogFixture, UntickedAudioDropsTheCompressorAlsoWhenTheRunClosesWithoutTheButtons) {
    dlg->AudioName = "MPEG Layer-3";
    prompts->ModalHandlers.push_back([](QDialog& d) {
        dynamic_cast<TVideoSetDlg&>(d).cbWithSound->setChecked(false);
        return TModalResult::Ok;
    });
    EXPECT_EQ(dlg->Execute(), TModalResult::Ok);
    EXPECT_FALSE(dlg->AudioFilter);
}

TEST_F(TDialogFixture, CancelKeepsTheFiltersAndIsRemembered) {
    dlg->AudioName = "MPEG Layer-3";
    prompts->ModalHandlers.push_back([](QDialog& d) {
        auto& v = dynamic_cast<TVideoSetDlg&>(d);
        v.cbWithSound->setChecked(false);
        v.btnCancel->click();
        return TModalResult::Cancel;
    });
    EXPECT_EQ(dlg->Execute(), TModalResult::Cancel);
    EXPECT_TRUE(dlg->Cancelled);
    EXPECT_TRUE(dlg->AudioFilter);
}

TEST_F(TDialogFixture, FrameSizePicksFillAndLockTheBoxes) {
    dlg->FormShow();
    struct {
        int Index;
        QString Width, Height;
        bool Editable;
    } const cases[] = {
        {1, "720", "576", false}, {2, "640", "480", false}, {3, "320", "240", false},
        {4, "240", "180", false}, {5, "180", "120", false}, {0, "320", "240", true},
    };
    for (const auto& c : cases) {
        dlg->eProjWidth->setText("1");
        dlg->eProjHeight->setText("2");
        Pick(dlg->cbVideoSize, c.Index);
        EXPECT_EQ(dlg->eProjWidth->text(), c.Width) << c.Index;
        EXPECT_EQ(dlg->eProjHeight->text(), c.Height) << c.Index;
        EXPECT_EQ(dlg->eProjWidth->isEnabled(), c.Editable) << c.Index;
        EXPECT_EQ(dlg->eProjHeight->isEnabled(), c.Editable) << c.Index;
    }
    // The empty last item keeps what the boxes hold (and locks them).
    dlg->eProjWidth->setText("352");
    dlg->eProjHeight->setText("288");
    Pick(dlg->cbVideoSize, 6);
    EXPECT_EQ(dlg->eProjWidth->text(), "352");
    EXPECT_EQ(dlg->eProjHeight->text(), "288");
    EXPECT_FALSE(dlg->eProjWidth->isEnabled());
}

TEST_F(TDialogFixture, SelectingAFrameSizeInCodeLeavesTheBoxesAlone) {
    dlg->eProjWidth->setText("500");
    dlg->cbVideoSize->setCurrentIndex(1);
    EXPECT_EQ(dlg->eProjWidth->text(), "500");
    dlg->cbVideoSize->setCurrentIndex(0);
    EXPECT_FALSE(dlg->eProjWidth->isEnabled());
}

TEST_F(TDialogFixture, ProfilePageSelectsTheProfileAndShowsItsDetails) {
    TWMFBase catalogue;
    dlg->SetPage(kWmfPage);
    dlg->Profile = catalogue.GetProfileByIdx(5);
    dlg->FormShow();
    EXPECT_EQ(dlg->nbFormats->currentIndex(), kWmfPage);
    EXPECT_EQ(dlg->cbProfiles->currentIndex(), 5);
    EXPECT_EQ(dlg->cbProfiles->currentText(), "Windows Media Video 8 for Dial-up Modems (28.8 Kbps)");
    QStringList expected;
    catalogue.GetProfileDetails(dlg->Profile, expected);
    ASSERT_FALSE(expected.isEmpty());
    EXPECT_EQ(dlg->mmProfileDetails->toPlainText(), expected.join('\n'));
    EXPECT_EQ(expected.first(), "Video:");

    // The user picks another profile: Profile and the text follow.
    Pick(dlg->cbProfiles, 20);
    EXPECT_EQ(dlg->Profile, catalogue.GetProfileByIdx(20));
    EXPECT_TRUE(dlg->mmProfileDetails->toPlainText().contains("  No Video"));
    EXPECT_TRUE(dlg->mmProfileDetails->toPlainText().endsWith("Use this profile for radio and music content (audio only)."));
}

TEST_F(TDialogFixture, UnknownProfileSelectsRowFourteen) {
    TWMFBase catalogue;
    dlg->Profile = QUuid("{12345678-1234-1234-1234-123456789ABC}");
    dlg->FormShow();
    EXPECT_EQ(dlg->cbProfiles->currentIndex(), 14);
    EXPECT_EQ(dlg->Profile, catalogue.GetProfileByIdx(14));
}

TEST_F(TDialogFixture, NoWindowsMediaWriterEndsInTheErrorReportAndASilentAbort) {
    dlg->WMAvailable = [] { return false; };
    QString reported;
    prompts->ModalHandlers.push_back([&](QDialog& d) {
        auto* report = dynamic_cast<TFrmExcept*>(&d);
        EXPECT_NE(report, nullptr);
        if (report)
            reported = report->lbErrorMsg->text();
        return TModalResult::Ok;
    });
    // The window installs its error report as the catalogue's fatal-error
    // handler before it makes the dialog (app/ConversionJob.cpp).
    SetWMFFatalErrorHandler(&ReportFatalError);
    EXPECT_THROW(dlg->Execute(), EAbortSilently);
    SetWMFFatalErrorHandler(nullptr);
    EXPECT_EQ(dlg->cbProfiles->count(), 0);
    EXPECT_TRUE(reported.contains("TWMFBase.GetProfileByIdx: Error Idx is -1")) << reported.toStdString();
    // The dialog itself was never run.
    EXPECT_EQ(prompts->RecordsOf(TPromptKind::Modal).size(), 1u);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// ---------------------------------------------------------------- "Set"

TEST_F(TDialogFixture, SetShowsTheEncoderSettingsAndOkStoresThemInTheBoundFilter) {
    dlg->VideoName = "Motion JPEG";
    dlg->FormShow();
    ASSERT_TRUE(dlg->VideoFilter);
    prompts->ModalHandlers.push_back([](QDialog& d) {
        auto& s = dynamic_cast<TEncoderSettingsDlg&>(d);
        EXPECT_EQ(s.Editors.size(), 1u);
        EXPECT_EQ(s.Editors[0]->minimum(), 8);
        EXPECT_EQ(s.Editors[0]->maximum(), 512);
        s.Editors[0]->setValue(300);
        return TModalResult::Ok;
    });
    dlg->sbSetVideoCompress->click();
    EXPECT_EQ(dlg->VideoFilter->OptionValue("bitrate", -1), 300);

    prompts->ModalHandlers.push_back([](QDialog& d) {
        dynamic_cast<TEncoderSettingsDlg&>(d).Editors[0]->setValue(20);
        return TModalResult::Cancel;
    });
    dlg->sbSetVideoCompress->click();
    EXPECT_EQ(dlg->VideoFilter->OptionValue("bitrate", -1), 300);  // Cancel changes nothing
}

TEST_F(TDialogFixture, SetDoesNothingForUncompressedVideo) {
    dlg->FormShow();
    ASSERT_FALSE(dlg->VideoFilter);
    dlg->sbSetVideoCompress->click();
    EXPECT_TRUE(prompts->Records.empty());
}

TEST(VideoSetDlgSystem, SetDoesNothingForACompressorWithoutSettingsAndWorksForOneWithThem) {
    TScriptedPromptsInstaller prompts;
    TVideoSetDlg dlg(nullptr);
    dlg.VideoName = "Cinepak by Radius";  // no settings
    dlg.FormShow();
    ASSERT_TRUE(dlg.VideoFilter);
    ASSERT_FALSE(dlg.VideoFilter->HasOptions());
    dlg.sbSetVideoCompress->click();
    EXPECT_TRUE(prompts->Records.empty());

    dlg.VideoName = "Motion JPEG";
    dlg.FormShow();
    ASSERT_TRUE(dlg.VideoFilter && dlg.VideoFilter->HasOptions());
    const auto& option = dlg.VideoFilter->Options().front();
    prompts->ModalHandlers.push_back([&](QDialog& d) {
        auto& s = dynamic_cast<TEncoderSettingsDlg&>(d);
        s.Editors[0]->setValue(option.Max + 100);  // the box keeps it in range
        return TModalResult::Ok;
    });
    dlg.sbSetVideoCompress->click();
    EXPECT_EQ(dlg.VideoFilter->OptionValue(option.Key, -1), option.Max);
}

TEST(EncoderSettingsDlg, DefaultsButtonPutsEveryOptionBack) {
    media::TCompressorFilter filter(media::TCompressorCategory::Video, "Test", "mpeg4",
                                    {{"bitrate", "Bit rate (kbps)", 100, 8000, 800, 2000},
                                     {"keyint", "Key frame every (frames)", 1, 600, 250, 12}});
    TEncoderSettingsDlg dlg(filter, nullptr);
    ASSERT_EQ(dlg.Editors.size(), 2u);
    EXPECT_EQ(dlg.Editors[0]->value(), 2000);
    EXPECT_EQ(dlg.Editors[1]->value(), 12);
    dlg.btnDefaults->click();
    dlg.Apply();
    EXPECT_EQ(filter.OptionValue("bitrate", -1), 800);
    EXPECT_EQ(filter.OptionValue("keyint", -1), 250);
}

TEST_F(TDialogFixture, QualityBasedProfileShowsTheClipsFrameSize) {
    dlg->SetPage(kWmfPage);
    dlg->GroupWidth = 176;
    dlg->GroupHeight = 144;
    dlg->FormShow();  // row 18 keeps the clip's size
    const QString text = dlg->mmProfileDetails->toPlainText();
    EXPECT_TRUE(text.contains("  Width:    176 pixels")) << text.toStdString();
    EXPECT_TRUE(text.contains("  Height:   144 pixels")) << text.toStdString();
}

// ---------------------------------------------------------------- the web page (MP4, WebM)

namespace {

QStringList Data(const QComboBox* box) {
    QStringList data;
    for (int i = 0; i < box->count(); ++i)
        data << box->itemData(i).toString();
    return data;
}

bool SameWebSettings(const TWebSettings& a, const TWebSettings& b) {
    return a.FrameSizeIndex == b.FrameSizeIndex && a.Width == b.Width && a.Height == b.Height && a.Crf == b.Crf &&
           a.Preset == b.Preset && a.WithAudio == b.WithAudio && a.AudioKbps == b.AudioKbps;
}


}  // namespace

TEST(VideoSetDlgWeb, ListsAndDefaultsPerCodec) {
    const QStringList sizes{"Same as source", "DV 720 x 576", "large 640 x 480", "medium 320 x 240",
                            "small 240 x 180", "tiny 180 x 120", "Custom"};
    const QStringList rates{"64 kb/s", "96 kb/s", "128 kb/s", "160 kb/s", "192 kb/s", "256 kb/s"};
    const struct {
        TWebCodec Codec;
        int MaxCrf, Crf;
        QStringList Presets;
        QString Preset, FirstPresetText, LastPresetText;
        QString Rate;
    } cases[] = {
        {TWebCodec::Mp4, 51, 23,
         {"ultrafast", "superfast", "veryfast", "faster", "fast", "medium", "slow", "slower", "veryslow"},
         "veryfast", "ultrafast (fastest, largest file)", "veryslow (smallest file, slowest)", "128 kb/s"},
        {TWebCodec::WebM, 63, 33, {"0", "1", "2", "3", "4", "5", "6", "7", "8"}, "4", "0 (best, slowest)",
         "8 (fastest)", "96 kb/s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Preset.toStdString());
        TVideoSetDlg dlg(nullptr);
        // The other codec first: its lists must not stay behind.
        dlg.SetWebSettings(c.Codec == TWebCodec::Mp4 ? TWebCodec::WebM : TWebCodec::Mp4, TWebSettings{});
        dlg.SetWebSettings(c.Codec, DefaultWebSettings(c.Codec));
        EXPECT_EQ(dlg.WebCodec(), c.Codec);
        EXPECT_EQ(Items(dlg.cbWebSize), sizes);
        EXPECT_EQ(dlg.cbWebSize->currentIndex(), 0);
        EXPECT_FALSE(dlg.seWebWidth->isEnabled());
        EXPECT_FALSE(dlg.seWebHeight->isEnabled());
        EXPECT_EQ(dlg.seWebCrf->minimum(), 0);
        EXPECT_EQ(dlg.seWebCrf->maximum(), c.MaxCrf);
        EXPECT_EQ(dlg.seWebCrf->value(), c.Crf);
        EXPECT_TRUE(dlg.lbWebCrf->text().contains("lower is better")) << dlg.lbWebCrf->text().toStdString();
        EXPECT_EQ(Data(dlg.cbWebPreset), c.Presets);
        EXPECT_EQ(dlg.cbWebPreset->itemText(0), c.FirstPresetText);
        EXPECT_EQ(dlg.cbWebPreset->itemText(dlg.cbWebPreset->count() - 1), c.LastPresetText);
        EXPECT_EQ(dlg.cbWebPreset->currentData().toString(), c.Preset);
        EXPECT_TRUE(dlg.cbWebAudio->isChecked());
        EXPECT_TRUE(dlg.cbWebAudioRate->isEnabled());
        EXPECT_EQ(Items(dlg.cbWebAudioRate), rates);
        EXPECT_EQ(dlg.cbWebAudioRate->currentText(), c.Rate);
        const TWebSettings out = dlg.WebSettings();
        EXPECT_TRUE(SameWebSettings(out, DefaultWebSettings(c.Codec))) << Describe(out);
    }
}

TEST(VideoSetDlgWeb, FrameSizeListHoldsEvenPresetsOnlyBetweenSameAsSourceAndCustom) {
    const auto& sizes = WebFrameSizes();
    ASSERT_GE(sizes.size(), 3u);
    EXPECT_EQ(sizes.front().Text, "Same as source");
    EXPECT_EQ(sizes.front().Width, 0);
    EXPECT_EQ(sizes.back().Text, "Custom");
    EXPECT_EQ(WebCustomSizeIndex(), static_cast<int>(sizes.size()) - 1);
    // Every preset of the AVI list with a size, both sides even, in its order.
    std::vector<std::pair<int, int>> expected, listed;
    for (const TFrameSizePreset& preset : FrameSizePresets)
        if (preset.Width > 0 && preset.Height > 0 && preset.Width % 2 == 0 && preset.Height % 2 == 0 &&
            QString::fromLatin1(preset.Text).trimmed() != "--<Custom>--")
            expected.emplace_back(preset.Width, preset.Height);
    for (size_t i = 1; i + 1 < sizes.size(); ++i) {
        EXPECT_EQ(sizes[i].Width % 2, 0) << i;
        EXPECT_EQ(sizes[i].Height % 2, 0) << i;
        listed.emplace_back(sizes[i].Width, sizes[i].Height);
    }
    EXPECT_EQ(listed, expected);
}

TEST(VideoSetDlgWeb, ValuesGoInAndComeOutAndPresetPicksFillAndLockTheBoxes) {
    TVideoSetDlg dlg(nullptr);
    const TWebSettings custom{6, 426, 240, 40, "7", false, 64};
    dlg.SetWebSettings(TWebCodec::WebM, custom);
    EXPECT_EQ(dlg.cbWebSize->currentText(), "Custom");
    EXPECT_EQ(dlg.seWebWidth->value(), 426);
    EXPECT_EQ(dlg.seWebHeight->value(), 240);
    EXPECT_TRUE(dlg.seWebWidth->isEnabled());
    EXPECT_EQ(dlg.seWebCrf->value(), 40);
    EXPECT_EQ(dlg.cbWebPreset->currentText(), "7");
    EXPECT_FALSE(dlg.cbWebAudio->isChecked());
    EXPECT_FALSE(dlg.cbWebAudioRate->isEnabled());  // no audio: no bit rate to choose
    EXPECT_TRUE(SameWebSettings(dlg.WebSettings(), custom)) << Describe(dlg.WebSettings());

    // A size picked by the user fills the boxes and locks them.
    Pick(dlg.cbWebSize, 2);
    EXPECT_EQ(dlg.seWebWidth->value(), 640);
    EXPECT_EQ(dlg.seWebHeight->value(), 480);
    EXPECT_FALSE(dlg.seWebWidth->isEnabled());
    // "Same as source" leaves them and gives 0 x 0.
    Pick(dlg.cbWebSize, 0);
    EXPECT_EQ(dlg.seWebWidth->value(), 640);
    const TWebSettings same = dlg.WebSettings();
    EXPECT_EQ(same.FrameSizeIndex, 0);
    EXPECT_EQ(same.Width, 0);
    EXPECT_EQ(same.Height, 0);

    dlg.cbWebAudio->setChecked(true);
    EXPECT_TRUE(dlg.cbWebAudioRate->isEnabled());
}

TEST_F(TDialogFixture, OddZeroOrOversizedCustomSizeIsRefusedAndTheDialogStaysOpen) {
    const struct {
        int Width, Height;
        bool Accepted;
    } cases[] = {
        {161, 120, false}, {160, 121, false}, {0, 120, false},  {160, 0, false},
        {1, 1, false},     {8194, 240, false}, {160, 120, true}, {2, 2, true}, {8192, 4320, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Width << " x " << c.Height);
        auto dialog = std::make_unique<TVideoSetDlg>(nullptr);
        dialog->Profile = dlg->Profile;
        dialog->EnumerateCompressors = dlg->EnumerateCompressors;
        dialog->SetPage(kWebPage);
        dialog->SetWebSettings(TWebCodec::Mp4, DefaultMp4Settings());
        prompts->Records.clear();
        bool stayedOpen = false;
        prompts->ModalHandlers.push_back([&](QDialog& d) {
            auto& v = dynamic_cast<TVideoSetDlg&>(d);
            Pick(v.cbWebSize, WebCustomSizeIndex());
            v.seWebWidth->setMaximum(9000);  // room for the oversized case
            v.seWebWidth->setValue(c.Width);
            v.seWebHeight->setValue(c.Height);
            v.btnOk->click();
            stayedOpen = v.isVisible();
            if (stayedOpen) {  // the user then picks a listed size
                Pick(v.cbWebSize, 3);
                v.btnOk->click();
            }
            return v.result() == QDialog::Accepted ? TModalResult::Ok : TModalResult::Cancel;
        });
        EXPECT_EQ(dialog->Execute(), TModalResult::Ok);
        EXPECT_EQ(stayedOpen, !c.Accepted);
        const QStringList texts = prompts->Texts();
        if (c.Accepted) {
            EXPECT_TRUE(texts.isEmpty());
            EXPECT_EQ(dialog->WebSettings().Width, c.Width);
            EXPECT_EQ(dialog->WebSettings().Height, c.Height);
        } else {
            ASSERT_EQ(texts.size(), 1);
            EXPECT_EQ(texts[0], QStringLiteral("The custom frame size %1 x %2 cannot be used.\n"
                                               "Width and height must be even numbers from 2 to 8192.")
                                    .arg(c.Width)
                                    .arg(c.Height));
            EXPECT_EQ(dialog->WebSettings().Width, 320);
        }
    }
}

TEST(VideoSetDlgWeb, CheckedSettingsPutBackWhatThePageCannotShow) {
    const TWebSettings mp4 = DefaultMp4Settings();
    const struct {
        const char* What;
        TWebCodec Codec;
        TWebSettings In, Out;
    } cases[] = {
        {"valid custom kept", TWebCodec::Mp4, {6, 426, 240, 18, "slow", false, 192}, {6, 426, 240, 18, "slow", false, 192}},
        {"preset takes its size", TWebCodec::Mp4, {3, 1, 1, 23, "veryfast", true, 128}, {3, 320, 240, 23, "veryfast", true, 128}},
        {"same as source is 0 x 0", TWebCodec::Mp4, {0, 640, 480, 23, "veryfast", true, 128}, mp4},
        {"odd custom", TWebCodec::Mp4, {6, 425, 240, 18, "slow", true, 128}, {0, 0, 0, 18, "slow", true, 128}},
        {"zero custom", TWebCodec::Mp4, {6, 0, 0, 23, "veryfast", true, 128}, mp4},
        {"huge custom", TWebCodec::Mp4, {6, 100000, 240, 23, "veryfast", true, 128}, mp4},
        {"negative index", TWebCodec::Mp4, {-1, 320, 240, 23, "veryfast", true, 128}, mp4},
        {"index past the list", TWebCodec::Mp4, {7, 320, 240, 23, "veryfast", true, 128}, mp4},
        {"negative CRF", TWebCodec::Mp4, {0, 0, 0, -1, "veryfast", true, 128}, mp4},
        {"CRF above x264's", TWebCodec::Mp4, {0, 0, 0, 52, "veryfast", true, 128}, mp4},
        {"CRF 63 is VP9's top", TWebCodec::WebM, {0, 0, 0, 63, "4", true, 96}, {0, 0, 0, 63, "4", true, 96}},
        {"CRF above VP9's", TWebCodec::WebM, {0, 0, 0, 64, "4", true, 96}, DefaultWebMSettings()},
        {"unknown preset", TWebCodec::Mp4, {0, 0, 0, 23, "warp", true, 128}, mp4},
        {"x264 name for VP9", TWebCodec::WebM, {0, 0, 0, 33, "veryfast", true, 96}, DefaultWebMSettings()},
        {"cpu-used 9", TWebCodec::WebM, {0, 0, 0, 33, "9", true, 96}, DefaultWebMSettings()},
        {"bit rate off the list", TWebCodec::WebM, {0, 0, 0, 33, "4", true, 100}, DefaultWebMSettings()},
        {"negative bit rate", TWebCodec::Mp4, {0, 0, 0, 23, "veryfast", true, -128}, mp4},
    };
    for (const auto& c : cases) {
        const TWebSettings out = CheckedWebSettings(c.In, c.Codec);
        EXPECT_TRUE(SameWebSettings(out, c.Out)) << c.What << ": " << Describe(out);
    }
}
