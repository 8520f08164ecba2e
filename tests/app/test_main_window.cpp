// The main window: design, states, commands and their keys, close handling,
// preferences in the hive, default folders, opening and previewing movies.
#include "app/CommandLine.h"
#include "app/Main.h"
#include "app/TrackBar.h"

#include "ImageReaders.h"
#include "ScriptedPrompts.h"
#include "TestMovie.h"
#include "common/MyCommonParams.h"
#include "help/HelpViewer.h"
#include "mru/MruUnit.h"
#include "platform/DesktopOpener.h"
#include "platform/Hive.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kRoot = QStringLiteral("\\Software\\Quillmont\\Framewhisk\\");

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        MovieDir = QString::fromStdString(testmovie::MakeTempDir("mainwin"));
        testmovie::TMovieSpec s;  // AVI, MJPEG, 160 x 120, 25 fps, 50 frames
        MoviePath = MovieDir + QStringLiteral("/clip one.avi");
        testmovie::MakeTestMovie(MoviePath.toStdString(), s);
        s.Container = "wav";
        s.VideoCodec = "";
        s.AudioCodec = "pcm_s16le";
        AudioPath = MovieDir + QStringLiteral("/tone.wav");
        testmovie::MakeTestMovie(AudioPath.toStdString(), s);
        TextPath = MovieDir + QStringLiteral("/notes.avi");
        QFile text(TextPath);
        text.open(QIODevice::WriteOnly);
        text.write("this is not a movie\n");
    }
    static void TearDownTestSuite() { QDir(MovieDir).removeRecursively(); }

    void SetUp() override {
        SetApplicationHelpFile(QStringLiteral("Framewhisk.chm"));
        THive::UserHive()->DeleteKey(kRoot);
        auto opener = std::make_unique<TRecordingDesktopOpener>();
        Opener = opener.get();
        PreviousOpener = SetDesktopOpener(std::move(opener));
        Prompts->DefaultModalResult = TModalResult::Cancel;
    }
    void TearDown() override {
        Form.reset();
        ReleaseHelpWindows();
        SetDesktopOpener(std::move(PreviousOpener));
    }

    TMainForm& MakeForm() {
        Form.reset();  // the previous window saves before the next one loads
        Form = std::make_unique<TMainForm>();
        Form->show();
        QApplication::setActiveWindow(Form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        return *Form;
    }

    void Key(Qt::Key key) { QTest::keyClick(Form.get(), key); }

    // Waits until the preview's worker has delivered the exact frame of the
    // bar's position (the picture comes through the event queue).
    void Settle() const {
        QElapsedTimer clock;
        clock.start();
        while (Form && !Form->PreviewSettled() && clock.elapsed() < 30000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        QApplication::processEvents();
    }
    QPixmap Picture() const {
        Settle();
        return Form->imPreview->pixmap();
    }
    QString PositionText() const {
        Settle();
        return Form->SB1Panels[0]->text();
    }

    // The frame number drawn into the picture on show.
    int ShownFrame() const {
        const QPixmap pm = Picture();
        if (pm.isNull())
            return -1;
        const QImage img = pm.toImage().convertToFormat(QImage::Format_RGB888);
        QImage packed(img.width(), img.height(), QImage::Format_RGB888);
        std::vector<uint8_t> rgb(static_cast<std::size_t>(img.width()) * img.height() * 3);
        for (int y = 0; y < img.height(); ++y)
            memcpy(rgb.data() + static_cast<std::size_t>(y) * img.width() * 3, img.constScanLine(y), img.width() * 3);
        return testmovie::ReadFrameNumber(rgb.data(), img.width(), img.height());
    }

    std::optional<QString> Stored(const QString& section, const QString& name) {
        return THive::UserHive()->ReadText(kRoot + section, name);
    }

    static QString MovieDir, MoviePath, AudioPath, TextPath;
    TScriptedPromptsInstaller Prompts;
    TRecordingDesktopOpener* Opener = nullptr;
    std::unique_ptr<TDesktopOpener> PreviousOpener;
    std::unique_ptr<TMainForm> Form;
};

QString MainWindowTest::MovieDir, MainWindowTest::MoviePath, MainWindowTest::AudioPath, MainWindowTest::TextPath;

// ---------------------------------------------------------------- design and states

TEST_F(MainWindowTest, DesignValuesAtStart) {
    TMainForm& f = MakeForm();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Framewhisk"));
    EXPECT_EQ(f.width(), 671);
    EXPECT_EQ(f.height(), 520);  // the design height 518 is raised at the first resize

    EXPECT_FALSE(f.tbPosition->isEnabled());
    EXPECT_EQ(f.tbPosition->maximum(), 100);
    EXPECT_EQ(f.tbPosition->minimum(), 0);
    EXPECT_EQ(f.tbPosition->Position(), 0);
    EXPECT_EQ(f.tbPosition->SelStart(), 0);
    EXPECT_EQ(f.tbPosition->SelEnd(), 0);
    EXPECT_EQ(f.tbPosition->Frequency(), 1);
    EXPECT_EQ(f.tbPosition->tickPosition(), QSlider::TicksBelow);
    EXPECT_EQ(f.tbPosition->singleStep(), 1);
    EXPECT_EQ(f.tbPosition->pageStep(), 2);

    EXPECT_EQ(f.sbOpenMovie->text(), QStringLiteral("Open movie"));
    EXPECT_TRUE(f.sbOpenMovie->font().bold());
    EXPECT_EQ(f.sbOpenMovie->palette().color(QPalette::ButtonText), QColor(Qt::blue));
    EXPECT_EQ(f.sbExecute->text(), QStringLiteral("Start"));
    EXPECT_TRUE(f.sbExecute->font().bold());
    EXPECT_EQ(f.sbExecute->palette().color(QPalette::ButtonText), QColor(Qt::red));
    EXPECT_FALSE(f.sbExecute->isEnabled());
    EXPECT_FALSE(f.lbBusy->isVisible());
    EXPECT_EQ(f.lbBusy->text(), QStringLiteral("Progress: "));
    EXPECT_FALSE(f.lbTimeLeft->isVisible());
    EXPECT_EQ(f.lbTimeLeft->text(), QStringLiteral("Time left "));
    EXPECT_EQ(f.lbFormat->text(), QStringLiteral("Format:"));
    EXPECT_TRUE(f.cbMode->isVisible());
    ASSERT_EQ(f.cbMode->count(), 9);
    EXPECT_EQ(f.cbMode->currentIndex(), 0);
    EXPECT_EQ(f.cbMode->itemText(0), QStringLiteral("Default WMV 320x240"));
    EXPECT_EQ(f.cbMode->itemText(1), QStringLiteral("WMV video clip"));
    EXPECT_EQ(f.cbMode->itemText(2), QStringLiteral("AVI video clip"));
    EXPECT_EQ(f.cbMode->itemText(3), QStringLiteral("Image captures"));
    EXPECT_EQ(f.cbMode->itemText(4), QStringLiteral("MP4 video clip"));
    EXPECT_EQ(f.cbMode->itemText(5), QStringLiteral("WebM video clip"));
    EXPECT_EQ(f.cbMode->itemText(6), QStringLiteral("Same as source (no re-encoding)"));
    EXPECT_EQ(f.cbMode->itemText(7), QStringLiteral("Animated GIF"));
    EXPECT_EQ(f.cbMode->itemText(8), QStringLiteral("Animated WebP"));
    EXPECT_FALSE(f.lbNotice->isVisible());
    EXPECT_TRUE(f.lbNotice->text().isEmpty());
    EXPECT_EQ(f.IAnim->size(), QSize(16, 16));
    EXPECT_EQ(f.ImAnimate.size(), 8u);
    for (const QPixmap& pm : f.ImAnimate)
        EXPECT_EQ(pm.size(), QSize(16, 16));
    EXPECT_EQ(f.BottomPanel->height(), 41);
    EXPECT_EQ(f.pBackground1->palette().color(QPalette::Window), QColor(0, 128, 128));
    EXPECT_TRUE(Picture().isNull());

    EXPECT_EQ(f.SB1Panels[0]->width(), 150);
    EXPECT_EQ(f.SB1Panels[1]->width(), 150);
    for (QLabel* panel : f.SB1Panels)
        EXPECT_TRUE(panel->text().isEmpty());
    EXPECT_EQ(f.TimerUpdate->interval(), 5000);
    EXPECT_TRUE(f.TimerUpdate->isActive());  // armed by showing the window
    EXPECT_EQ(f.tmAnimate->interval(), 200);
    EXPECT_FALSE(f.tmAnimate->isActive());
    EXPECT_EQ(f.odMovie.Filter, kOpenMovieFilter);
}

// The Open dialog offers the movies people have first (phones, cameras, the
// web, DVDs), then the classic movie types, then everything; in any case.
TEST(OpenDialogFilter, MoviesOfEveryCommonTypeFirst) {
    const QStringList entries = FileDialogFilter(kOpenMovieFilter).split(QStringLiteral(";;"));
    ASSERT_EQ(entries.size(), 3);
    auto patterns = [](const QString& entry) {
        const qsizetype open = entry.lastIndexOf(QLatin1Char('('));
        return entry.mid(open + 1, entry.size() - open - 2).split(QLatin1Char(' '));
    };
    auto matches = [&](const QString& entry, const QString& name) {
        return QDir::match(patterns(entry), name);
    };
    EXPECT_TRUE(entries[0].startsWith(QStringLiteral("All movies (")));
    EXPECT_TRUE(entries[1].startsWith(QStringLiteral("Movie files (")));
    EXPECT_EQ(entries[2], QStringLiteral("All files (*)"));
    for (const char* name : {"VID_20260101.mp4", "clip.M4V", "IMG_0042.MOV", "film.mkv", "talk.webm", "old.avi",
                             "vcd.mpg", "a.MPEG", "VTS_01_1.VOB", "rec.ts", "00001.MTS", "00002.m2ts", "x.wmv",
                             "y.asf", "z.flv", "phone.3gp", "ogg.ogv", "AVSEQ01.DAT"})
        EXPECT_TRUE(matches(entries[0], QString::fromLatin1(name))) << name;
    for (const char* name : {"notes.txt", "song.mp3", "photo.jpg", "mp4"})
        EXPECT_FALSE(matches(entries[0], QString::fromLatin1(name))) << name;
    // The classic entry is unchanged.
    for (const char* name : {"a.avi", "b.MPG", "c.mpeg", "d.asf", "e.WMV", "f.dat"})
        EXPECT_TRUE(matches(entries[1], QString::fromLatin1(name))) << name;
    EXPECT_FALSE(matches(entries[1], QStringLiteral("g.mp4")));
}

TEST_F(MainWindowTest, CommandTable) {
    TMainForm& f = MakeForm();
    const QList<QAction*> bar = f.menuBar()->actions();
    ASSERT_EQ(bar.size(), 4);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("&Files"));
    EXPECT_EQ(bar[1]->text(), QStringLiteral("&Edit"));
    EXPECT_FALSE(bar[1]->isVisible());
    EXPECT_EQ(bar[2]->text(), QStringLiteral("&Play"));  // app/Playback
    EXPECT_EQ(bar[3]->text(), QStringLiteral("&Help"));

    const struct {
        QAction* Item;
        const char* Caption;
        QKeySequence Key;
        bool Visible, Enabled;
    } rows[] = {
        {f.Open1, "Open movie", {}, true, true},
        {f.Browsesourcefolder1, "Browse last source folder", {}, true, true},
        {f.Capturethisframe1, "Capture this frame", QKeySequence(Qt::Key_F8), false, false},
        {f.Startclipping1, "Start converting", QKeySequence(Qt::Key_F9), true, false},
        {f.Startcapturingframes1, "Start capturing images", QKeySequence(Qt::Key_F10), false, false},
        {f.Selectcapturedvideofolder1, "Select captured video folder", {}, true, true},
        {f.Browsevideofolder1, "Browse captured video folder", QKeySequence(Qt::Key_F5), true, true},
        {f.SelectImageFolder1, "Select captured image folder", {}, false, true},
        {f.BrowseImageFolder1, "Browse captured image folder", QKeySequence(Qt::Key_F6), false, true},
        {f.Exit2, "Exit", {}, true, true},
        {f.FrameNumber1, "Frame number", {}, true, true},
        {f.Timecode1, "Time code", {}, true, true},
        {f.ShowPreview1, "Show preview when clipping", QKeySequence(Qt::Key_F7), true, true},
        {f.Showresultwhenready1, "Show result when ready", {}, true, true},
        {f.Contents1, "Help contents", {}, true, true},
        {f.Index1, "Help index", {}, true, true},
        {f.Checkupdateautomatically1, "Automatic update check", {}, true, true},
        {f.Checkupdate1, "Check update", {}, true, true},
        {f.Emailsupport1, "E-mail support", {}, true, true},
        {f.About1, "About", {}, true, true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.Item->text(), QString::fromLatin1(r.Caption));
        EXPECT_EQ(r.Item->shortcut(), r.Key) << r.Caption;
        EXPECT_EQ(r.Item->isVisible(), r.Visible) << r.Caption;
        EXPECT_EQ(TMainForm::ItemEnabled(r.Item), r.Enabled) << r.Caption;
    }
    EXPECT_TRUE(f.Website1->text().startsWith(QStringLiteral("Website: ")));
    EXPECT_FALSE(f.sepImageFolder->isVisible());
    EXPECT_FALSE(f.Positionunit1->menuAction()->isVisible());
    EXPECT_EQ(f.Positionunit1->title(), QStringLiteral("Position unit..."));
    EXPECT_TRUE(f.Timecode1->isChecked());
    EXPECT_FALSE(f.FrameNumber1->isChecked());
    EXPECT_TRUE(f.ShowPreview1->isChecked());
    EXPECT_TRUE(f.Showresultwhenready1->isChecked());
    EXPECT_TRUE(f.Checkupdateautomatically1->isChecked());
    EXPECT_EQ(f.actSelStart->shortcut(), QKeySequence(Qt::Key_F2));
    EXPECT_EQ(f.actSelEnd->shortcut(), QKeySequence(Qt::Key_F3));

    // The Files menu in order, ending with Exit (no recent files yet).
    QStringList files;
    for (QAction* a : f.Files1->actions())
        files << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(files, (QStringList{"Open movie", "Browse last source folder", "-", "Capture this frame",
                                  "Start converting", "Start capturing images", "Add to queue", "Queue...", "-",
                                  "Select captured video folder",
                                  "Browse captured video folder", "-", "Select captured image folder",
                                  "Browse captured image folder", "-", "Exit"}));
}

