// The conversion job on the main window, headless: Start with each mode on a
// small frame-numbered movie, the questions it asks through the prompts seam,
// the file it writes (read back with ffprobe and the ffmpeg command line),
// the preferences it leaves, Stop with its progress display.
#include "WebSettingsText.h"
#include "app/Main.h"
#include "app/TrackBar.h"
#include "common/MyCommonParams.h"
#include "convert/MyWMFBase.h"
#include "convert/RenderClip.h"
#include "convert/VideoSettings.h"
#include "convert/AnimSettingsDlg.h"
#include "media/RenderEngine.h"
#include "media/WmProfiles.h"
#include "platform/DesktopOpener.h"
#include "ConvUiTestUtil.h"
#include "ScriptedPrompts.h"
#include "TestMovie.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QCursor>
#include <QCryptographicHash>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <numeric>
#include <unistd.h>

using namespace convui;

namespace {

const QString kPreference = "Preference";
const QString kLastSettings = "Last settings";

std::vector<int> Range(int from, int to) {  // from .. to - 1
    std::vector<int> v(static_cast<size_t>(to - from));
    std::iota(v.begin(), v.end(), from);
    return v;
}

// A written clip: its video and audio codecs, its picture size and the frame
// numbers drawn in its pictures.
void ExpectClipFile(const QString& output, const QString& videoCodec, const QString& audioCodec, int width,
                    int height, const std::vector<int>& frames) {
    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    const TProbedStream* audio = FindStream(streams, "audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->CodecName, videoCodec);
    EXPECT_EQ(video->Width, width);
    EXPECT_EQ(video->Height, height);
    EXPECT_EQ(audio->CodecName, audioCodec);
    EXPECT_EQ(FrameNumbers(output, width, height), frames);
}

QByteArray ReadAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QByteArray Sha256(const QString& file) {
    return QCryptographicHash::hash(ReadAll(file), QCryptographicHash::Sha256).toHex();
}

// Entries of a folder whose names start with a dot: the temporary files of
// unfinished clips.
QStringList HiddenEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).filter(QRegularExpression("^\\."));
}

void Pick(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

void PickData(QComboBox* box, const QString& data) {
    const int index = box->findData(data);
    ASSERT_GE(index, 0) << data.toStdString();
    Pick(box, index);
}

// The types of an MP4 file's top-level boxes, in file order.
QStringList TopLevelBoxes(const QString& file) {
    QFile f(file);
    QStringList boxes;
    if (!f.open(QIODevice::ReadOnly))
        return boxes;
    qint64 at = 0;
    const qint64 end = f.size();
    while (at + 8 <= end) {
        f.seek(at);
        const QByteArray head = f.read(16);
        if (head.size() < 8)
            break;
        const auto byte = [&](int i) { return static_cast<quint64>(static_cast<uint8_t>(head[i])); };
        quint64 size = (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
        boxes << QString::fromLatin1(head.mid(4, 4));
        if (size == 1 && head.size() == 16) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = (size << 8) | byte(i);
        } else if (size == 0) {
            break;  // to the end of the file
        }
        if (size < 8)
            break;
        at += static_cast<qint64>(size);
    }
    return boxes;
}


// Closes the dialog with its OK button; Ok when it closed accepted.
TModalResult PressOk(TVideoSetDlg& dlg) {
    dlg.btnOk->click();
    return dlg.result() == QDialog::Accepted && !dlg.isVisible() ? TModalResult::Ok : TModalResult::Cancel;
}

class TJobTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        MovieDir = QString::fromStdString(testmovie::MakeTempDir("convui-movies"));
        Movie50 = MakeMovie(MovieDir, 50);
    }

    void SetUp() override {
        Dir = QString::fromStdString(testmovie::MakeTempDir("convui-job"));
        auto opener = std::make_unique<TRecordingDesktopOpener>();
        Opener = opener.get();
        FPreviousOpener = SetDesktopOpener(std::move(opener));
        prompts->DefaultModalResult.reset();

        Form = std::make_unique<TMainForm>();
        Form->show();
        // The automatic update check would ask for consent five seconds after
        // the window shows; these tests are about conversions.
        Form->TimerUpdate->stop();
        ASSERT_TRUE(Form->OpenMovie(Movie50));
        ASSERT_EQ(Form->MovieInfo.FrameRate, 25);
        // Every test starts from the first-start preferences, its own folder
        // as the video capture folder and the result question on.
        Form->OutputSettings = TOutputSettings();
        Form->VideoFolder = Dir + "/";
        Form->Showresultwhenready1->setChecked(true);
        Form->ShowPreview1->setChecked(true);
        Form->SavePreferences();
        Form->tbPosition->SetSelStart(10);
        Form->tbPosition->SetSelEnd(30);
        Form->sdOutput.FileName.clear();
        prompts->Records.clear();
    }

    void TearDown() override {
        Form.reset();
        SetDesktopOpener(std::move(FPreviousOpener));
        if (!HasFailure())
            QDir(Dir).removeRecursively();
    }

    void Start(int mode) {
        Form->cbMode->setCurrentIndex(mode);
        Form->sbExecuteClick();
        ASSERT_TRUE(WaitForJobOver(*Form));
    }

    // The window is back to idle with its controls on.
    void ExpectIdle() {
        EXPECT_EQ(Form->JobState(), TJobState::Idle);
        EXPECT_EQ(Form->sbExecute->text(), "Start");
        EXPECT_EQ(Form->tmAnimateTag, 0);
        EXPECT_TRUE(Form->tbPosition->isEnabled());
        EXPECT_TRUE(Form->sbOpenMovie->isEnabled());
        EXPECT_TRUE(Form->sbExecute->isEnabled());
        EXPECT_TRUE(Form->cbMode->isEnabled());
        EXPECT_FALSE(Form->lbBusy->isVisible());
        EXPECT_FALSE(Form->lbTimeLeft->isVisible());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }

    QString Stored(const QString& section, const QString& name) {
        return SettingsStore->ReadString(section, name, "<missing>");
    }

    static inline QString MovieDir, Movie50;
    QString Dir;
    TScriptedPromptsInstaller prompts;
    TRecordingDesktopOpener* Opener = nullptr;
    std::unique_ptr<TMainForm> Form;

private:
    std::unique_ptr<TDesktopOpener> FPreviousOpener;
};

}  // namespace

TEST_F(TJobTest, EmptyRangeIsRefusedBeforeAnything) {
    Form->tbPosition->SetSelEnd(10);
    Start(0);
    EXPECT_EQ(prompts->Texts(), QStringList{"Please set the range first"});
    EXPECT_EQ(prompts->Records.size(), 1u);
    ExpectIdle();
}

TEST_F(TJobTest, NoUsableMovieEndsAtOnceWithoutADialog) {
    Form->MovieInfo.FrameRate = 0;
    EXPECT_FALSE(Form->RunConversion(0));
    EXPECT_TRUE(prompts->Records.empty());
}

