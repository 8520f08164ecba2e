// Playback in the main window, headless and without a sound server (the
// movie plays silently): the keys, the bar and the position text following
// the frame on screen, the exact frame on pause, the marked range and its
// loop, scrubbing while playing, a job stopping it, full screen, a click on
// the bar, the range text, and volume and mute kept in the settings.
#include "app/Main.h"
#include "app/Playback.h"
#include "app/TrackBar.h"

#include "ScriptedPrompts.h"
#include "TestMovie.h"
#include "platform/Hive.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLayout>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kRoot = QStringLiteral("\\Software\\Quillmont\\Framewhisk\\");

class PlaybackWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // No sound server: the window plays silently.
        setenv("PULSE_SERVER", "unix:/nonexistent/fw-no-sound", 1);
        setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
        MovieDir = QString::fromStdString(testmovie::MakeTempDir("playwin"));
        testmovie::TMovieSpec s;  // AVI, MJPEG, 160 x 120, 25 fps
        s.Frames = 150;
        s.AudioCodec = "pcm_s16le";
        MoviePath = MovieDir + QStringLiteral("/play me.avi");
        testmovie::MakeTestMovie(MoviePath.toStdString(), s);
    }
    static void TearDownTestSuite() { QDir(MovieDir).removeRecursively(); }
    void SetUp() override {
        THive::UserHive()->DeleteKey(kRoot);
        Prompts->DefaultModalResult = TModalResult::Cancel;
    }
    void TearDown() override { Form.reset(); }

    TMainForm& MakeForm() {
        Form.reset();
        Form = std::make_unique<TMainForm>();
        Form->show();
        QApplication::setActiveWindow(Form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        Play = Form->findChild<TPlayback*>();
        EXPECT_NE(Play, nullptr);
        QObject::connect(Play, &TPlayback::FrameShown, Play, [this](int frame, bool exact) {
            Frames.push_back(frame);
            if (exact) LastExact = frame;
        });
        return *Form;
    }
    bool OpenMovie() {
        const bool ok = Form->OpenMovie(MoviePath);
        // The player opens on its own thread and shows frame 0 exactly.
        return ok && WaitFor([&] { return LastExact == 0; });
    }
    // Runs the window's events until `done` or 20 s.
    bool WaitFor(const std::function<bool()>& done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 20000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        return done();
    }
    void Key(int key) { QTest::keyClick(Form.get(), Qt::Key(key & ~Qt::KeyboardModifierMask), Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask)); }
    void Settle() {
        WaitFor([&] { return Form->PreviewSettled(); });
        QApplication::processEvents();
    }
    int ShownFrame() {
        Settle();
        const QImage img = Form->imPreview->pixmap().toImage().convertToFormat(QImage::Format_RGB888);
        std::vector<uint8_t> rgb(static_cast<std::size_t>(img.width()) * img.height() * 3);
        for (int y = 0; y < img.height(); ++y)
            memcpy(rgb.data() + static_cast<std::size_t>(y) * img.width() * 3, img.constScanLine(y), img.width() * 3);
        return testmovie::ReadFrameNumber(rgb.data(), img.width(), img.height());
    }

    static inline QString MovieDir, MoviePath;
    TScriptedPromptsInstaller Prompts;
    std::unique_ptr<TMainForm> Form;
    TPlayback* Play = nullptr;
    std::vector<int> Frames;
    int LastExact = -1;
};

// Space plays, the bar and the position text follow; Space again pauses on
// the exact frame of the position (the preview's own picture of it).
TEST_F(PlaybackWindowTest, SpacePlaysAndPausesOnTheExactFrame) {
    TMainForm& f = MakeForm();
    ASSERT_TRUE(OpenMovie());
    const QString atStart = f.SB1Panels[0]->text();
    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return f.tbPosition->Position() >= 10; }));
    EXPECT_TRUE(Play->Playing());
    EXPECT_NE(f.SB1Panels[0]->text(), atStart);
    LastExact = -1;
    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return LastExact >= 10 && !Play->Playing(); }));
    EXPECT_EQ(f.tbPosition->Position(), LastExact);
    EXPECT_EQ(ShownFrame(), LastExact);
    EXPECT_EQ(f.PreviewBitmap->Width, f.imPreview->pixmap().width());
}

// L: 1x, 2x, 4x; J: backward; K pauses; Shift+arrows a second; Ctrl+arrows a
// key frame (every frame of this movie is one).
TEST_F(PlaybackWindowTest, KeysSetDirectionSpeedAndSteps) {
    TMainForm& f = MakeForm();
    ASSERT_TRUE(OpenMovie());
    f.tbPosition->SetPosition(50);
    Settle();
    Key(Qt::Key_L);
    EXPECT_EQ(Play->Speed(), 1);
    Key(Qt::Key_L);
    EXPECT_EQ(Play->Speed(), 2);
    Key(Qt::Key_L);
    EXPECT_EQ(Play->Speed(), 4);
    ASSERT_TRUE(WaitFor([&] { return f.tbPosition->Position() >= 70; }));
    Key(Qt::Key_J);
    EXPECT_EQ(Play->Speed(), -1);
    const int turned = f.tbPosition->Position();
    ASSERT_TRUE(WaitFor([&] { return f.tbPosition->Position() < turned - 3; }));
    Key(Qt::Key_K);
    ASSERT_TRUE(WaitFor([&] { return !Play->Playing() && LastExact == f.tbPosition->Position(); }));

    f.tbPosition->SetPosition(40);
    Settle();
    Key(Qt::SHIFT | Qt::Key_Right);
    EXPECT_EQ(f.tbPosition->Position(), 65);
    Key(Qt::SHIFT | Qt::Key_Left);
    Key(Qt::SHIFT | Qt::Key_Left);
    EXPECT_EQ(f.tbPosition->Position(), 15);
    Settle();
    LastExact = -1;
    Key(Qt::CTRL | Qt::Key_Right);
    ASSERT_TRUE(WaitFor([&] { return LastExact >= 0; }));
    EXPECT_EQ(f.tbPosition->Position(), 16);
}