TEST_F(MainWindowTest, SetCommandsEnabledOnMenusAndOnTheWindow) {
    TMainForm& f = MakeForm();
    f.SetCommandsEnabled(f.Edit1, false);
    EXPECT_FALSE(TMainForm::ItemEnabled(f.Positionunit1->menuAction()));
    EXPECT_FALSE(f.Timecode1->isEnabled());  // all levels
    EXPECT_FALSE(f.ShowPreview1->isEnabled());
    f.SetCommandsEnabled(f.Edit1, true);
    EXPECT_TRUE(f.Timecode1->isEnabled());

    f.SetCommandsEnabled(&f, true);
    EXPECT_TRUE(f.tbPosition->isEnabled());
    EXPECT_TRUE(f.sbExecute->isEnabled());
    f.SetCommandsEnabled(&f, false);
    for (QWidget* w : std::initializer_list<QWidget*>{f.tbPosition, f.sbExecute, f.sbOpenMovie, f.cbMode, f.sbLocStart})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(f.Open1->isEnabled());  // menus untouched
    EXPECT_TRUE(f.Exit2->isEnabled());
}

// ---------------------------------------------------------------- keys

TEST_F(MainWindowTest, KeysBeforeAMovieIsOpen) {
    TMainForm& f = MakeForm();
    f.cbMode->setCurrentIndex(2);
    Key(Qt::Key_F9);   // disabled: nothing
    Key(Qt::Key_F10);  // hidden and disabled: nothing
    Key(Qt::Key_F8);
    EXPECT_EQ(f.cbMode->currentIndex(), 2);
    EXPECT_TRUE(Prompts->Records.empty());

    Key(Qt::Key_F5);
    Key(Qt::Key_F6);  // hidden but enabled: still answers its key
    ASSERT_EQ(Opener->Requests.size(), 2u);
    EXPECT_EQ(Opener->Requests[0].Action, TDesktopAction::Explore);
    EXPECT_EQ(QDir(Opener->Requests[0].Target).canonicalPath(), QDir(f.VideoFolder).canonicalPath());
    EXPECT_EQ(QDir(Opener->Requests[1].Target).canonicalPath(), QDir(f.ImageFolder).canonicalPath());

    Key(Qt::Key_F7);  // in the hidden Edit menu
    EXPECT_FALSE(f.ShowPreview1->isChecked());
    Key(Qt::Key_F7);
    EXPECT_TRUE(f.ShowPreview1->isChecked());
    // A disabled menu above the item silences its key.
    TMainForm::SetItemEnabled(f.Edit1->menuAction(), false);
    Key(Qt::Key_F7);
    EXPECT_TRUE(f.ShowPreview1->isChecked());
    TMainForm::SetItemEnabled(f.Edit1->menuAction(), true);
    TMainForm::SetItemEnabled(f.BrowseImageFolder1, false);
    Key(Qt::Key_F6);
    EXPECT_EQ(Opener->Requests.size(), 2u);

    Key(Qt::Key_F2);  // no movie: the range stays
    EXPECT_EQ(f.tbPosition->SelStart(), 0);
    EXPECT_EQ(f.tbPosition->SelEnd(), 0);

    Key(Qt::Key_F1);
    THelpWindow* help = HelpWindowFor(ApplicationHelpFile());
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->Browser()->source().fileName(), QStringLiteral("index.html"));
}