TEST_F(TJobTest, DefaultWmvWritesTheRangeAndOffersToPlayIt) {
    // Another profile stored: mode 0 puts the default back.
    SettingsStore->WriteString(kPreference, "WMVSelected", TWMFBase::ProfileGuidText(5));
    // Typed with the AVI extension: the WMV is written beside it, and the AVI
    // of the typed name, which is not the output, stays as it was.
    QFile old(Dir + "/clip.avi");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    prompts->FileAnswers.push_back(Dir + "/clip.avi");
    prompts->Answers.push_back(TModalResult::Yes);

    Start(0);

    const QString output = Dir + "/clip.wmv";
    const auto files = prompts->RecordsOf(TPromptKind::FileDialog);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].FileRequest.Save);
    EXPECT_EQ(files[0].FileRequest.Filter, "AVI file|*.avi|Windows Media Format (WMV)|*.wmv");
    EXPECT_EQ(files[0].FileRequest.FilterIndex, 2);
    EXPECT_EQ(files[0].FileRequest.DefaultExt, "wmv");
    EXPECT_EQ(files[0].FileRequest.FileName, "New video");
    EXPECT_EQ(files[0].FileRequest.InitialDir, Dir + "/");
    EXPECT_TRUE(files[0].FileRequest.OverwritePrompt);

    EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + output + "\r\nPlay the result?"});
    ASSERT_EQ(Opener->Requests.size(), 1u);
    EXPECT_EQ(Opener->Requests[0].Action, TDesktopAction::Play);
    EXPECT_EQ(Opener->Requests[0].Target, output);

    EXPECT_EQ(ReadAll(Dir + "/clip.avi"), QByteArray("old"));
    EXPECT_EQ(Form->sdOutput.FileName, output);
    EXPECT_EQ(Stored(kPreference, "WMVSelected"), QString(kDefaultWmvProfile));
    ExpectIdle();

    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    const TProbedStream* audio = FindStream(streams, "audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->CodecName, "wmv2");
    EXPECT_EQ(video->Width, 320);  // the stored frame size
    EXPECT_EQ(video->Height, 240);
    EXPECT_EQ(audio->CodecName, "wmav2");
    EXPECT_EQ(FrameNumbers(output, 320, 240), Range(10, 30));
}

// A movie without sound: no sound track in any clip, and the boxes that
// would ask for one are off and greyed, while each mode keeps its own choice.
TEST_F(TJobTest, MovieWithoutSoundGetsNoSoundTrackAndTheAudioBoxesAreGreyed) {
    const QString silent = MakeMovie(Dir, 50, false);  // its own folder: the suite shares MovieDir's movies
    ASSERT_TRUE(Form->OpenMovie(silent));
    EXPECT_FALSE(Form->MovieInfo.HasAudio);
    Form->tbPosition->SetSelStart(10);
    Form->tbPosition->SetSelEnd(30);
    Form->Showresultwhenready1->setChecked(false);
    Form->SavePreferences();
    struct {
        int Mode;
        const char* Ext;
    } modes[] = {{0, "wmv"}, {2, "avi"}, {4, "mp4"}, {5, "webm"}, {6, "mp4"}};
    for (const auto& m : modes) {
        SCOPED_TRACE(Form->cbMode->itemText(m.Mode).toStdString());
        const QString output = Dir + "/silent-" + QString::number(m.Mode) + "." + m.Ext;
        prompts->Records.clear();
        prompts->FileAnswers.push_back(output);
        if (m.Mode == 2 || m.Mode == 4 || m.Mode == 5)
            prompts->ModalHandlers.push_back([](QDialog& d) {
                auto& dlg = dynamic_cast<TVideoSetDlg&>(d);
                QCheckBox* box = dlg.nbFormats->currentIndex() == kWebPage ? dlg.cbWebAudio : dlg.cbWithSound;
                EXPECT_FALSE(box->isChecked());
                EXPECT_FALSE(box->isEnabled());
                return PressOk(dlg);
            });
        Start(m.Mode);
        EXPECT_TRUE(prompts->Texts().isEmpty()) << prompts->Texts().join(" | ").toStdString();
        const auto streams = ProbeStreams(output);
        EXPECT_NE(FindStream(streams, "video"), nullptr);
        EXPECT_EQ(FindStream(streams, "audio"), nullptr);
    }
    // The modes' own choices are as they were, for movies that have sound.
    EXPECT_EQ(Stored(kLastSettings, "MP4 with audio"), "1");
    EXPECT_EQ(Stored(kLastSettings, "WebM with audio"), "1");
    EXPECT_EQ(Stored(kLastSettings, "With audio"), "1");
}

TEST_F(TJobTest, WmvClipUsesTheProfileChosenOnTheProfilePage) {
    TWMFBase catalogue;
    Form->Showresultwhenready1->setChecked(false);
    Form->SavePreferences();
    SettingsStore->WriteString(kPreference, "WMVSelected", TWMFBase::ProfileGuidText(5).toLower());
    prompts->FileAnswers.push_back(Dir + "/dialup.wmv");
    prompts->ModalHandlers.push_back([](QDialog& d) {
        auto& dlg = dynamic_cast<TVideoSetDlg&>(d);
        EXPECT_EQ(dlg.nbFormats->currentIndex(), kWmfPage);
        EXPECT_EQ(dlg.cbProfiles->currentIndex(), 5);
        Pick(dlg.cbProfiles, 15);  // video only, 28.8 Kbps
        dlg.btnOk->click();
        return TModalResult::Ok;
    });

    Start(1);

    const QString output = Dir + "/dialup.wmv";
    EXPECT_TRUE(prompts->Texts().isEmpty());  // "Show result when ready" is off: silent
    EXPECT_EQ(Stored(kPreference, "WMVSelected"), TWMFBase::ProfileGuidText(15));
    ExpectIdle();

    const media::TWmProfileDef* def = media::FindWmProfile(TWMFBase::ProfileGuidText(15).toStdString());
    ASSERT_NE(def, nullptr);
    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    ASSERT_TRUE(video);
    EXPECT_EQ(video->CodecName, "wmv2");
    EXPECT_EQ(FindStream(streams, "audio"), nullptr);
    const int width = def->Video.Width ? def->Video.Width : 320;
    const int height = def->Video.Height ? def->Video.Height : 240;
    EXPECT_EQ(video->Width, width);
    EXPECT_EQ(video->Height, height);
    const auto numbers = FrameNumbers(output, width, height);
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.front(), 10);
    EXPECT_LE(numbers.back(), 29);
}

TEST_F(TJobTest, StoredProfileThatIsNoGuidIsAnErrorAndTheWindowComesBack) {
    SettingsStore->WriteString(kPreference, "WMVSelected", "not a guid");
    prompts->FileAnswers.push_back(Dir + "/x.wmv");
    try {
        Start(1);
        ADD_FAILURE() << "no error raised";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "'not a guid' is not a valid GUID value");
    }
    EXPECT_TRUE(prompts->RecordsOf(TPromptKind::Modal).empty());
    EXPECT_FALSE(QFileInfo::exists(Dir + "/x.wmv"));
    ExpectIdle();
}