// P plays the marked range and stops on its last frame; with the loop it
// starts again at the range's start. The range is shown as text.
TEST_F(PlaybackWindowTest, MarkedRangePlaysOnceOrInALoop) {
    TMainForm& f = MakeForm();
    ASSERT_TRUE(OpenMovie());
    f.tbPosition->SetSelStart(20);
    f.tbPosition->SetSelEnd(30);
    EXPECT_TRUE(Play->lbRange->text().contains(QStringLiteral("10 frames"))) << Play->lbRange->text().toStdString();
    // The range's text never squeezes the position and duration panels, nor
    // makes the window wider than its size at start.
    Play->lbRange->setText(Play->lbRange->text() + QStringLiteral(" (a long range text)"));
    f.SB1->layout()->activate();
    EXPECT_LE(f.minimumSizeHint().width(), 671);
    EXPECT_LE(f.SB1->minimumSizeHint().width(), 671);
    Frames.clear();
    Key(Qt::Key_P);
    ASSERT_TRUE(WaitFor([&] { return LastExact == 29 && !Play->Playing(); }));
    EXPECT_EQ(f.tbPosition->Position(), 29);
    EXPECT_EQ(*std::min_element(Frames.begin(), Frames.end()), 20);
    EXPECT_EQ(*std::max_element(Frames.begin(), Frames.end()), 29);

    Play->actLoop->setChecked(true);
    Frames.clear();
    Key(Qt::Key_P);
    ASSERT_TRUE(WaitFor([&] { return std::count(Frames.begin(), Frames.end(), 20) >= 2; }));
    Key(Qt::Key_K);
    ASSERT_TRUE(WaitFor([&] { return !Play->Playing(); }));
    EXPECT_EQ(*std::max_element(Frames.begin(), Frames.end()), 29);
}

// Moving the bar while playing jumps there and plays on; a job stops playing.
TEST_F(PlaybackWindowTest, ScrubWhilePlayingAndAJobStopsIt) {
    TMainForm& f = MakeForm();
    ASSERT_TRUE(OpenMovie());
    Key(Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return f.tbPosition->Position() >= 3; }));
    f.tbPosition->SetPosition(100);
    ASSERT_TRUE(WaitFor([&] { return f.tbPosition->Position() >= 105; }));
    EXPECT_TRUE(Play->Playing());
    f.SetJobState(TJobState::Converting);
    ASSERT_TRUE(WaitFor([&] { return !Play->Playing(); }));
    f.SetJobState(TJobState::Idle);
}

// A click on the bar jumps to the clicked place; F11 and a double-click show
// the movie full screen, Esc comes back.
TEST_F(PlaybackWindowTest, ClickOnBarJumpsAndFullScreenComesAndGoes) {
    TMainForm& f = MakeForm();
    ASSERT_TRUE(OpenMovie());
    QTest::mouseClick(f.tbPosition, Qt::LeftButton, {}, QPoint(f.tbPosition->width() * 3 / 4, f.tbPosition->height() / 2));
    EXPECT_NEAR(f.tbPosition->Position(), 150 * 3 / 4, 150 / 10);
    Key(Qt::Key_F11);
    EXPECT_TRUE(Play->FullScreen());
    Key(Qt::Key_Escape);
    EXPECT_FALSE(Play->FullScreen());
    QTest::mouseDClick(f.imPreview, Qt::LeftButton);
    EXPECT_TRUE(Play->FullScreen());
    Play->LeaveFullScreen();
    EXPECT_FALSE(Play->FullScreen());
}

// Volume and mute are stored and come back in the next window.
TEST_F(PlaybackWindowTest, VolumeAndMuteAreKept) {
    MakeForm();
    Play->sldVolume->setValue(40);
    Play->actMute->setChecked(true);
    MakeForm();
    EXPECT_EQ(Play->sldVolume->value(), 40);
    EXPECT_TRUE(Play->actMute->isChecked());
    EXPECT_EQ(THive::UserHive()->ReadText(kRoot + QStringLiteral("Playback"), QStringLiteral("Volume")).value_or(QString()),
              QStringLiteral("40"));
}

}  // namespace

// With no sound device the window says why in the status bar, and that
// passing message is not hidden behind the range's text.
TEST_F(PlaybackWindowTest, WhyThereIsNoSoundCanBeRead) {
    TMainForm& f = MakeForm();
    ASSERT_TRUE(OpenMovie());
    f.tbPosition->SetSelStart(20);
    f.tbPosition->SetSelEnd(30);
    ASSERT_TRUE(WaitFor([&] { return !f.SB1->currentMessage().isEmpty(); })) << "no message about the sound";
    EXPECT_TRUE(f.SB1->currentMessage().contains(QStringLiteral("without sound"))) << f.SB1->currentMessage().toStdString();
    EXPECT_TRUE(Play->lbRange->isHidden());
    f.SB1->clearMessage();
    EXPECT_FALSE(Play->lbRange->isHidden());
}