TEST_F(MainWindowTest, KeysWithAMovieOpen) {
    TMainForm& f = MakeForm();
    ASSERT_TRUE(f.OpenMovie(MoviePath));
    Prompts->DefaultAnswer = TModalResult::Cancel;
    Prompts->FileAnswers.push_back(QString());  // a save dialog, if Start asks, is cancelled

    f.cbMode->setCurrentIndex(2);
    Key(Qt::Key_F9);
    EXPECT_EQ(f.cbMode->currentIndex(), 0);
    Key(Qt::Key_F10);
    EXPECT_EQ(f.cbMode->currentIndex(), 3);  // "Image captures"

    // F8 saves the frame at the position into the image folder.
    const QString folder = MovieDir + QStringLiteral("/shots/");
    QDir().mkpath(folder);
    f.ImageFolder = folder;
    Prompts->Records.clear();
    Key(Qt::Key_F8);
    // The snapshot is a job: its outcome shows when its end arrives.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Prompts->Texts().isEmpty(); }, 60000));
    const QStringList texts = Prompts->Texts();
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Image was saved as ") + folder)) << texts[0].toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 1);

    // F2 and F3 set the range; it never turns over.
    f.tbPosition->SetPosition(30);
    Key(Qt::Key_F2);
    EXPECT_EQ(f.tbPosition->SelStart(), 30);
    EXPECT_EQ(f.tbPosition->SelEnd(), 50);
    f.tbPosition->SetPosition(10);
    Key(Qt::Key_F3);
    EXPECT_EQ(f.tbPosition->SelStart(), 10);
    EXPECT_EQ(f.tbPosition->SelEnd(), 10);
    f.tbPosition->SetPosition(40);
    Key(Qt::Key_F3);
    Key(Qt::Key_F2);
    f.tbPosition->SetPosition(45);
    Key(Qt::Key_F2);
    EXPECT_EQ(f.tbPosition->SelStart(), 45);
    EXPECT_EQ(f.tbPosition->SelEnd(), 45);
    f.tbPosition->SetPosition(20);
    Key(Qt::Key_F2);
    EXPECT_EQ(f.tbPosition->SelStart(), 20);
    EXPECT_EQ(f.tbPosition->SelEnd(), 45);
    EXPECT_TRUE(f.tbPosition->toolTip().contains(QStringLiteral("20")));
    EXPECT_TRUE(f.tbPosition->toolTip().contains(QStringLiteral("45")));
    f.sbLocEnd->click();
    EXPECT_EQ(f.tbPosition->Position(), 45);
    f.sbLocStart->click();
    EXPECT_EQ(f.tbPosition->Position(), 20);

    // The track bar's keys: arrows one frame, page keys two.
    f.tbPosition->setFocus();
    QTest::keyClick(f.tbPosition, Qt::Key_Right);
    EXPECT_EQ(f.tbPosition->Position(), 21);
    QTest::keyClick(f.tbPosition, Qt::Key_PageUp);
    EXPECT_EQ(f.tbPosition->Position(), 23);

    // A format chosen with the mouse gives the keys back to the track bar:
    // Home and End then move the position, not the format.
    f.cbMode->setFocus();
    f.cbMode->setCurrentIndex(4);
    emit f.cbMode->activated(4);
    ASSERT_EQ(QApplication::focusWidget(), f.tbPosition);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
    EXPECT_EQ(f.tbPosition->Position(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    EXPECT_EQ(f.tbPosition->Position(), 50);
    EXPECT_EQ(f.cbMode->currentIndex(), 4);
}

// ---------------------------------------------------------------- window

TEST_F(MainWindowTest, ShrinkingSnapsBackToTheMinimum) {
    TMainForm& f = MakeForm();
    const struct {
        int W, H, ExpectW, ExpectH;
    } cases[] = {{500, 400, 620, 520}, {700, 300, 700, 520}, {300, 700, 620, 700}, {800, 600, 800, 600}};
    for (const auto& c : cases) {
        f.resize(c.W, c.H);
        QApplication::processEvents();
        EXPECT_EQ(f.width(), c.ExpectW) << c.W << "x" << c.H;
        EXPECT_EQ(f.height(), c.ExpectH) << c.W << "x" << c.H;
    }
}

TEST_F(MainWindowTest, UpdateTimerIsArmedOnTheFirstShowAndByTheMenuItemOnly) {
    TMainForm& f = MakeForm();
    ASSERT_TRUE(f.TimerUpdate->isActive());  // the first show arms it
    // It fires (the item unchecked here, so the pass asks nothing).
    f.Checkupdateautomatically1->setChecked(false);
    f.TimerUpdateTimer();
    ASSERT_FALSE(f.TimerUpdate->isActive());

    // Shown again, minimised and restored: not armed again, the check mark stays.
    const struct {
        const char* How;
        std::function<void()> Again;
    } showings[] = {
        {"hide and show", [&] { f.hide(); QApplication::processEvents(); f.show(); }},
        {"minimise and restore", [&] { f.showMinimized(); QApplication::processEvents(); f.showNormal(); }},
    };
    for (const auto& s : showings) {
        s.Again();
        QApplication::processEvents();
        EXPECT_TRUE(f.isVisible()) << s.How;
        EXPECT_FALSE(f.TimerUpdate->isActive()) << s.How;
        EXPECT_FALSE(f.Checkupdateautomatically1->isChecked()) << s.How;
    }
    // A timer stopped before it fired stays stopped as well.
    f.TimerUpdate->stop();
    f.hide();
    f.show();
    EXPECT_FALSE(f.TimerUpdate->isActive());

    // The menu item arms it, each way it is toggled, and stores the choice.
    for (bool on : {true, false}) {
        f.TimerUpdate->stop();
        f.Checkupdateautomatically1->trigger();
        EXPECT_EQ(f.Checkupdateautomatically1->isChecked(), on);
        EXPECT_TRUE(f.TimerUpdate->isActive()) << on;
        EXPECT_EQ(f.TimerUpdate->interval(), 5000);
        EXPECT_EQ(Stored(QStringLiteral("Preference"), QStringLiteral("Automatic update check")),
                  on ? QStringLiteral("1") : QStringLiteral("0"));
    }
    f.TimerUpdate->stop();
}

TEST_F(MainWindowTest, CloseIsRefusedWhileAConversionRenders) {
    TMainForm& f = MakeForm();
    f.SetJobState(TJobState::Converting);
    EXPECT_EQ(f.sbExecute->text(), QStringLiteral("Stop"));
    EXPECT_FALSE(f.close());
    // The render is asked to stop; the button still offers Stop.
    EXPECT_EQ(f.JobState(), TJobState::StoppingToClose);
    EXPECT_TRUE(f.StopRequested());
    EXPECT_EQ(f.sbExecute->text(), QStringLiteral("Stop"));
    EXPECT_TRUE(f.isVisible());
    f.Exit2->trigger();
    EXPECT_TRUE(f.isVisible());
    // Stop pressed then: the button says Start; closing is still refused.
    f.sbExecuteClick();
    EXPECT_EQ(f.JobState(), TJobState::Stopping);
    EXPECT_EQ(f.sbExecute->text(), QStringLiteral("Start"));
    f.Exit2->trigger();
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.StopRequested());
    f.SetJobState(TJobState::Idle);
    EXPECT_FALSE(f.StopRequested());
    f.Exit2->trigger();
    EXPECT_FALSE(f.isVisible());
}

// The job state: which states offer Stop, stop a render, and keep the window open.
TEST_F(MainWindowTest, JobStateDrivesTheButtonTheStopQuestionAndTheClose) {
    struct TCase {
        TJobState State;
        const char* Caption;
        bool StopRequested;
        bool ConversionUnderWay;
    };
    const TCase cases[] = {
        {TJobState::Idle, "Start", false, false},
        {TJobState::Converting, "Stop", false, true},
        {TJobState::Capturing, "Stop", false, false},
        {TJobState::Stopping, "Start", true, true},
        {TJobState::StoppingToClose, "Stop", true, true},
    };
    TMainForm& f = MakeForm();
    EXPECT_EQ(f.JobState(), TJobState::Idle);
    EXPECT_EQ(f.sbExecute->text(), QStringLiteral("Start"));
    for (const TCase& c : cases) {
        const int index = static_cast<int>(c.State);
        f.SetJobState(c.State);
        EXPECT_EQ(f.JobState(), c.State) << index;
        EXPECT_EQ(f.sbExecute->text(), QString::fromLatin1(c.Caption)) << index;
        EXPECT_EQ(f.StopRequested(), c.StopRequested) << index;
        EXPECT_EQ(f.ConversionUnderWay(), c.ConversionUnderWay) << index;
        bool canClose = true;
        f.FormCloseQuery(canClose);
        EXPECT_EQ(canClose, !c.ConversionUnderWay) << index;
    }
    f.SetJobState(TJobState::Idle);
}

TEST_F(MainWindowTest, CloseFromTheFrameClosesTheHelpWindowsExitDoesNot) {
    TMainForm& f = MakeForm();
    f.Contents1->trigger();
    ASSERT_EQ(VisibleHelpWindowCount(), 1);
    f.SetJobState(TJobState::Converting);
    EXPECT_FALSE(f.WMClose());  // refused, but the help went first
    EXPECT_EQ(VisibleHelpWindowCount(), 0);
    f.SetJobState(TJobState::Idle);
    f.Index1->trigger();
    THelpWindow* help = HelpWindowFor(ApplicationHelpFile());
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->IndexTabShown());
    f.Exit2->trigger();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(VisibleHelpWindowCount(), 1);
}

TEST_F(MainWindowTest, BusyAnimationCyclesEightFramesAndClearsWhenStopped) {
    TMainForm& f = MakeForm();
    f.tmAnimateTag = 1;
    for (int i = 0; i < 7; ++i)
        f.tmAnimateTimer();
    EXPECT_EQ(f.ImAnimateTag, 7);
    EXPECT_FALSE(f.IAnim->pixmap().isNull());
    EXPECT_TRUE(f.tmAnimate->isActive());
    f.tmAnimateTimer();
    EXPECT_EQ(f.ImAnimateTag, 0);  // wraps after the eighth
    f.tmAnimateTag = 0;
    f.tmAnimateTimer();
    EXPECT_TRUE(f.IAnim->pixmap().isNull());
    EXPECT_FALSE(f.tmAnimate->isActive());
    EXPECT_EQ(f.ImAnimateTag, 0);
}

// ---------------------------------------------------------------- preferences