TEST_F(TJobTest, AviClipMovesEveryValueInAndOutOfTheDialog) {
    SettingsStore->WriteInteger(kLastSettings, "Video format index", 7);  // beyond the seven-entry list
    SettingsStore->WriteInteger(kLastSettings, "Video width", 176);
    SettingsStore->WriteInteger(kLastSettings, "Video Height", 144);
    SettingsStore->WriteInteger(kLastSettings, "PCM Mode", 4);
    SettingsStore->WriteString(kLastSettings, "AVI video encoder", "motion JPEG");
    SettingsStore->WriteString(kLastSettings, "AVI audio encoder", "");
    SettingsStore->WriteBool(kLastSettings, "With audio", true);
    prompts->FileAnswers.push_back(Dir + "/clip2.avi");
    prompts->Answers.push_back(TModalResult::No);
    prompts->ModalHandlers.push_back([](QDialog& d) {
        auto& dlg = dynamic_cast<TVideoSetDlg&>(d);
        EXPECT_EQ(dlg.nbFormats->currentIndex(), kAviPage);
        EXPECT_EQ(dlg.cbVideoSize->currentIndex(), 0);
        EXPECT_EQ(dlg.eProjWidth->text(), "176");
        EXPECT_EQ(dlg.eProjHeight->text(), "144");
        EXPECT_FALSE(dlg.eProjWidth->isEnabled());  // selected in code: the boxes keep their state
        EXPECT_EQ(dlg.cbAudFormat->currentIndex(), 4);
        EXPECT_TRUE(dlg.cbWithSound->isChecked());
        EXPECT_EQ(dlg.cbVidComp->currentText(), "Motion JPEG");
        dlg.eProjWidth->setText("1x76");  // digits only are read
        dlg.btnOk->click();
        return TModalResult::Ok;
    });

    Start(2);

    const QString output = Dir + "/clip2.avi";
    const auto files = prompts->RecordsOf(TPromptKind::FileDialog);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].FileRequest.FilterIndex, 1);
    EXPECT_EQ(files[0].FileRequest.DefaultExt, "avi");
    EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + output + "\r\nPlay the result?"});
    EXPECT_TRUE(Opener->Requests.empty());  // answered No

    EXPECT_EQ(Stored(kLastSettings, "Video format index"), "0");
    EXPECT_EQ(Stored(kLastSettings, "Video width"), "176");
    EXPECT_EQ(Stored(kLastSettings, "Video Height"), "144");
    EXPECT_EQ(Stored(kLastSettings, "PCM Mode"), "4");
    EXPECT_EQ(Stored(kLastSettings, "AVI video encoder"), "Motion JPEG");
    EXPECT_EQ(Stored(kLastSettings, "AVI audio encoder"), "");
    ASSERT_TRUE(Form->OutputSettings.VideoCompressor);
    EXPECT_EQ(Form->OutputSettings.VideoCompressor->EncoderName(), "mjpeg");
    ExpectIdle();

    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    const TProbedStream* audio = FindStream(streams, "audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->CodecName, "mjpeg");
    EXPECT_EQ(video->Width, 176);
    EXPECT_EQ(video->Height, 144);
    EXPECT_EQ(audio->CodecName, "pcm_s16le");
    EXPECT_EQ(audio->SampleRate, 22050);
    EXPECT_EQ(audio->Channels, 2);
    EXPECT_EQ(FrameNumbers(output, 176, 144), Range(10, 30));
}

TEST_F(TJobTest, OldFileThatCannotBeDeletedCancelsTheJob) {
    // Root deletes any file; a non-empty folder of that name cannot be deleted.
    const QString busy = Dir + "/busy.wmv";
    ASSERT_TRUE(QDir().mkpath(busy + "/inside"));
    prompts->FileAnswers.push_back(busy);

    Start(0);

    EXPECT_EQ(prompts->Texts(), QStringList{"Canceled. File " + busy + " is in use."});
    EXPECT_TRUE(prompts->RecordsOf(TPromptKind::Modal).empty());
    EXPECT_TRUE(QFileInfo(busy + "/inside").isDir());
    ExpectIdle();
}

// Replacing a file: the old file stays exactly as it was until the new clip is
// whole. A cancel on the settings page, a job that fails (the movie went away
// after it was opened) and a finished job, in every output mode.
TEST_F(TJobTest, ReplacedFileStaysUntilTheClipIsWholeInEveryMode) {
    struct {
        int Mode;
        const char* Ext;
    } modes[] = {{1, "wmv"}, {2, "avi"}, {4, "mp4"}, {5, "webm"}, {6, "mp4"}};
    const auto pressOk = [](QDialog& d) { return PressOk(dynamic_cast<TVideoSetDlg&>(d)); };
    for (const auto& m : modes) {
        SCOPED_TRACE(Form->cbMode->itemText(m.Mode).toStdString());
        const QString target = Dir + "/old." + m.Ext;
        const QByteArray oldBytes = "the user's old file";
        {
            QFile old(target);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write(oldBytes);
        }

        // Cancel on the settings page (a copy has none).
        const bool copy = m.Mode == 6;
        if (!copy) {
            prompts->Records.clear();
            prompts->FileAnswers.push_back(target);
            prompts->ModalHandlers.push_back([](QDialog&) { return TModalResult::Cancel; });
            Start(m.Mode);
            EXPECT_EQ(ReadAll(target), oldBytes) << "cancel";
            ExpectIdle();
        }

        // A job that fails: the movie is gone when the render starts.
        const QString source = Dir + "/source.avi";
        ASSERT_TRUE(QFile::copy(Movie50, source));
        ASSERT_TRUE(Form->OpenMovie(source));
        Form->tbPosition->SetSelStart(10);
        Form->tbPosition->SetSelEnd(30);
        ASSERT_TRUE(QFile::rename(source, Dir + "/moved.avi"));
        prompts->Records.clear();
        prompts->FileAnswers.push_back(target);
        if (!copy)
            prompts->ModalHandlers.push_back(pressOk);
        Start(m.Mode);
        const QStringList texts = prompts->Texts();
        ASSERT_EQ(texts.size(), 1);
        EXPECT_TRUE(texts[0].startsWith("Fail to make clip " + target)) << texts[0].toStdString();
        EXPECT_EQ(ReadAll(target), oldBytes) << "failed job";
        EXPECT_EQ(HiddenEntries(Dir), QStringList());
        ExpectIdle();
        ASSERT_TRUE(QFile::remove(Dir + "/moved.avi"));

        // A finished job replaces it.
        ASSERT_TRUE(Form->OpenMovie(Movie50));
        Form->tbPosition->SetSelStart(10);
        Form->tbPosition->SetSelEnd(30);
        prompts->Records.clear();
        prompts->FileAnswers.push_back(target);
        if (!copy)
            prompts->ModalHandlers.push_back(pressOk);
        prompts->Answers.push_back(TModalResult::No);
        Start(m.Mode);
        EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + target + "\r\nPlay the result?"});
        EXPECT_NE(ReadAll(target), oldBytes);
        EXPECT_NE(FindStream(ProbeStreams(target), "video"), nullptr);
        EXPECT_EQ(HiddenEntries(Dir), QStringList());
        ExpectIdle();
    }
}