TEST_F(MainWindowTest, FirstStartStoresEveryValueWithItsExactName) {
    TMainForm& f = MakeForm();
    const QString exeDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    EXPECT_EQ(f.ImageFolder, exeDir + QStringLiteral("Captures/"));
    EXPECT_EQ(f.VideoFolder, exeDir + QStringLiteral("Video/"));
    EXPECT_EQ(f.SourceFolder, exeDir + QStringLiteral("Video/"));
    EXPECT_TRUE(QFileInfo(f.ImageFolder).isDir());
    EXPECT_TRUE(QFileInfo(f.VideoFolder).isDir());
    EXPECT_EQ(f.OutputSettings.WMVSelected, QStringLiteral("{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}"));
    EXPECT_EQ(f.OutputSettings.VideoCompressorName, QStringLiteral("Cinepak by Radius"));
    EXPECT_TRUE(f.OutputSettings.AudioCompressorName.isEmpty());
    EXPECT_EQ(f.OutputSettings.FrameSizeIndex, 3);
    EXPECT_EQ(f.OutputSettings.OutputWidth, 320);
    EXPECT_EQ(f.OutputSettings.OutputHeight, 240);
    EXPECT_EQ(f.OutputSettings.AudioFormatIndex, 0);
    EXPECT_TRUE(f.OutputSettings.WithAudio);

    // The installation identifier is made once.
    const auto guid = Stored(QStringLiteral("Main"), QStringLiteral("GUID"));
    ASSERT_TRUE(guid.has_value());
    EXPECT_EQ(guid->size(), 38);
    EXPECT_EQ(*guid, f.InstallationId);

    f.SavePreferences();
    auto names = [](const QString& key) {
        QStringList n = THive::UserHive()->ValueNames(kRoot + key);
        n.sort(Qt::CaseSensitive);
        return n;
    };
    QStringList preference{"ImageFolder", "VideoFolder", "SourceFolder", "WMVSelected",
                           "Use timecode", "Show Preview", "Show Result"};
    QStringList last{"AVI video encoder", "AVI audio encoder", "Video format index", "Video width",
                     "Video Height", "PCM Mode", "With audio"};
    for (const QString& prefix : {QStringLiteral("MP4 "), QStringLiteral("WebM ")})
        for (const char* name : {"frame size index", "width", "height", "quality", "preset", "with audio",
                                 "audio bit rate"})
            last << prefix + QString::fromLatin1(name);
    for (const QString& prefix : {QStringLiteral("GIF "), QStringLiteral("WebP ")})
        for (const char* name : {"frame rate", "width", "loop", "dithering", "palette per scene", "quality"})
            last << prefix + QString::fromLatin1(name);
    preference.sort(Qt::CaseSensitive);
    last.sort(Qt::CaseSensitive);
    EXPECT_EQ(names(QStringLiteral("Preference")), preference);
    EXPECT_EQ(names(QStringLiteral("Last settings")), last);

    const struct {
        const char* Section;
        const char* Name;
        QString Value;
    } values[] = {
        {"Preference", "ImageFolder", f.ImageFolder},
        {"Preference", "WMVSelected", QStringLiteral("{0F10D9D3-3B04-4FB0-A3D3-88D4AC854ACC}")},
        {"Preference", "Use timecode", QStringLiteral("1")},
        {"Preference", "Show Preview", QStringLiteral("1")},
        {"Last settings", "AVI video encoder", QStringLiteral("Cinepak by Radius")},
        {"Last settings", "AVI audio encoder", QString()},
        {"Last settings", "Video format index", QStringLiteral("3")},
        {"Last settings", "Video width", QStringLiteral("320")},
        {"Last settings", "Video Height", QStringLiteral("240")},
        {"Last settings", "PCM Mode", QStringLiteral("0")},
        {"Last settings", "With audio", QStringLiteral("1")},
        {"Last settings", "MP4 frame size index", QStringLiteral("0")},
        {"Last settings", "MP4 width", QStringLiteral("0")},
        {"Last settings", "MP4 height", QStringLiteral("0")},
        {"Last settings", "MP4 quality", QStringLiteral("23")},
        {"Last settings", "MP4 preset", QStringLiteral("veryfast")},
        {"Last settings", "MP4 with audio", QStringLiteral("1")},
        {"Last settings", "MP4 audio bit rate", QStringLiteral("128")},
        {"Last settings", "WebM quality", QStringLiteral("33")},
        {"Last settings", "WebM preset", QStringLiteral("4")},
        {"Last settings", "WebM audio bit rate", QStringLiteral("96")},
    };
    for (const auto& v : values)
        EXPECT_EQ(Stored(QString::fromLatin1(v.Section), QString::fromLatin1(v.Name)).value_or(QStringLiteral("<missing>")),
                  v.Value)
            << v.Section << "/" << v.Name;

    // A second start keeps the identifier.
    Form.reset();
    TMainForm& again = MakeForm();
    EXPECT_EQ(again.InstallationId, *guid);
}

TEST_F(MainWindowTest, PreferencesRoundTripAndLoadRules) {
    {
        TMainForm& f = MakeForm();
        f.ImageFolder = MovieDir + QStringLiteral("/img/");
        f.OutputSettings.WMVSelected = QStringLiteral("{00000000-1111-2222-3333-444444444444}");
        f.OutputSettings.VideoCompressorName = QStringLiteral("MPEG-4 part 2 \u00e9");
        f.OutputSettings.AudioCompressorName = QStringLiteral("MP3");
        f.OutputSettings.FrameSizeIndex = 1;
        f.OutputSettings.OutputWidth = 640;
        f.OutputSettings.OutputHeight = 480;
        f.OutputSettings.AudioFormatIndex = 7;
        f.OutputSettings.WithAudio = false;
        f.Showresultwhenready1->setChecked(false);
        f.Timecode1Click(f.FrameNumber1);
    }  // destruction saves
    TMainForm& g = MakeForm();
    EXPECT_EQ(g.ImageFolder, MovieDir + QStringLiteral("/img/"));
    EXPECT_EQ(g.OutputSettings.WMVSelected, QStringLiteral("{00000000-1111-2222-3333-444444444444}"));
    EXPECT_EQ(g.OutputSettings.VideoCompressorName, QStringLiteral("MPEG-4 part 2 \u00e9"));
    EXPECT_EQ(g.OutputSettings.AudioCompressorName, QStringLiteral("MP3"));
    EXPECT_EQ(g.OutputSettings.FrameSizeIndex, 1);
    EXPECT_EQ(g.OutputSettings.OutputWidth, 640);
    EXPECT_EQ(g.OutputSettings.OutputHeight, 480);
    EXPECT_EQ(g.OutputSettings.AudioFormatIndex, 7);
    EXPECT_FALSE(g.OutputSettings.WithAudio);
    EXPECT_FALSE(g.Showresultwhenready1->isChecked());
    EXPECT_FALSE(g.Timecode1->isChecked());  // Use timecode "0": frame numbers
    EXPECT_TRUE(g.FrameNumber1->isChecked());
    EXPECT_EQ(Stored(QStringLiteral("Preference"), QStringLiteral("Use timecode")), QStringLiteral("0"));

    // F7 changes only the check mark; the next load restores the stored one.
    Key(Qt::Key_F7);
    EXPECT_FALSE(g.ShowPreview1->isChecked());
    g.LoadPreferences();
    EXPECT_TRUE(g.ShowPreview1->isChecked());

    // A folder value deleted from the store: the window keeps its folder and
    // the next save writes it back.
    const QString video = g.VideoFolder;
    THive::UserHive()->DeleteValue(kRoot + QStringLiteral("Preference"), QStringLiteral("VideoFolder"));
    g.LoadPreferences();
    EXPECT_EQ(g.VideoFolder, video);
    g.SavePreferences();
    EXPECT_EQ(Stored(QStringLiteral("Preference"), QStringLiteral("VideoFolder")), video);
}

TEST_F(MainWindowTest, WebClipChoicesSurviveARestartEachUnderItsOwnNames) {
    const TWebSettings mp4{6, 426, 240, 18, QStringLiteral("slow"), false, 192};
    const TWebSettings webm{2, 640, 480, 40, QStringLiteral("8"), true, 64};
    {
        TMainForm& f = MakeForm();
        f.OutputSettings.Mp4 = mp4;
        f.OutputSettings.WebM = webm;
    }
    Form.reset();  // destruction saves
    EXPECT_EQ(Stored(QStringLiteral("Last settings"), QStringLiteral("MP4 width")), QStringLiteral("426"));
    EXPECT_EQ(Stored(QStringLiteral("Last settings"), QStringLiteral("MP4 preset")), QStringLiteral("slow"));
    EXPECT_EQ(Stored(QStringLiteral("Last settings"), QStringLiteral("WebM frame size index")), QStringLiteral("2"));
    EXPECT_EQ(Stored(QStringLiteral("Last settings"), QStringLiteral("WebM audio bit rate")), QStringLiteral("64"));

    TMainForm& g = MakeForm();
    const struct {
        const char* Kind;
        const TWebSettings& Got;
        const TWebSettings& Want;
    } cases[] = {{"MP4", g.OutputSettings.Mp4, mp4}, {"WebM", g.OutputSettings.WebM, webm}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Kind);
        EXPECT_EQ(c.Got.FrameSizeIndex, c.Want.FrameSizeIndex);
        EXPECT_EQ(c.Got.Width, c.Want.Width);
        EXPECT_EQ(c.Got.Height, c.Want.Height);
        EXPECT_EQ(c.Got.Crf, c.Want.Crf);
        EXPECT_EQ(c.Got.Preset, c.Want.Preset);
        EXPECT_EQ(c.Got.WithAudio, c.Want.WithAudio);
        EXPECT_EQ(c.Got.AudioKbps, c.Want.AudioKbps);
    }
    // The AVI page's values are apart from them.
    EXPECT_EQ(g.OutputSettings.FrameSizeIndex, 3);
    EXPECT_EQ(g.OutputSettings.OutputWidth, 320);
    EXPECT_TRUE(g.OutputSettings.WithAudio);
}

TEST_F(MainWindowTest, BrokenStoredWebClipValuesFallBackToTheDefaults) {
    const QString last = QStringLiteral("Last settings");
    const auto text = [&](const char* name, const char* value) {
        ASSERT_TRUE(THive::UserHive()->WriteText(kRoot + last, QString::fromLatin1(name), QString::fromLatin1(value)));
    };
    // MP4: every value broken in its own way.
    text("MP4 frame size index", "6");
    text("MP4 width", "321");  // odd custom width
    text("MP4 height", "240");
    text("MP4 quality", "-5");
    text("MP4 preset", "ludicrous");
    text("MP4 with audio", "0");  // a good value among broken ones stays
    text("MP4 audio bit rate", "99999999999");
    // WebM: numbers that are no numbers, out of range, and a value of another type.
    text("WebM frame size index", "42");
    text("WebM width", "abc");
    text("WebM quality", "64");
    text("WebM preset", "veryfast");
    ASSERT_TRUE(THive::UserHive()->WriteValue(kRoot + last, QStringLiteral("WebM audio bit rate"),
                                             THiveValueType::Binary, QByteArray("\x01\x02", 2)));

    TMainForm& f = MakeForm();
    const TWebSettings mp4 = DefaultMp4Settings();
    EXPECT_EQ(f.OutputSettings.Mp4.FrameSizeIndex, mp4.FrameSizeIndex);
    EXPECT_EQ(f.OutputSettings.Mp4.Width, 0);
    EXPECT_EQ(f.OutputSettings.Mp4.Height, 0);
    EXPECT_EQ(f.OutputSettings.Mp4.Crf, mp4.Crf);
    EXPECT_EQ(f.OutputSettings.Mp4.Preset, mp4.Preset);
    EXPECT_FALSE(f.OutputSettings.Mp4.WithAudio);
    EXPECT_EQ(f.OutputSettings.Mp4.AudioKbps, mp4.AudioKbps);
    const TWebSettings webm = DefaultWebMSettings();
    EXPECT_EQ(f.OutputSettings.WebM.FrameSizeIndex, webm.FrameSizeIndex);
    EXPECT_EQ(f.OutputSettings.WebM.Width, 0);
    EXPECT_EQ(f.OutputSettings.WebM.Crf, webm.Crf);
    EXPECT_EQ(f.OutputSettings.WebM.Preset, webm.Preset);
    EXPECT_EQ(f.OutputSettings.WebM.AudioKbps, webm.AudioKbps);

    // The next save writes the good values over the broken ones.
    f.SavePreferences();
    EXPECT_EQ(Stored(last, QStringLiteral("MP4 preset")), QStringLiteral("veryfast"));
    EXPECT_EQ(Stored(last, QStringLiteral("MP4 width")), QStringLiteral("0"));
    EXPECT_EQ(Stored(last, QStringLiteral("WebM audio bit rate")), QStringLiteral("96"));
}

TEST_F(MainWindowTest, SelectingTheVideoFolderSavesItAndCancelKeepsIt) {
    TMainForm& f = MakeForm();
    const QString chosen = MovieDir + QStringLiteral("/out");
    QDir().mkpath(chosen);
    Prompts->FolderAnswers.push_back(chosen);
    f.Selectcapturedvideofolder1->trigger();
    EXPECT_EQ(f.VideoFolder, chosen + QLatin1Char('/'));
    EXPECT_EQ(Stored(QStringLiteral("Preference"), QStringLiteral("VideoFolder")), chosen + QLatin1Char('/'));
    Prompts->FolderAnswers.push_back(QString());
    f.Selectcapturedvideofolder1->trigger();
    EXPECT_EQ(f.VideoFolder, chosen + QLatin1Char('/'));
    const auto folderAsks = Prompts->RecordsOf(TPromptKind::FolderDialog);
    ASSERT_EQ(folderAsks.size(), 2u);
    EXPECT_EQ(folderAsks[0].Text, QStringLiteral("Select captured video folder"));
}

TEST_F(MainWindowTest, SettingsFolderThatCannotBeMadeStillStartsAndCloses) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    QFile plain(MovieDir + QStringLiteral("/plain-config"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    qputenv("XDG_CONFIG_HOME", (plain.fileName() + QStringLiteral("/config")).toUtf8());
    {
        TMainForm& f = MakeForm();
        EXPECT_EQ(f.InstallationId.size(), 38);  // made for this run
        // Opening works; saving the preferences fails with the store's message.
        Prompts->FileAnswers.push_back(MoviePath);
        Prompts->DefaultAnswer = TModalResult::Ok;
        f.Open1->trigger();
        EXPECT_EQ(f.MovieInfo.FrameCount, 50);
        EXPECT_EQ(ShownFrame(), 0);
        EXPECT_EQ(Prompts->Texts(), QStringList{QStringLiteral("Failed to create key Preference")});
        Form.reset();  // saving at the end fails quietly
    }
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST(DefaultFolders, BesideTheProgramWhenWritableElseInTheDataFolder) {
    const QString dir = QString::fromStdString(testmovie::MakeTempDir("folders"));
    const QString data = dir + QStringLiteral("/data/framewhisk/");
    EXPECT_EQ(ChooseDefaultFolderBase(dir + QStringLiteral("/bin"), data), dir + QStringLiteral("/bin/"));
    EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/bin/Captures")).isDir());
    EXPECT_TRUE(QFileInfo(dir + QStringLiteral("/bin/Video")).isDir());
    EXPECT_FALSE(QFileInfo::exists(data));

    // A program folder that cannot take folders (here: below a regular file,
    // as root ignores permissions) falls back to the user's data folder.
    QFile file(dir + QStringLiteral("/plain"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(ChooseDefaultFolderBase(dir + QStringLiteral("/plain/bin/"), data), data);
    EXPECT_TRUE(QFileInfo(data + QStringLiteral("Captures")).isDir());
    EXPECT_TRUE(QFileInfo(data + QStringLiteral("Video")).isDir());

    // An installed copy (its desktop file in place) never writes beside
    // itself, though its folder is writable here.
    const QString installedBin = dir + QStringLiteral("/usr/bin");
    const QString desktopFile = InstalledDesktopFileFor(installedBin);
    EXPECT_EQ(desktopFile, dir + QStringLiteral("/usr/share/applications/example.quillmont.Framewhisk.desktop"));
    ASSERT_TRUE(QDir().mkpath(installedBin));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(desktopFile).path()));
    QFile desktop(desktopFile);
    ASSERT_TRUE(desktop.open(QIODevice::WriteOnly));
    desktop.close();
    const QString installedData = dir + QStringLiteral("/home/data/framewhisk/");
    EXPECT_EQ(ChooseDefaultFolderBase(installedBin, installedData), installedData);
    EXPECT_TRUE(QDir(installedBin).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    EXPECT_TRUE(QFileInfo(installedData + QStringLiteral("Video")).isDir());

    qputenv("XDG_DATA_HOME", (dir + QStringLiteral("/xdg")).toUtf8());
    EXPECT_EQ(UserDataFolder(), dir + QStringLiteral("/xdg/framewhisk/"));
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(UserDataFolder(), QDir::homePath() + QStringLiteral("/.local/share/framewhisk/"));
    QDir(dir).removeRecursively();
}

// ---------------------------------------------------------------- movies

TEST(FitPreview, Examples) {
    const struct {
        uint16_t Aw, Ah;
        int Vw, Vh;
        uint16_t W, H;
    } cases[] = {
        {663, 376, 320, 240, 320, 240},   // fits: own size
        {663, 376, 720, 576, 470, 376},   // height tight
        {663, 376, 1280, 720, 663, 373},  // width tight
        {1900, 1000, 640, 480, 640, 480}, // fits: own size, however large the area
        {300, 200, 320, 240, 267, 200},   // equal-or-less ratio: height is tight
        {400, 100, 100, 200, 50, 100},    // height tight
        {100, 400, 200, 100, 100, 50},    // width tight
        {663, 376, 0, 0, 0, 0},           // no frame size: nothing
        {0, 0, 320, 240, 0, 0},
        {663, 376, 100000, 100000, 376, 376},
    };
    for (const auto& c : cases) {
        const TPreviewSize s = FitPreviewSize(c.Aw, c.Ah, c.Vw, c.Vh);
        EXPECT_EQ(s.Width, c.W) << c.Aw << "x" << c.Ah << " " << c.Vw << "x" << c.Vh;
        EXPECT_EQ(s.Height, c.H) << c.Aw << "x" << c.Ah << " " << c.Vw << "x" << c.Vh;
    }
}

TEST_F(MainWindowTest, OpeningAMovieShowsFrameZeroAndTheTexts) {
    TMainForm& f = MakeForm();
    ASSERT_TRUE(f.OpenMovie(MoviePath));
    EXPECT_TRUE(Prompts->Records.empty());
    EXPECT_EQ(f.MovieInfo.FrameRate, 25);
    EXPECT_EQ(f.MovieInfo.FrameCount, 50);
    EXPECT_EQ(f.MovieInfo.FrameWidth, 160);
    EXPECT_EQ(f.MovieInfo.FrameHeight, 120);
    EXPECT_EQ(f.tbPosition->maximum(), 50);
    EXPECT_EQ(f.tbPosition->SelStart(), 0);
    EXPECT_EQ(f.tbPosition->SelEnd(), 50);
    EXPECT_EQ(f.tbPosition->Position(), 0);
    EXPECT_TRUE(f.tbPosition->isEnabled());
    EXPECT_TRUE(f.sbExecute->isEnabled());
    EXPECT_TRUE(TMainForm::ItemEnabled(f.Capturethisframe1));
    EXPECT_TRUE(TMainForm::ItemEnabled(f.Startclipping1));
    EXPECT_TRUE(TMainForm::ItemEnabled(f.Startcapturingframes1));
    EXPECT_FALSE(f.Capturethisframe1->isVisible());

    EXPECT_EQ(ShownFrame(), 0);
    EXPECT_EQ(Picture().size(), QSize(160, 120));  // fits: own size
    EXPECT_EQ(PositionText(), QStringLiteral("Position: 0h:00m:00s:00ms"));
    EXPECT_EQ(f.SB1Panels[1]->text(), QStringLiteral("Duration: 0h:00m:02s:00ms"));
    EXPECT_EQ(f.SB1Panels[2]->text(), QStringLiteral("Filename: ") + MoviePath);
    EXPECT_EQ(f.odMovie.FileName, MoviePath);
    EXPECT_EQ(f.SourceFolder, MovieDir + QLatin1Char('/'));
    EXPECT_EQ(Stored(QStringLiteral("Preference"), QStringLiteral("SourceFolder")), MovieDir + QLatin1Char('/'));
    EXPECT_EQ(f.MostRecentFiles->Files(), QStringList{MoviePath});

    // Moving the bar shows that exact frame; the unit switch rewrites the text.
    f.tbPosition->SetPosition(17);
    QApplication::processEvents();
    EXPECT_EQ(ShownFrame(), 17);
    EXPECT_EQ(PositionText(), QStringLiteral("Position: ") + TimecodeText(17 * 2.0L / 50));
    f.FrameNumber1->trigger();
    EXPECT_EQ(PositionText(), QStringLiteral("Position: 17"));
    EXPECT_TRUE(f.FrameNumber1->isChecked());
    EXPECT_FALSE(f.Timecode1->isChecked());
    f.FrameNumber1->trigger();  // already checked: nothing changes
    EXPECT_TRUE(f.FrameNumber1->isChecked());
    f.Timecode1->trigger();
    EXPECT_TRUE(PositionText().startsWith(QStringLiteral("Position: 0h:00m:00s:")));
    // A stored unit that differs from the window's rewrites the text at the next load.
    THive::UserHive()->WriteText(kRoot + QStringLiteral("Preference"), QStringLiteral("Use timecode"), QStringLiteral("0"));
    f.LoadPreferences();
    EXPECT_EQ(PositionText(), QStringLiteral("Position: 17"));

    // A burst of moves shows the last one, without working through the
    // positions on the way (each of these jumps back would need a seek).
    const auto before = f.PreviewWorker->Stats();
    for (int i = 0; i < 20; ++i)
        f.tbPosition->SetPosition(i % 2 ? 45 : 3);
    f.tbPosition->SetPosition(40);
    QApplication::processEvents();
    EXPECT_EQ(ShownFrame(), 40);
    EXPECT_LE(f.PreviewWorker->Stats().Seeks - before.Seeks, 2u);

    // Opening the same file again keeps one entry; the bar goes back to 0.
    ASSERT_TRUE(f.OpenMovie(MoviePath));
    EXPECT_EQ(f.tbPosition->Position(), 0);
    EXPECT_EQ(ShownFrame(), 0);
    EXPECT_EQ(f.MostRecentFiles->Files().size(), 1);

    // A movie shorter than half a frame has a bar of one position: the text
    // still reads a time, not a division by zero.
    f.Timecode1Click(f.Timecode1);
    ASSERT_TRUE(f.Timecode1->isChecked());
    f.tbPosition->setMaximum(0);
    f.tbPositionChange();
    EXPECT_EQ(PositionText(), QStringLiteral("Position: ") + TimecodeText(0));
}

// A phone movie stored lying down with a display rotation: the window takes
// its frame size as shown, and the preview, the F8 snapshot and a capture
// batch all show it upright.
TEST_F(MainWindowTest, PhoneMovieIsUprightInThePreviewTheSnapshotAndCaptures) {
    testmovie::TMovieSpec s;
    s.Container = "mp4";
    s.VideoCodec = "mpeg4";
    s.Width = 160;
    s.Height = 96;
    s.Rotation = 90;
    s.Frames = 30;
    const QString phone = MovieDir + QStringLiteral("/phone.mp4");
    testmovie::MakeTestMovie(phone.toStdString(), s);

    TMainForm& f = MakeForm();
    ASSERT_TRUE(f.OpenMovie(phone));
    EXPECT_EQ(f.MovieInfo.FrameWidth, 96);
    EXPECT_EQ(f.MovieInfo.FrameHeight, 160);
    EXPECT_EQ(ShownFrame(), 0);
    EXPECT_EQ(Picture().size(), QSize(96, 160));
    f.tbPosition->SetPosition(13);
    EXPECT_EQ(ShownFrame(), 13);

    auto numberIn = [](const QString& path, int* w, int* h) {
        const TDecodedImage img = ReadPicture(path.toStdString());
        *w = img.Width;
        *h = img.Height;
        return img.Error.empty() ? testmovie::ReadFrameNumber(img.Rgb.data(), img.Width, img.Height) : -2;
    };
    const QString shots = MovieDir + QStringLiteral("/phone shots/");
    QDir(shots).removeRecursively();
    QDir().mkpath(shots);
    f.ImageFolder = shots;
    const qsizetype shown = Prompts->Texts().size();
    Key(Qt::Key_F8);
    // The snapshot is a job: its outcome shows when its end arrives.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Prompts->Texts().size() > shown; }, 60000));
    const QStringList saved = QDir(shots).entryList(QDir::Files);
    ASSERT_EQ(saved.size(), 1);
    int w = 0, h = 0;
    EXPECT_EQ(numberIn(shots + saved[0], &w, &h), 13);
    EXPECT_EQ(QSize(w, h), QSize(96, 160));

    // Samples of frames 6 .. 29 through the capture batch, as the window starts it.
    f.tbPosition->SetPosition(6);
    Key(Qt::Key_F2);
    f.SavePreferences();  // the batch reads the image folder from the preferences
    Prompts->ModalHandlers.push_back([](QDialog&) { return TModalResult::Ok; });  // the image settings
    Prompts->ModalHandlers.push_back([](QDialog& progress) {  // the batch runs while its dialog shows
        QEventLoop loop;
        QObject::connect(&progress, &QDialog::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        if (progress.isVisible()) loop.exec();
        return TModalResult::Ok;
    });
    f.cbMode->setCurrentIndex(3);
    f.sbExecute->click();
    const QStringList batches = QDir(shots).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(batches.size(), 1);
    const QString batch = shots + batches[0] + QLatin1Char('/');
    const QStringList images = QDir(batch).entryList(QDir::Files, QDir::Name);
    ASSERT_GE(images.size(), 3) << images.join(QLatin1Char(' ')).toStdString();
    int last = -1;
    for (const QString& image : images) {
        const int n = numberIn(batch + image, &w, &h);
        EXPECT_EQ(QSize(w, h), QSize(96, 160)) << image.toStdString();
        EXPECT_GT(n, last) << image.toStdString() << ": upright, in order";
        EXPECT_GE(n, 6);
        EXPECT_LT(n, 30);
        last = n;
    }
}

TEST_F(MainWindowTest, LargeFramesAreFittedAndFetchedAgainWhenTheAreaChanges) {
    testmovie::TMovieSpec s;
    s.Width = 1280;  // wider than any area: the width is the tight side
    s.Height = 200;
    s.Frames = 6;
    const QString path = MovieDir + QStringLiteral("/gro\u00df \u00e9t\u00e9.avi");
    testmovie::MakeTestMovie(QFile::encodeName(path).toStdString(), s);
    TMainForm& f = MakeForm();
    ASSERT_TRUE(f.OpenMovie(path));  // a name outside ASCII
    auto expected = [&f] {
        const TPreviewSize fit = FitPreviewSize(f.pBackground1->width(), f.pBackground1->height(), 1280, 200);
        return QSize(fit.Width, fit.Height);
    };
    const QSize first = Picture().size();
    EXPECT_EQ(first, expected());
    EXPECT_EQ(first.width(), f.pBackground1->width());
    EXPECT_EQ(ShownFrame(), 0);

    f.resize(1000, 600);  // the area's resize fetches the frame again
    QApplication::processEvents();
    const QSize wider = Picture().size();
    EXPECT_EQ(wider, expected());
    EXPECT_GT(wider.width(), first.width());
    f.tbPosition->SetPosition(5);
    QApplication::processEvents();
    EXPECT_EQ(ShownFrame(), 5);
    EXPECT_EQ(f.imPreview->alignment(), Qt::AlignCenter);
}

// A file that is no usable movie leaves the window exactly as it was: empty
// as at start when nothing was open, and otherwise with the movie open before
// fully usable (title, status bar, bar, preview, Start).
TEST_F(MainWindowTest, FilesWithoutVideoAreRefusedAndTheWindowStaysAsItWas) {
    const QString empty = MovieDir + QStringLiteral("/empty.mp4");
    QFile(empty).open(QIODevice::WriteOnly);
    // A video track without a single picture, beside some sound.
    const QString noPicture = MovieDir + QStringLiteral("/no picture.avi");
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i color=s=64x64 -f lavfi -i sine -frames:v 0 -t 1 "
                           "-c:v mpeg4 '" + noPicture.toStdString() + "'").c_str()),
              0);
    struct {
        QString Path;
        QString Message;
    } bad[] = {
        {AudioPath, QStringLiteral("Can not find the video stream in ") + AudioPath},
        {TextPath, QStringLiteral("Can not find the video stream in ") + TextPath},
        {empty, QStringLiteral("Can not find the video stream in ") + empty},
        {noPicture, QString()},  // no stream, or a stream without a picture: either message
    };
    const auto expectRefused = [&](const auto& b) {
        const QStringList texts = Prompts->Texts();
        ASSERT_EQ(texts.size(), 1) << b.Path.toStdString();
        if (b.Message.isEmpty())
            EXPECT_TRUE(texts[0] == QStringLiteral("Can not find the video stream in ") + b.Path ||
                        texts[0] == QStringLiteral("No picture can be decoded from the video stream in ") + b.Path)
                << texts[0].toStdString();
        else
            EXPECT_EQ(texts[0], b.Message);
    };

    TMainForm& f = MakeForm();
    EXPECT_FALSE(f.OpenMovie(MovieDir + QStringLiteral("/missing.avi")));  // silent
    EXPECT_FALSE(f.OpenMovie(MovieDir));                                  // a folder is no file
    EXPECT_TRUE(Prompts->Records.empty());
    EXPECT_FALSE(f.Startclipping1->isEnabled());

    // Nothing open: the window stays empty, as at start.
    const QString titleAtStart = f.windowTitle();
    for (const auto& b : bad) {
        Prompts->Records.clear();
        EXPECT_FALSE(f.OpenMovie(b.Path));
        expectRefused(b);
        for (QAction* item : {f.Capturethisframe1, f.Startclipping1, f.Startcapturingframes1})
            EXPECT_FALSE(TMainForm::ItemEnabled(item)) << item->text().toStdString();
        EXPECT_FALSE(f.tbPosition->isEnabled());
        EXPECT_FALSE(f.sbExecute->isEnabled());
        EXPECT_TRUE(Picture().isNull());
        EXPECT_EQ(f.windowTitle(), titleAtStart);
        EXPECT_TRUE(f.MovieInfo.FileName.isEmpty());
    }

    // A movie open: it stays open and usable after each refused file.
    ASSERT_TRUE(f.OpenMovie(MoviePath));
    f.tbPosition->SetPosition(12);
    QApplication::processEvents();
    ASSERT_EQ(ShownFrame(), 12);
    const QString title = f.windowTitle();
    for (const auto& b : bad) {
        Prompts->Records.clear();
        EXPECT_FALSE(f.OpenMovie(b.Path));
        expectRefused(b);
        EXPECT_EQ(f.MovieInfo.FileName, MoviePath);
        EXPECT_EQ(f.MovieInfo.FrameRate, 25);
        EXPECT_EQ(f.SB1Panels[2]->text(), QStringLiteral("Filename: ") + MoviePath);
        EXPECT_EQ(f.windowTitle(), title);
        EXPECT_TRUE(f.Startclipping1->isEnabled());
        EXPECT_TRUE(f.tbPosition->isEnabled());
        EXPECT_EQ(f.tbPosition->maximum(), 50);
    }
    // The bar still moves the preview, and Home goes to the first frame.
    f.tbPosition->SetPosition(30);
    QApplication::processEvents();
    EXPECT_EQ(ShownFrame(), 30);
    QTest::keyClick(f.tbPosition, Qt::Key_Home);
    QApplication::processEvents();
    EXPECT_EQ(ShownFrame(), 0);
    EXPECT_EQ(f.MostRecentFiles->Files(), QStringList{MoviePath});
}

TEST_F(MainWindowTest, OpenCommandAndRecentFiles) {
    TMainForm& f = MakeForm();
    Prompts->FileAnswers.push_back(MoviePath);
    f.Open1->trigger();
    auto asks = Prompts->RecordsOf(TPromptKind::FileDialog);
    ASSERT_EQ(asks.size(), 1u);
    // Nothing opened yet: the dialog starts in the source folder, at first "Video/".
    EXPECT_EQ(asks[0].FileRequest.InitialDir, QCoreApplication::applicationDirPath() + QStringLiteral("/Video/"));
    EXPECT_EQ(asks[0].FileRequest.Filter, kOpenMovieFilter);
    EXPECT_EQ(f.MovieInfo.FrameCount, 50);

    // The second time the dialog opens where the current file lies.
    Prompts->FileAnswers.push_back(QString());
    f.sbOpenMovie->click();
    asks = Prompts->RecordsOf(TPromptKind::FileDialog);
    ASSERT_EQ(asks.size(), 2u);
    EXPECT_TRUE(asks[1].FileRequest.InitialDir.isEmpty());
    EXPECT_EQ(asks[1].FileRequest.FileName, MoviePath);
    EXPECT_EQ(f.MovieInfo.FileName, MoviePath);  // cancel changes nothing

    // The recent file follows Exit in the Files menu.
    const QList<QAction*> items = f.Files1->actions();
    ASSERT_GE(items.size(), 18);
    EXPECT_EQ(items[15], f.Exit2);
    EXPECT_TRUE(items[16]->isSeparator());
    EXPECT_EQ(items[17]->text(), QStringLiteral("&1  ") + MoviePath);

    // While a job runs, neither command replaces the movie.
    Prompts->Records.clear();
    for (TJobState state : {TJobState::Converting, TJobState::Capturing, TJobState::Stopping,
                             TJobState::StoppingToClose}) {
        f.SetJobState(state);
        f.Open1->trigger();
        f.OpenRecentFile(nullptr, AudioPath);
        EXPECT_TRUE(Prompts->Records.empty()) << static_cast<int>(state);
        EXPECT_EQ(f.MovieInfo.FileName, MoviePath);
    }
    f.SetJobState(TJobState::Idle);

    f.OpenRecentFile(nullptr, MovieDir + QStringLiteral("/gone.avi"));
    EXPECT_EQ(Prompts->Texts(), QStringList{QStringLiteral("File ") + MovieDir + QStringLiteral("/gone.avi does not exists.")});
}

TEST_F(MainWindowTest, RecentFilesAreKeptAcrossRuns) {
    {
        TMainForm& f = MakeForm();
        ASSERT_TRUE(f.OpenMovie(MoviePath));
    }
    Form.reset();  // stores the list
    EXPECT_EQ(THive::UserHive()->ReadText(kRoot + QStringLiteral("Recent files"), QStringLiteral("MRU1")), MoviePath);
    TMainForm& g = MakeForm();
    EXPECT_EQ(g.MostRecentFiles->Files(), QStringList{MoviePath});
    QAction* item = g.Files1->actions().last();
    item->trigger();
    EXPECT_EQ(g.MovieInfo.FileName, MoviePath);
    EXPECT_EQ(g.MovieInfo.FrameCount, 50);
}

// HD and 4K movies at the window's first size: the preview is fetched at the
// fitted size (533 x 300 for 16:9), which once made the scaler write past the
// picture and brought the program down.
TEST_F(MainWindowTest, HdMoviesOpenAtTheFirstWindowSize) {
    TMainForm& f = MakeForm();
    for (auto [w, h] : {std::pair{1920, 1080}, {1280, 720}, {720, 405}, {672, 378}, {3840, 2160}, {1440, 1080}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        testmovie::TMovieSpec s;
        s.Container = "mp4";
        s.VideoCodec = "mpeg4";
        s.Width = w;
        s.Height = h;
        s.Frames = 4;
        const QString path = MovieDir + QStringLiteral("/hd%1x%2.mp4").arg(w).arg(h);
        testmovie::MakeTestMovie(QFile::encodeName(path).toStdString(), s);
        ASSERT_TRUE(f.OpenMovie(path));
        const TPreviewSize fit = FitPreviewSize(f.pBackground1->width(), f.pBackground1->height(), w, h);
        EXPECT_EQ(Picture().size(), QSize(fit.Width, fit.Height));
        EXPECT_EQ(ShownFrame(), 0);
        f.tbPosition->SetPosition(3);
        QApplication::processEvents();
        EXPECT_EQ(ShownFrame(), 3);
    }
}

// The preview decodes on a thread of its own: a drag asks for many frames
// while the window goes on; pictures of positions the bar has left never
// replace a newer one, and when the bar stops the exact frame of its
// position is what stays. A long group of pictures makes jumps slow enough
// to overlap.
TEST_F(MainWindowTest, DragAndJumpsEndOnTheExactFrame) {
    testmovie::TMovieSpec s;
    s.Container = "mp4";
    s.VideoCodec = "libx264";
    s.Width = 640;
    s.Height = 360;
    s.Frames = 250;
    s.GopSize = 250;
    s.MaxBFrames = 2;
    const QString path = MovieDir + QStringLiteral("/longgop.mp4");
    testmovie::MakeTestMovie(QFile::encodeName(path).toStdString(), s);
    TMainForm& f = MakeForm();
    ASSERT_TRUE(f.OpenMovie(path));
    EXPECT_EQ(ShownFrame(), 0);
    if (!f.FrameNumber1->isChecked())
        f.Timecode1Click(f.FrameNumber1);  // positions read as frame numbers

    struct TShown {
        int Position;
        bool Exact;
    };
    std::vector<TShown> shown;
    QObject::connect(&f, &TMainForm::PreviewShown, &f, [&](int position, bool exact) {
        shown.push_back({position, exact});
    });
    const std::vector<std::vector<int>> moves = {
        {5, 9, 14, 20, 27, 35, 44, 60, 90, 130, 180, 240},  // a drag forward
        {200, 150, 100, 60, 30, 12},                         // and back
        {249, 0, 173, 174, 175, 88},                         // jumps and steps
    };
    for (const auto& stretch : moves) {
        shown.clear();
        for (int p : stretch) {
            f.tbPosition->SetPosition(p);
            QApplication::processEvents();  // no waiting for pictures between moves
        }
        const int last = stretch.back();
        EXPECT_EQ(ShownFrame(), last);
        EXPECT_EQ(PositionText(), QStringLiteral("Position: %1").arg(last));
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown.back().Position, last);
        EXPECT_TRUE(shown.back().Exact);
        // Nothing older comes after the last position's first picture.
        bool reached = false;
        for (const TShown& e : shown) {
            if (e.Position == last) reached = true;
            else EXPECT_FALSE(reached) << "a picture for " << e.Position << " after one for " << last;
        }
    }
    // A step forward decodes on from where the preview is, without seeking.
    const auto before = f.PreviewWorker->Stats();
    f.tbPosition->SetPosition(89);
    EXPECT_EQ(ShownFrame(), 89);
    EXPECT_EQ(f.PreviewWorker->Stats().Seeks, before.Seeks);
}

TEST_F(MainWindowTest, RecentFilesAreStoredAsSoonAsAMovieOpens) {
    const QString second = MovieDir + QStringLiteral("/second.avi");
    testmovie::TMovieSpec s;
    s.Frames = 5;
    testmovie::MakeTestMovie(second.toStdString(), s);
    TMainForm& f = MakeForm();
    Prompts->FileAnswers.push_back(MoviePath);
    f.Open1->trigger();
    ASSERT_TRUE(f.OpenMovie(second));
    // Read straight from the store while the window lives on.
    const QString key = kRoot + QStringLiteral("Recent files");
    EXPECT_EQ(THive::UserHive()->ReadText(key, QStringLiteral("MRU1")), second);
    EXPECT_EQ(THive::UserHive()->ReadText(key, QStringLiteral("MRU2")), MoviePath);
    EXPECT_FALSE(THive::UserHive()->ValueExists(key, QStringLiteral("MRU3")));
    QFile::remove(second);
}

// ---------------------------------------------------------------- from outside

TEST(CommandLine, FileHelpVersionAndErrors) {
    using A = TCommandLine::TAction;
    const struct {
        QStringList Args;  // after the program's name
        A Action;
        QString File;
    } cases[] = {
        {{}, A::Run, ""},
        {{"clip.avi"}, A::Run, "clip.avi"},
        {{"/m/a b.avi", "/m/second.avi"}, A::Run, "/m/a b.avi"},  // several: the first
        {{"--help"}, A::Help, ""},
        {{"clip.avi", "-h"}, A::Help, ""},
        {{"--version"}, A::Version, ""},
        {{"--bogus", "-v"}, A::Version, ""},  // help and version win over errors
        {{"--", "-v"}, A::Run, "-v"},           // after "--" a name is a name
        {{"--", "--help"}, A::Run, "--help"},
        {{"-"}, A::Run, "-"},
        {{"--bogus", "clip.avi"}, A::Error, ""},
        {{"-x"}, A::Error, ""},
    };
    for (const auto& c : cases) {
        const TCommandLine cl = ParseCommandLine(QStringList{"framewhisk"} + c.Args);
        EXPECT_EQ(cl.Action, c.Action) << c.Args.join(' ').toStdString();
        EXPECT_EQ(cl.File, c.File) << c.Args.join(' ').toStdString();
    }
    EXPECT_TRUE(ParseCommandLine({"framewhisk", "--help"}).Text.contains(QStringLiteral("Usage: framewhisk")));
    EXPECT_EQ(ParseCommandLine({"framewhisk", "--version"}).Text, QStringLiteral("Framewhisk 1.3\n"));
    EXPECT_TRUE(ParseCommandLine({"framewhisk", "--bogus"}).Text.contains(QStringLiteral("'--bogus'")));
}

TEST_F(MainWindowTest, FileFromTheCommandLineOpensOnceTheWindowIsUp) {
    THive::TakeStartupNotice();  // one left by an earlier test would be shown first
    Form = std::make_unique<TMainForm>();
    TMainForm& f = *Form;
    f.StartUp(MoviePath);
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.MovieInfo.FileName.isEmpty());  // not before the window appears
    QApplication::setActiveWindow(&f);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.MovieInfo.FrameCount == 50; }));
    // The Open command's path: texts, preview, recent files (stored at once).
    EXPECT_TRUE(Prompts->Records.empty());
    EXPECT_EQ(ShownFrame(), 0);
    EXPECT_EQ(f.SB1Panels[2]->text(), QStringLiteral("Filename: ") + MoviePath);
    EXPECT_EQ(f.MostRecentFiles->Files(), QStringList{MoviePath});
    EXPECT_EQ(THive::UserHive()->ReadText(kRoot + QStringLiteral("Recent files"), QStringLiteral("MRU1")), MoviePath);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Framewhisk - clip one.avi"));

    // A file that is not there is said so, as for a recent file.
    Form.reset();
    Form = std::make_unique<TMainForm>();
    Prompts->DefaultAnswer = TModalResult::Ok;
    const QString gone = MovieDir + QStringLiteral("/gone.avi");
    Form->StartUp(gone);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Prompts->Records.empty(); }));
    EXPECT_EQ(Prompts->Texts(), QStringList{QStringLiteral("File ") + gone + QStringLiteral(" does not exists.")});
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Framewhisk"));
}