// The open movie is never the output, by its own name, through a link or
// under another name of the same file: the user is told and asked again.
TEST_F(TJobTest, TheOpenMovieIsNeverWrittenOverWhateverItsName) {
    const QString movie = Dir + "/movie.avi";
    ASSERT_TRUE(QFile::copy(Movie50, movie));
    ASSERT_TRUE(QFile::link(movie, Dir + "/link.avi"));
    ASSERT_EQ(::link(QFile::encodeName(movie).constData(), QFile::encodeName(Dir + "/hard.avi").constData()), 0);
    ASSERT_TRUE(Form->OpenMovie(movie));
    Form->tbPosition->SetSelStart(10);
    Form->tbPosition->SetSelEnd(30);
    const QByteArray before = Sha256(movie);
    for (const QString& name : {movie, Dir + "/link.avi", Dir + "/hard.avi", Dir + "/./movie"}) {
        SCOPED_TRACE(name.toStdString());
        prompts->Records.clear();
        prompts->FileAnswers.push_back(name);
        prompts->FileAnswers.push_back("");  // asked again: cancelled
        Start(2);
        EXPECT_EQ(prompts->RecordsOf(TPromptKind::FileDialog).size(), 2u);
        const QStringList texts = prompts->Texts();
        ASSERT_EQ(texts.size(), 1);
        EXPECT_TRUE(texts[0].startsWith("The clip can not be saved over the open movie ")) << texts[0].toStdString();
        EXPECT_TRUE(prompts->RecordsOf(TPromptKind::Modal).empty());
        EXPECT_EQ(Sha256(movie), before);
        ExpectIdle();
    }
    // Another name is then taken as usual.
    prompts->Records.clear();
    prompts->FileAnswers.push_back(movie);
    prompts->FileAnswers.push_back(Dir + "/clip.avi");
    prompts->ModalHandlers.push_back([](QDialog& d) { return PressOk(dynamic_cast<TVideoSetDlg&>(d)); });
    prompts->Answers.push_back(TModalResult::No);
    Start(2);
    EXPECT_EQ(Sha256(movie), before);
    EXPECT_EQ(FrameNumbers(Dir + "/clip.avi", 320, 240), Range(10, 30));
}

TEST_F(TJobTest, CancelledSaveDialogChangesNothing) {
    prompts->FileAnswers.push_back("");
    Start(0);
    EXPECT_EQ(prompts->Records.size(), 1u);
    EXPECT_EQ(Stored(kPreference, "VideoFolder"), Dir + "/");
    ExpectIdle();
}

TEST_F(TJobTest, FolderOutsideTheVideoFolderIsOfferedOnceAsTheNewVideoFolder) {
    const QString other = Dir + "/Other";
    ASSERT_TRUE(QDir().mkpath(other));
    // First job: asked, OK; the settings dialog is then cancelled.
    prompts->FileAnswers.push_back(other + "/a.wmv");
    prompts->Answers.push_back(TModalResult::Ok);
    prompts->ModalHandlers.push_back([](QDialog&) { return TModalResult::Cancel; });
    Start(1);
    EXPECT_EQ(FileDialogStartFolder(prompts->RecordsOf(TPromptKind::FileDialog).at(0).FileRequest), Dir);

    const QString folder = other + "/";
    const auto questions = prompts->RecordsOf(TPromptKind::Question);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].Text, folder + " is not the default video capture folder.\n\rMove default video capture folder to " +
                                     folder + "?");
    EXPECT_EQ(questions[0].Buttons, unsigned(mbOK | mbCancel));
    EXPECT_EQ(Form->VideoFolder, folder);
    EXPECT_EQ(Stored(kPreference, "VideoFolder"), folder);
    // Cancelled in the dialog: the name the dialog gave stays for the next job.
    EXPECT_EQ(Form->sdOutput.FileName, other + "/a.wmv");
    ExpectIdle();

    // Second job in that folder: no question.
    prompts->Records.clear();
    prompts->FileAnswers.push_back(other + "/b.wmv");
    prompts->ModalHandlers.push_back([](QDialog&) { return TModalResult::Cancel; });
    Start(1);
    EXPECT_TRUE(prompts->RecordsOf(TPromptKind::Question).empty());
    EXPECT_EQ(prompts->RecordsOf(TPromptKind::FileDialog).at(0).FileRequest.FileName, other + "/a");
    // The dialog starts in the folder chosen the first time, not in the first job's.
    EXPECT_EQ(FileDialogStartFolder(prompts->RecordsOf(TPromptKind::FileDialog).at(0).FileRequest), other);

    // A third one elsewhere, answered Cancel: the folder stays.
    prompts->Records.clear();
    prompts->FileAnswers.push_back(Dir + "/c.wmv");
    prompts->Answers.push_back(TModalResult::Cancel);
    prompts->ModalHandlers.push_back([](QDialog&) { return TModalResult::Cancel; });
    Start(1);
    EXPECT_EQ(prompts->RecordsOf(TPromptKind::Question).size(), 1u);
    EXPECT_EQ(Stored(kPreference, "VideoFolder"), folder);
}

TEST_F(TJobTest, StopShowsProgressLeavesAPlayablePartialFileAndStillSaysDone) {
    // A slow job: Cinepak at 320 x 240 over ten seconds of movie.
    const QString movie = MakeMovie(MovieDir, 250);
    ASSERT_TRUE(Form->OpenMovie(movie));
    Form->tbPosition->SetSelStart(0);
    Form->tbPosition->SetSelEnd(250);
    SettingsStore->WriteString(kLastSettings, "AVI video encoder", "Cinepak by Radius");
    SettingsStore->WriteBool(kLastSettings, "With audio", false);
    // An old file of that name is replaced by the stopped clip's playable part.
    {
        QFile old(Dir + "/stopped.avi");
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    prompts->FileAnswers.push_back(Dir + "/stopped.avi");
    prompts->Answers.push_back(TModalResult::Yes);
    prompts->ModalHandlers.push_back([](QDialog& d) {
        dynamic_cast<TVideoSetDlg&>(d).btnOk->click();
        return TModalResult::Ok;
    });

    QStringList busyTexts, timeTexts;
    bool busySeenVisible = false, hourglassSeen = false, stopped = false;
    int furthestPosition = 0;
    QElapsedTimer clock;
    QTimer sampler;
    sampler.setInterval(25);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (Form->tmAnimateTag != 1)
            return;
        if (!clock.isValid())
            clock.start();
        if (Form->lbBusy->isVisible())
            busySeenVisible = true;
        if (!busyTexts.contains(Form->lbBusy->text()))
            busyTexts << Form->lbBusy->text();
        if (Form->lbTimeLeft->isVisible() && !timeTexts.contains(Form->lbTimeLeft->text()))
            timeTexts << Form->lbTimeLeft->text();
        furthestPosition = std::max(furthestPosition, Form->tbPosition->Position());
        if (stopped && !hourglassSeen && QApplication::overrideCursor() &&
            QApplication::overrideCursor()->shape() == Qt::WaitCursor) {
            hourglassSeen = true;
            // Start again while the stopped render winds down: refused, and
            // the controls stay off until the first job ends.
            Form->sbExecuteClick();
            EXPECT_FALSE(Form->sbOpenMovie->isEnabled());
            EXPECT_FALSE(Form->sbExecute->isEnabled());
            EXPECT_EQ(Form->JobState(), TJobState::Stopping);
            EXPECT_EQ(Form->sbExecute->text(), "Start");
        }
        // Cinepak is written a segment at a time, so the first progress can
        // take several seconds in a sanitizer build; stop once it shows.
        const bool timeLeftShown = !timeTexts.isEmpty();
        // FW_CONVUI_SCREENSHOT=file.png keeps a picture of the window while it renders.
        if (timeLeftShown && !stopped && qEnvironmentVariableIsSet("FW_CONVUI_SCREENSHOT"))
            Form->grab().save(qEnvironmentVariable("FW_CONVUI_SCREENSHOT"));
        if (!stopped && (timeLeftShown || clock.elapsed() > 30000)) {
            stopped = true;
            EXPECT_EQ(Form->JobState(), TJobState::Converting);
            EXPECT_TRUE(Form->ConversionUnderWay());
            Form->sbExecute->click();  // Stop
            EXPECT_EQ(Form->JobState(), TJobState::Stopping);
            EXPECT_TRUE(Form->StopRequested());
            EXPECT_EQ(Form->sbExecute->text(), "Start");
        }
    });
    sampler.start();
    Start(2);
    sampler.stop();

    const QString output = Dir + "/stopped.avi";
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(busySeenVisible);
    EXPECT_TRUE(hourglassSeen);
    bool progress = false;
    for (const QString& t : busyTexts)
        progress = progress || QRegularExpression("^Progress: \\d{1,3}%$").match(t).hasMatch();
    EXPECT_TRUE(progress) << busyTexts.join(" | ").toStdString();
    ASSERT_FALSE(timeTexts.isEmpty());
    EXPECT_TRUE(timeTexts.first().startsWith("Finish in ")) << timeTexts.join(" | ").toStdString();
    EXPECT_GT(furthestPosition, 0);  // the preview followed the render

    EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + output + "\r\nPlay the result?"});
    EXPECT_EQ(prompts->RecordsOf(TPromptKind::FileDialog).size(), 1u);
    ASSERT_EQ(Opener->Requests.size(), 1u);
    ExpectIdle();

    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    ASSERT_TRUE(video);
    EXPECT_EQ(video->CodecName, "cinepak");
    const auto numbers = FrameNumbers(output, 320, 240);
    ASSERT_FALSE(numbers.empty());
    EXPECT_LT(numbers.size(), 250u);
    EXPECT_EQ(numbers, Range(0, static_cast<int>(numbers.size())));
}