TEST_F(MainWindowTest, DroppedMovieOpensTheFirstFile) {
    TMainForm& f = MakeForm();
    auto mime = [](const QList<QUrl>& urls) {
        auto data = std::make_unique<QMimeData>();
        data->setUrls(urls);
        return data;
    };
    auto enter = [&f](QMimeData* data) {
        QDragEnterEvent e(QPoint(100, 100), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f, &e);
        return e.isAccepted();
    };
    // As a drag does: it enters, then drops.
    auto drop = [&f, &enter](QMimeData* data) {
        enter(data);
        QDropEvent e(QPointF(100, 100), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f, &e);
        return e.isAccepted();
    };
    EXPECT_TRUE(f.acceptDrops());

    // Addresses that are no local files, and folders, are not taken.
    auto web = mime({QUrl(QStringLiteral("http://www.example.com/clip.avi")), QUrl::fromLocalFile(MovieDir)});
    EXPECT_FALSE(enter(web.get()));
    EXPECT_FALSE(drop(web.get()));
    EXPECT_TRUE(f.MovieInfo.FileName.isEmpty());

    // Several files: the first opens, on the Open command's path.
    auto two = mime({QUrl(QStringLiteral("https://example.com/x")), QUrl::fromLocalFile(MoviePath),
                     QUrl::fromLocalFile(AudioPath)});
    EXPECT_TRUE(enter(two.get()));
    EXPECT_TRUE(drop(two.get()));
    EXPECT_EQ(f.MovieInfo.FileName, MoviePath);
    EXPECT_EQ(f.MovieInfo.FrameCount, 50);
    EXPECT_TRUE(Prompts->Records.empty());
    EXPECT_EQ(f.MostRecentFiles->Files(), QStringList{MoviePath});
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Framewhisk - clip one.avi"));

    // A file without video gets the Open command's message.
    auto audio = mime({QUrl::fromLocalFile(AudioPath)});
    EXPECT_TRUE(drop(audio.get()));
    EXPECT_EQ(Prompts->Texts(), QStringList{QStringLiteral("Can not find the video stream in ") + AudioPath});

    // While a job runs, a drop replaces nothing.
    Prompts->Records.clear();
    ASSERT_TRUE(f.OpenMovie(MoviePath));
    f.SetJobState(TJobState::Converting);
    drop(audio.get());
    f.SetJobState(TJobState::Idle);
    EXPECT_EQ(f.MovieInfo.FileName, MoviePath);
    EXPECT_TRUE(Prompts->Records.empty());
}