TEST_F(TJobTest, CloseWhileRenderingStopsTheRenderAsksNothingAndClosesOnceItEnded) {
    const QString movie = MakeMovie(MovieDir, 250);
    ASSERT_TRUE(Form->OpenMovie(movie));
    Form->tbPosition->SetSelStart(0);
    Form->tbPosition->SetSelEnd(250);
    SettingsStore->WriteString(kLastSettings, "AVI video encoder", "Cinepak by Radius");
    SettingsStore->WriteBool(kLastSettings, "With audio", false);
    prompts->FileAnswers.push_back(Dir + "/closed.avi");
    prompts->ModalHandlers.push_back([](QDialog& d) {
        dynamic_cast<TVideoSetDlg&>(d).btnOk->click();
        return TModalResult::Ok;
    });

    bool closeTried = false, stopCaptionKept = true;
    QElapsedTimer clock;
    QTimer sampler;
    sampler.setInterval(25);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (Form->tmAnimateTag != 1)
            return;
        if (!clock.isValid())
            clock.start();
        if (!closeTried && (Form->lbTimeLeft->isVisible() || clock.elapsed() > 30000)) {
            closeTried = true;
            EXPECT_EQ(Form->JobState(), TJobState::Converting);
            EXPECT_FALSE(Form->close());  // refused: the render is asked to stop
            EXPECT_EQ(Form->JobState(), TJobState::StoppingToClose);
            EXPECT_TRUE(Form->StopRequested());
            EXPECT_TRUE(Form->isVisible());
        } else if (closeTried && Form->JobState() != TJobState::Idle) {
            stopCaptionKept = stopCaptionKept && Form->sbExecute->text() == "Stop";
        }
    });
    sampler.start();
    Start(2);
    sampler.stop();

    ASSERT_TRUE(closeTried);
    EXPECT_TRUE(stopCaptionKept);
    // No question behind a closing window: the stopped clip is kept, and the
    // window closes by itself once the job has ended.
    EXPECT_TRUE(prompts->Texts().isEmpty()) << prompts->Texts().join(" | ").toStdString();
    ExpectIdle();
    QElapsedTimer closing;
    closing.start();
    while (Form->isVisible() && closing.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(Form->isVisible());
    const auto numbers = FrameNumbers(Dir + "/closed.avi", 320, 240);
    ASSERT_FALSE(numbers.empty());
    EXPECT_LT(numbers.size(), 250u);
}

TEST_F(TJobTest, ImageCapturesModeGoesToTheCaptureBatchWithTheRange) {
    QString asked;
    prompts->ModalHandlers.push_back([&](QDialog& d) {
        asked = d.windowTitle();
        return TModalResult::Cancel;
    });
    Start(3);
    EXPECT_EQ(asked, "Image capture settings");
    EXPECT_TRUE(prompts->RecordsOf(TPromptKind::FileDialog).empty());
    ExpectIdle();
}

// ---------------------------------------------------------------- MP4 and WebM clips

TEST_F(TJobTest, WebModesAskForTheirOwnFileTypeAndCancelOnTheirPageChangesNothing) {
    // The copy mode writes MP4 and shows the MP4 page: its choices serve when
    // the source has to be re-encoded.
    const struct {
        int Mode;
        const char* Prefix;
        TWebCodec Codec;
        QString Filter, Ext, FirstName;
    } cases[] = {
        {4, "MP4 ", TWebCodec::Mp4, "MP4 video|*.mp4", "mp4", "New video"},
        {5, "WebM ", TWebCodec::WebM, "WebM video|*.webm", "webm", "New video"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Form->cbMode->itemText(c.Mode).toStdString());
        const auto key = [&](const char* name) { return QString::fromLatin1(c.Prefix) + QString::fromLatin1(name); };
        // Stored choices that are not the defaults.
        SettingsStore->WriteInteger(kLastSettings, key("frame size index"), 6);
        SettingsStore->WriteInteger(kLastSettings, key("width"), 200);
        SettingsStore->WriteInteger(kLastSettings, key("height"), 150);
        SettingsStore->WriteInteger(kLastSettings, key("quality"), 30);
        SettingsStore->WriteString(kLastSettings, key("preset"), c.Codec == TWebCodec::Mp4 ? "medium" : "2");
        SettingsStore->WriteBool(kLastSettings, key("with audio"), false);
        SettingsStore->WriteInteger(kLastSettings, key("audio bit rate"), 160);
        Form->sdOutput.FileName.clear();
        QFile old(Dir + "/typed.avi");
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.close();

        for (int round = 0; round < 2; ++round) {
            prompts->Records.clear();
            // The second round has the first one's name: its extension goes.
            prompts->FileAnswers.push_back(Dir + "/typed.avi");
            prompts->ModalHandlers.push_back([&](QDialog& d) {
                auto& dlg = dynamic_cast<TVideoSetDlg&>(d);
                EXPECT_EQ(dlg.nbFormats->currentIndex(), kWebPage);
                EXPECT_EQ(dlg.WebCodec(), c.Codec);
                const TWebSettings shown = dlg.WebSettings();
                EXPECT_EQ(shown.FrameSizeIndex, 6) << Describe(shown);
                EXPECT_EQ(shown.Width, 200);
                EXPECT_EQ(shown.Height, 150);
                EXPECT_EQ(shown.Crf, 30);
                EXPECT_FALSE(shown.WithAudio);
                EXPECT_EQ(shown.AudioKbps, 160);
                // Everything changed, then Cancel.
                Pick(dlg.cbWebSize, 1);
                dlg.seWebCrf->setValue(10);
                Pick(dlg.cbWebPreset, 0);
                dlg.cbWebAudio->setChecked(true);
                Pick(dlg.cbWebAudioRate, 0);
                dlg.btnCancel->click();
                return TModalResult::Cancel;
            });

            Start(c.Mode);

            const auto files = prompts->RecordsOf(TPromptKind::FileDialog);
            ASSERT_EQ(files.size(), 1u);
            EXPECT_TRUE(files[0].FileRequest.Save);
            EXPECT_TRUE(files[0].FileRequest.OverwritePrompt);
            EXPECT_EQ(files[0].FileRequest.Filter, c.Filter);
            EXPECT_EQ(files[0].FileRequest.FilterIndex, 1);
            EXPECT_EQ(files[0].FileRequest.DefaultExt, c.Ext);
            EXPECT_EQ(files[0].FileRequest.FileName, round == 0 ? c.FirstName : Dir + "/typed");
            EXPECT_EQ(files[0].FileRequest.InitialDir, round == 0 ? Dir + "/" : QString());
            EXPECT_EQ(prompts->RecordsOf(TPromptKind::Modal).size(), 1u);
            EXPECT_TRUE(prompts->Texts().isEmpty());  // no render, no "Play the result?"
            EXPECT_EQ(Form->sdOutput.FileName, Dir + "/typed." + c.Ext);
            EXPECT_TRUE(QFileInfo::exists(Dir + "/typed.avi"));  // a cancel leaves the old file
            EXPECT_FALSE(QFileInfo::exists(Dir + "/typed." + c.Ext));
            ExpectIdle();

            const TWebSettings& kept = c.Codec == TWebCodec::Mp4 ? Form->OutputSettings.Mp4 : Form->OutputSettings.WebM;
            EXPECT_EQ(kept.FrameSizeIndex, 6);
            EXPECT_EQ(kept.Crf, 30);
            EXPECT_FALSE(kept.WithAudio);
            EXPECT_EQ(Stored(kLastSettings, key("frame size index")), "6");
            EXPECT_EQ(Stored(kLastSettings, key("width")), "200");
            EXPECT_EQ(Stored(kLastSettings, key("quality")), "30");
            EXPECT_EQ(Stored(kLastSettings, key("preset")), c.Codec == TWebCodec::Mp4 ? "medium" : "2");
            EXPECT_EQ(Stored(kLastSettings, key("with audio")), "0");
            EXPECT_EQ(Stored(kLastSettings, key("audio bit rate")), "160");
        }
    }
    // The classic modes keep their filter.
    prompts->Records.clear();
    prompts->FileAnswers.push_back("");
    Start(2);
    const auto files = prompts->RecordsOf(TPromptKind::FileDialog);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].FileRequest.Filter, "AVI file|*.avi|Windows Media Format (WMV)|*.wmv");
    EXPECT_EQ(files[0].FileRequest.FilterIndex, 1);
    EXPECT_EQ(files[0].FileRequest.DefaultExt, "avi");
}