TEST_F(MainWindowTest, OpenedMovieFocusesTheTrackBarAndNamesTheTitle) {
    TMainForm& f = MakeForm();
    f.sbOpenMovie->setFocus();
    ASSERT_TRUE(f.OpenMovie(MoviePath));
    EXPECT_TRUE(f.tbPosition->hasFocus());
    EXPECT_EQ(QApplication::focusWidget(), f.tbPosition);
    // The focus shows: the bar looks different from the same bar unfocused.
    f.tbPosition->SetPosition(0);
    const QImage focused = f.tbPosition->grab().toImage();
    f.sbOpenMovie->setFocus();
    EXPECT_NE(f.tbPosition->grab().toImage(), focused);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Framewhisk - clip one.avi"));

    // Keys reach the bar at once.
    f.tbPosition->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(f.tbPosition->Position(), 1);

    // A name with spaces and non-ASCII characters; the program's name stays first.
    const QString other = MovieDir + QStringLiteral("/\u00e9t\u00e9 clip.avi");
    testmovie::TMovieSpec s;
    s.Frames = 5;
    testmovie::MakeTestMovie(QFile::encodeName(other).toStdString(), s);
    f.sbOpenMovie->setFocus();
    ASSERT_TRUE(f.OpenMovie(other));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Framewhisk - \u00e9t\u00e9 clip.avi"));
    EXPECT_TRUE(f.tbPosition->hasFocus());
    QFile::remove(other);
}