TEST_F(TJobTest, Mp4ClipWritesTheRangeAsH264AndAacAtTheSourceSizeWithTheIndexFirst) {
    QFile old(Dir + "/clip.avi");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    prompts->FileAnswers.push_back(Dir + "/clip.avi");
    prompts->Answers.push_back(TModalResult::Yes);
    prompts->ModalHandlers.push_back([](QDialog& d) {
        auto& dlg = dynamic_cast<TVideoSetDlg&>(d);
        EXPECT_EQ(dlg.nbFormats->currentIndex(), kWebPage);
        EXPECT_EQ(dlg.WebCodec(), TWebCodec::Mp4);
        // First start: the defaults.
        EXPECT_EQ(dlg.cbWebSize->currentText(), "Same as source");
        EXPECT_EQ(dlg.seWebCrf->value(), 23);
        EXPECT_EQ(dlg.cbWebPreset->currentData().toString(), "veryfast");
        EXPECT_TRUE(dlg.cbWebAudio->isChecked());
        EXPECT_EQ(dlg.cbWebAudioRate->currentData().toInt(), 128);
        return PressOk(dlg);
    });

    Start(4);

    const QString output = Dir + "/clip.mp4";
    EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + output + "\r\nPlay the result?"})
        << prompts->Texts().join(" | ").toStdString();
    ASSERT_EQ(Opener->Requests.size(), 1u);
    EXPECT_EQ(Opener->Requests[0].Action, TDesktopAction::Play);
    EXPECT_EQ(Opener->Requests[0].Target, output);
    EXPECT_EQ(ReadAll(Dir + "/clip.avi"), QByteArray("old"));  // not the output: left alone
    EXPECT_EQ(Stored(kLastSettings, "MP4 quality"), "23");
    EXPECT_EQ(Stored(kLastSettings, "MP4 preset"), "veryfast");
    ExpectIdle();

    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    const TProbedStream* audio = FindStream(streams, "audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ(video->CodecName, "h264");
    EXPECT_EQ(video->Width, 160);  // "Same as source"
    EXPECT_EQ(video->Height, 120);
    EXPECT_EQ(audio->CodecName, "aac");
    EXPECT_EQ(FrameNumbers(output, 160, 120), Range(10, 30));
    // The index (moov) before the pictures (mdat), for playing while loading.
    const QStringList boxes = TopLevelBoxes(output);
    ASSERT_TRUE(boxes.contains("moov") && boxes.contains("mdat")) << boxes.join(' ').toStdString();
    EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat")) << boxes.join(' ').toStdString();
}

TEST_F(TJobTest, WebMClipTakesTheSizeQualityPresetAndAudioChosenOnThePage) {
    SettingsStore->WriteInteger(kLastSettings, "WebM quality", 40);
    SettingsStore->WriteString(kLastSettings, "WebM preset", "6");
    SettingsStore->WriteInteger(kLastSettings, "WebM audio bit rate", 64);
    prompts->FileAnswers.push_back(Dir + "/web.wmv");
    prompts->Answers.push_back(TModalResult::No);
    prompts->ModalHandlers.push_back([](QDialog& d) {
        auto& dlg = dynamic_cast<TVideoSetDlg&>(d);
        EXPECT_EQ(dlg.WebCodec(), TWebCodec::WebM);
        EXPECT_EQ(dlg.seWebCrf->value(), 40);
        EXPECT_EQ(dlg.cbWebPreset->currentText(), "6");
        EXPECT_EQ(dlg.cbWebAudioRate->currentData().toInt(), 64);
        Pick(dlg.cbWebSize, 3);  // medium 320 x 240
        dlg.seWebCrf->setValue(45);
        PickData(dlg.cbWebPreset, "8");
        PickData(dlg.cbWebAudioRate, "160");
        return PressOk(dlg);
    });

    Start(5);

    const QString output = Dir + "/web.webm";
    EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + output + "\r\nPlay the result?"})
        << prompts->Texts().join(" | ").toStdString();
    EXPECT_TRUE(Opener->Requests.empty());  // answered No
    // What the render was given, and what stays for the next time.
    const TWebSettings& used = Form->OutputSettings.WebM;
    EXPECT_EQ(used.FrameSizeIndex, 3) << Describe(used);
    EXPECT_EQ(used.Width, 320);
    EXPECT_EQ(used.Height, 240);
    EXPECT_EQ(used.Crf, 45);
    EXPECT_EQ(used.Preset, "8");
    EXPECT_TRUE(used.WithAudio);
    EXPECT_EQ(used.AudioKbps, 160);
    EXPECT_EQ(Stored(kLastSettings, "WebM frame size index"), "3");
    EXPECT_EQ(Stored(kLastSettings, "WebM width"), "320");
    EXPECT_EQ(Stored(kLastSettings, "WebM quality"), "45");
    EXPECT_EQ(Stored(kLastSettings, "WebM preset"), "8");
    EXPECT_EQ(Stored(kLastSettings, "WebM audio bit rate"), "160");
    // The MP4 choices are not touched by a WebM job.
    EXPECT_EQ(Stored(kLastSettings, "MP4 quality"), "23");
    ExpectIdle();

    ExpectClipFile(output, "vp9", "opus", 320, 240, Range(10, 30));
}

TEST_F(TJobTest, Mp4OddCustomSizeIsRefusedOnThePageThenTheEvenOneIsWrittenWithoutAudio) {
    Form->Showresultwhenready1->setChecked(false);
    Form->SavePreferences();
    prompts->FileAnswers.push_back(Dir + "/custom.mp4");
    bool refusedAndOpen = false;
    prompts->ModalHandlers.push_back([&](QDialog& d) {
        auto& dlg = dynamic_cast<TVideoSetDlg&>(d);
        Pick(dlg.cbWebSize, WebCustomSizeIndex());
        EXPECT_TRUE(dlg.seWebWidth->isEnabled());
        dlg.seWebWidth->setValue(161);
        dlg.seWebHeight->setValue(120);
        dlg.btnOk->click();
        refusedAndOpen = dlg.isVisible() && prompts->Texts().size() == 1;
        dlg.seWebWidth->setValue(176);
        dlg.seWebHeight->setValue(132);
        dlg.cbWebAudio->setChecked(false);
        return PressOk(dlg);
    });

    Start(4);

    const QString output = Dir + "/custom.mp4";
    EXPECT_TRUE(refusedAndOpen);
    ASSERT_EQ(prompts->Texts().size(), 1);  // the refusal only: the result question is off
    EXPECT_TRUE(prompts->Texts()[0].startsWith("The custom frame size 161 x 120 cannot be used."))
        << prompts->Texts()[0].toStdString();
    EXPECT_EQ(Stored(kLastSettings, "MP4 frame size index"), QString::number(WebCustomSizeIndex()));
    EXPECT_EQ(Stored(kLastSettings, "MP4 width"), "176");
    EXPECT_EQ(Stored(kLastSettings, "MP4 height"), "132");
    EXPECT_EQ(Stored(kLastSettings, "MP4 with audio"), "0");
    ExpectIdle();

    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    ASSERT_TRUE(video);
    EXPECT_EQ(video->CodecName, "h264");
    EXPECT_EQ(video->Width, 176);
    EXPECT_EQ(video->Height, 132);
    EXPECT_EQ(FindStream(streams, "audio"), nullptr);
    EXPECT_EQ(FrameNumbers(output, 176, 132), Range(10, 30));
}

// ---------------------------------------------------------------- same as source (copy)

namespace {

// An H.264 movie with AAC sound in MP4, key frames every `gop` frames: what
// the copy mode copies.
QString MakeH264Movie(const QString& folder, int frames, int gop, int width = 160, int height = 120) {
    testmovie::TMovieSpec spec;
    spec.Container = "mp4";
    spec.VideoCodec = "libx264";
    spec.AudioCodec = "aac";
    spec.Frames = frames;
    spec.GopSize = gop;
    spec.Width = width;
    spec.Height = height;
    const QString path = QDir(folder).filePath(QStringLiteral("h264 %1 %2x%3.mp4").arg(frames).arg(width).arg(height));
    testmovie::MakeTestMovie(QFile::encodeName(path).toStdString(), spec);
    return path;
}

// The plan RenderClip makes for frames start .. end - 1 of a 25 fps movie.
media::TCopyPlan PlanOf(const QString& movie, int start, int end) {
    return media::PlanCopy(QFile::encodeName(movie).toStdString(), start, end);
}

}  // namespace

TEST_F(TJobTest, CopyOfAMovieThatCanNotBeCopiedSaysWhyAndWritesTheMoviesSizeAndSound) {
    // Motion JPEG in AVI is never copied: the clip is re-encoded as an MP4,
    // and the window says why without a question. A copy asks for no
    // settings: the MP4 page's size and "Include audio track" are neither
    // shown nor used nor changed, the clip keeps the movie's size and sound.
    const media::TCopyPlan plan = PlanOf(Movie50, 10, 30);
    ASSERT_FALSE(plan.CanCopy);
    SettingsStore->WriteInteger(kLastSettings, "MP4 frame size index", 6);
    SettingsStore->WriteInteger(kLastSettings, "MP4 width", 200);
    SettingsStore->WriteInteger(kLastSettings, "MP4 height", 150);
    SettingsStore->WriteBool(kLastSettings, "MP4 with audio", false);
    const QString notice = CopyFallbackNotice(plan.Why);
    prompts->FileAnswers.push_back(Dir + "/copy.avi");
    prompts->Answers.push_back(TModalResult::Yes);
    bool noticeDuringRender = false;
    QTimer sampler;
    sampler.setInterval(10);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (Form->tmAnimateTag == 1 && Form->lbNotice->isVisible() && Form->lbNotice->text() == notice)
            noticeDuringRender = true;
    });
    sampler.start();

    Start(6);
    sampler.stop();

    const QString output = Dir + "/copy.mp4";
    EXPECT_TRUE(noticeDuringRender);
    // The notice is no question: the one question is the result's.
    EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + output + "\r\nPlay the result?"})
        << prompts->Texts().join(" | ").toStdString();
    ASSERT_EQ(Opener->Requests.size(), 1u);
    EXPECT_EQ(Opener->Requests[0].Target, output);
    EXPECT_EQ(Form->lbNotice->text(), notice);
    EXPECT_TRUE(Form->lbNotice->isVisible());
    EXPECT_TRUE(prompts->RecordsOf(TPromptKind::Modal).empty());
    EXPECT_EQ(Stored(kLastSettings, "MP4 width"), "200");
    EXPECT_EQ(Stored(kLastSettings, "MP4 with audio"), "0");
    ExpectIdle();
    // FW_CONVUI_COPY_SCREENSHOT=file.png keeps a picture of the window with the mode and its notice.
    if (qEnvironmentVariableIsSet("FW_CONVUI_COPY_SCREENSHOT"))
        Form->grab().save(qEnvironmentVariable("FW_CONVUI_COPY_SCREENSHOT"));

    ExpectClipFile(output, "h264", "aac", 160, 120, Range(10, 30));
    EXPECT_TRUE(TopLevelBoxes(output).contains("moov"));

    // The notice stays until the next conversion starts; a cancelled one
    // starts none, one that renders clears it.
    prompts->Records.clear();
    prompts->FileAnswers.push_back("");
    Start(6);
    EXPECT_EQ(Form->lbNotice->text(), notice);
    prompts->FileAnswers.push_back(Dir + "/next.mp4");
    prompts->Answers.push_back(TModalResult::No);
    prompts->ModalHandlers.push_back([](QDialog& d) {
        // The MP4 mode's own choices, untouched by the copy.
        EXPECT_FALSE(dynamic_cast<TVideoSetDlg&>(d).WebSettings().WithAudio);
        return PressOk(dynamic_cast<TVideoSetDlg&>(d));
    });
    Start(4);
    EXPECT_TRUE(QFileInfo::exists(Dir + "/next.mp4"));
    EXPECT_FALSE(Form->lbNotice->isVisible());
    EXPECT_TRUE(Form->lbNotice->text().isEmpty());
}