TEST_F(MainWindowTest, DesktopThatCannotOpenSomethingIsSaidSo) {
    TMainForm& f = MakeForm();
    Opener->Result = false;  // no file manager, browser or mail program
    const struct {
        QAction* Item;
        QString Message;
    } cases[] = {
        {f.Browsevideofolder1, QStringLiteral("No file manager could be started to show the folder ") + f.VideoFolder + "."},
        {f.Browsesourcefolder1, QStringLiteral("No file manager could be started to show the folder ") + f.SourceFolder + "."},
        {f.Emailsupport1, QStringLiteral("No e-mail program could be started. Please write to support@quillmont.example.")},
        {f.Website1, QStringLiteral("No web browser could be started to open http://www.quillmont.example/.")},
    };
    for (const auto& c : cases) {
        Prompts->Records.clear();
        c.Item->trigger();
        EXPECT_EQ(Prompts->Texts(), QStringList{c.Message}) << c.Item->objectName().toStdString();
    }
    // The key of a folder command says so too; a working desktop says nothing.
    Prompts->Records.clear();
    Key(Qt::Key_F5);
    EXPECT_EQ(Prompts->Texts().size(), 1);
    Opener->Result = true;
    Prompts->Records.clear();
    f.Browsevideofolder1->trigger();
    f.Website1->trigger();
    EXPECT_TRUE(Prompts->Records.empty());
    // A failure the real opener learns of later arrives the same way.
    ReportDesktopFailure({TDesktopAction::Play, MoviePath});
    EXPECT_EQ(Prompts->Texts(), QStringList{QStringLiteral("No media player could be started to play ") + MoviePath + "."});
}

TEST_F(MainWindowTest, EveryRealSampleOpensOrIsRefusedWithItsMessage) {
    TMainForm& f = MakeForm();
    const QDir samples(QStringLiteral(FW_MEDIA_SAMPLES));
    const QStringList files = samples.entryList(QDir::Files, QDir::Name);
    if (files.isEmpty())
        GTEST_SKIP() << "no samples in " << FW_MEDIA_SAMPLES;
    int opened = 0;
    for (const QString& name : files) {
        if (name == QStringLiteral("MANIFEST.tsv") || name == QStringLiteral("PROBE.txt"))
            continue;
        const QString path = samples.filePath(name);
        Prompts->Records.clear();
        if (f.OpenMovie(path)) {
            ++opened;
            EXPECT_TRUE(Prompts->Records.empty()) << name.toStdString();
            EXPECT_GT(f.MovieInfo.FrameRate, 0) << name.toStdString();
            EXPECT_EQ(f.tbPosition->maximum(), f.MovieInfo.FrameCount) << name.toStdString();
            EXPECT_TRUE(f.SB1Panels[1]->text().startsWith(QStringLiteral("Duration: "))) << name.toStdString();
            // The middle and the last position: a picture or the old one, never a crash.
            for (int p : {f.tbPosition->maximum() / 2, f.tbPosition->maximum()}) {
                f.tbPosition->SetPosition(p);
                QApplication::processEvents();
            }
            if (!Picture().isNull()) {
                EXPECT_TRUE(PositionText().startsWith(QStringLiteral("Position: "))) << name.toStdString();
            }
        } else {
            // Refused with its message; the movie open before stays open.
            const QStringList texts = Prompts->Texts();
            ASSERT_EQ(texts.size(), 1) << name.toStdString();
            EXPECT_TRUE(texts[0] == QStringLiteral("Can not find the video stream in ") + path ||
                        texts[0] == QStringLiteral("No picture can be decoded from the video stream in ") + path)
                << name.toStdString() << ": " << texts[0].toStdString();
            EXPECT_NE(f.MovieInfo.FileName, path);
        }
    }
    EXPECT_GT(opened, 20);

    // For the README: the window with a movie open, when asked for.
    const QString shot = qEnvironmentVariable("FW_SCREENSHOT");
    if (!shot.isEmpty() && f.OpenMovie(samples.filePath(QStringLiteral("fate_toon.avi")))) {
        f.tbPosition->SetPosition(f.tbPosition->maximum() / 3);
        QApplication::processEvents();
        f.grab().save(shot);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    ReleaseHelpWindows();
    return rc;
}