TEST_F(TJobTest, CopyOfAnH264MovieHoldsExactlyTheMarkedFrames) {
    // Key frames every 10 frames; the range starts and ends between them.
    const QString movie = MakeH264Movie(MovieDir, 50, 10);
    ASSERT_TRUE(Form->OpenMovie(movie));
    ASSERT_EQ(Form->MovieInfo.FrameRate, 25);
    Form->tbPosition->SetSelStart(13);
    Form->tbPosition->SetSelEnd(37);
    const media::TCopyPlan plan = PlanOf(movie, 13, 37);
    prompts->FileAnswers.push_back(Dir + "/cut");
    prompts->Answers.push_back(TModalResult::No);

    Start(6);

    const QString output = Dir + "/cut.mp4";
    EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + output + "\r\nPlay the result?"})
        << prompts->Texts().join(" | ").toStdString();
    // Copied, or re-encoded with the reason shown; never both, never silent.
    if (plan.CanCopy) {
        EXPECT_FALSE(Form->lbNotice->isVisible()) << Form->lbNotice->text().toStdString();
        EXPECT_EQ(plan.HeadFrames + plan.CopiedFrames + plan.TailFrames, 24);
    } else {
        EXPECT_EQ(Form->lbNotice->text(), CopyFallbackNotice(plan.Why));
        EXPECT_TRUE(Form->lbNotice->isVisible());
    }
    ExpectIdle();

    ExpectClipFile(output, "h264", "aac", 160, 120, Range(13, 37));
}

TEST_F(TJobTest, StopDuringACopyLeavesAPlayableMp4AndStillSaysDone) {
    // 320 x 240: a source that is re-encoded (Motion JPEG, a minute long, so
    // that the quick MP4 encoder is still at it when the stop comes), and one
    // that is copied (H.264, which may be written before the stop comes).
    testmovie::TMovieSpec mjpeg;
    mjpeg.Width = 320;
    mjpeg.Height = 240;
    mjpeg.Frames = 1500;
    const QString mjpegMovie = Dir + "/long.avi";
    testmovie::MakeTestMovie(QFile::encodeName(mjpegMovie).toStdString(), mjpeg);
    const QString h264Movie = MakeH264Movie(Dir, 400, 10, 320, 240);

    for (const auto& [movie, frames] : {std::pair{mjpegMovie, 1500}, std::pair{h264Movie, 400}}) {
        SCOPED_TRACE(movie.toStdString());
        ASSERT_TRUE(Form->OpenMovie(movie));
        Form->tbPosition->SetSelStart(0);
        Form->tbPosition->SetSelEnd(frames);
        const bool copies = PlanOf(movie, 0, frames).CanCopy;
        const QString output = Dir + "/stopped " + QFileInfo(movie).suffix() + ".mp4";
        prompts->Records.clear();
        prompts->FileAnswers.push_back(output);
        prompts->Answers.push_back(TModalResult::No);

        bool stopped = false;
        QElapsedTimer clock;
        QTimer sampler;
        sampler.setInterval(25);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            if (Form->tmAnimateTag != 1 || stopped)
                return;
            if (!clock.isValid())
                clock.start();
            // As soon as some frames are written: the MP4 encoder is quick.
            const bool progress = QRegularExpression("^Progress: [1-9]\\d*%$").match(Form->lbBusy->text()).hasMatch();
            if (progress || Form->lbTimeLeft->isVisible() || clock.elapsed() > 30000) {
                stopped = true;
                EXPECT_EQ(Form->JobState(), TJobState::Converting);
                Form->sbExecute->click();  // Stop
                EXPECT_EQ(Form->JobState(), TJobState::Stopping);
            }
        });
        sampler.start();
        Start(6);
        sampler.stop();

        if (!copies)
            ASSERT_TRUE(stopped);
        EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + output + "\r\nPlay the result?"})
            << prompts->Texts().join(" | ").toStdString();
        ExpectIdle();
        int exitCode = -1;
        RunTool("ffprobe", {"-v", "error", "-show_format", output}, &exitCode);
        EXPECT_EQ(exitCode, 0);
        const auto numbers = FrameNumbers(output, 320, 240);
        ASSERT_FALSE(numbers.empty());
        if (!copies)
            EXPECT_LT(numbers.size(), static_cast<size_t>(frames)) << "the stop came after the end; nothing stopped";
        EXPECT_EQ(numbers, Range(0, static_cast<int>(numbers.size())));
    }
}

// The notice of a copy that fell back belongs to its movie: opening another
// one takes it away, and its line is kept while hidden so that the buttons
// do not move.
TEST_F(TJobTest, NoticeGoesWithANewMovieAndNeverMovesTheButtons) {
    const QRect buttonAt = Form->sbExecute->geometry();
    prompts->FileAnswers.push_back(Dir + "/copy.mp4");
    prompts->Answers.push_back(TModalResult::No);
    Start(6);
    ASSERT_TRUE(Form->lbNotice->isVisible());
    QApplication::processEvents();
    EXPECT_EQ(Form->sbExecute->geometry(), buttonAt);
    ASSERT_TRUE(Form->OpenMovie(MakeH264Movie(Dir, 50, 10)));
    QApplication::processEvents();
    EXPECT_FALSE(Form->lbNotice->isVisible());
    EXPECT_TRUE(Form->lbNotice->text().isEmpty());
    EXPECT_EQ(Form->sbExecute->geometry(), buttonAt);
}

// The GIF mode: its own page with the stored choices and an estimated size;
// what is chosen there makes the file and is kept for the next time.
TEST_F(TJobTest, GifModeTakesItsPageChoicesAndWritesTheAnimation) {
    SettingsStore->WriteInteger(kLastSettings, "GIF frame rate", 10);
    prompts->FileAnswers.push_back(Dir + "/anim.avi");
    prompts->Answers.push_back(TModalResult::No);
    prompts->ModalHandlers.push_back([](QDialog& d) {
        auto& page = dynamic_cast<TAnimSettingsDlg&>(d);
        EXPECT_EQ(page.seFps->value(), 10);
        EXPECT_EQ(page.seWidth->value(), 480);
        EXPECT_TRUE(page.lbEstimate->text().startsWith("about ")) << page.lbEstimate->text().toStdString();
        page.seWidth->setValue(80);
        EXPECT_EQ(page.lbHeight->text().left(2), "60");  // 160 x 120 by its shape
        page.cbLoop->setChecked(false);
        page.cbDither->setCurrentIndex(1);
        page.btnOk->click();
        return page.result() == QDialog::Accepted ? TModalResult::Ok : TModalResult::Cancel;
    });

    Start(7);

    const QString output = Dir + "/anim.gif";
    EXPECT_EQ(prompts->Texts(), QStringList{"Done. Output file is " + output + "\r\nPlay the result?"})
        << prompts->Texts().join(" | ").toStdString();
    EXPECT_EQ(Stored(kLastSettings, "GIF width"), "80");
    EXPECT_EQ(Stored(kLastSettings, "GIF loop"), "0");
    EXPECT_EQ(Stored(kLastSettings, "GIF dithering"), "1");
    ExpectIdle();
    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    ASSERT_TRUE(video);
    EXPECT_EQ(video->CodecName, "gif");
    EXPECT_EQ(video->Width, 80);
    EXPECT_EQ(video->Height, 60);
    // Frames 10 .. 29 at 25 fps are 0.8 s: eight frames at 10 fps, each the one on screen then.
    EXPECT_EQ(FrameNumbers(output, 80, 60), (std::vector<int>{10, 12, 15, 17, 20, 22, 25, 27}));
}
