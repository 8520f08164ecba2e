// The timeline view in a window: it fills in while the event loop runs on
// (built off the window's thread, the view first), comes back whole from the
// cache, zooms around the mouse down to exact frames, pans, and a click
// moves the position; the main window stores the choice of its parts.
#include "app/Main.h"
#include "app/TimelineView.h"
#include "app/TrackBar.h"

#include "ScriptedPrompts.h"
#include "TestMovie.h"
#include "platform/Hive.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

class TimelineViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = QString::fromStdString(testmovie::MakeTempDir("tlview"));
        testmovie::TMovieSpec s;
        s.Container = "matroska";
        s.VideoCodec = "libx264";
        s.AudioCodec = "aac";
        s.Frames = 250;
        s.GopSize = 10;
        s.Width = 160;
        s.Height = 90;
        s.ToneBursts = {{2.0, 4.0}};
        Movie = Dir + QStringLiteral("/clip.mkv");
        testmovie::MakeTestMovie(Movie.toStdString(), s);
    }
    static void TearDownTestSuite() { QDir(Dir).removeRecursively(); }

    void SetUp() override {
        Cache = Dir + QStringLiteral("/cache-") + QString::number(++Run);
        View = std::make_unique<TTimelineView>();
        View->resize(800, View->sizeHint().height());
        View->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(View.get()));
    }
    void TearDown() override { View.reset(); }

    bool WaitComplete(TTimelineView& view) {
        return QTest::qWaitFor([&] { return view.Complete(); }, 60000);
    }

    static QString Dir, Movie;
    static int Run;
    QString Cache;
    std::unique_ptr<TTimelineView> View;
};
QString TimelineViewTest::Dir, TimelineViewTest::Movie;
int TimelineViewTest::Run = 0;

// The window's event loop runs on while the timeline is built: OpenMovie
// returns before anything is there, timer events keep coming between the
// build's events, and everything arrives.
TEST_F(TimelineViewTest, EventLoopRunsWhileBuilding) {
    int ticks = 0, ticksBetweenPictures = 0, lastThumbs = 0;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    QObject::connect(View.get(), &TTimelineView::Changed, [&] {
        if (View->KeyThumbs() > lastThumbs && ticks > 0) ++ticksBetweenPictures;
        lastThumbs = View->KeyThumbs();
        ticks = 0;
    });
    timer.start();
    View->OpenMovie(Movie, 250, 25, Cache);
    EXPECT_EQ(View->KeyThumbs(), 0) << "nothing is built on the window's thread";
    EXPECT_FALSE(View->Complete());
    ASSERT_TRUE(WaitComplete(*View));
    const int keys = int(View->KeyFrames().size());
    EXPECT_GE(keys, 25);  // a key frame every 10 frames, and where the encoder saw a new scene
    EXPECT_EQ(View->KeyThumbs(), keys);
    EXPECT_TRUE(View->HasWaveform());
    EXPECT_GT(ticksBetweenPictures, 0) << "timer events were served while thumbnails came";
    EXPECT_FALSE(View->BuiltFromCache());

    // A second view of the same movie has it all from the cache at once.
    TTimelineView again;
    again.resize(800, again.sizeHint().height());
    again.OpenMovie(Movie, 250, 25, Cache);
    ASSERT_TRUE(WaitComplete(again));
    EXPECT_TRUE(again.BuiltFromCache());
    EXPECT_EQ(again.KeyThumbs(), keys);
    EXPECT_TRUE(again.HasWaveform());
}

TEST_F(TimelineViewTest, ZoomAroundTheMouseDownToExactFrames) {
    View->OpenMovie(Movie, 250, 25, Cache);
    ASSERT_TRUE(WaitComplete(*View));
    const int x = 300;
    const double under = View->FrameAtX(x);
    // Ctrl+wheel zooms in, keeping the frame under the mouse.
    QWheelEvent wheel(QPointF(x, 10), View->mapToGlobal(QPointF(x, 10)), QPoint(), QPoint(0, 120 * 4), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(View.get(), &wheel);
    EXPECT_GT(View->Zoom(), 2.0);
    EXPECT_NEAR(View->FrameAtX(x), under, 0.01);
    // Zoomed in as far as it goes, each frame has its own exact thumbnail.
    View->ZoomAround(x, 1e6);
    EXPECT_DOUBLE_EQ(View->Zoom(), View->MaxZoom());
    EXPECT_NEAR(View->FrameAtX(x), under, 0.01);
    ASSERT_TRUE(QTest::qWaitFor([&] { return View->ExactThumbs() >= int(View->VisibleFrames()); }, 60000));
    // The minus key zooms out again; the plain wheel pans.
    View->setFocus();
    QTest::keyClick(View.get(), Qt::Key_Minus);
    EXPECT_NEAR(View->Zoom(), View->MaxZoom() / 2, 1e-6);
    const double first = View->FirstFrame();
    QWheelEvent pan(QPointF(x, 10), View->mapToGlobal(QPointF(x, 10)), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(View.get(), &pan);
    EXPECT_GT(View->FirstFrame(), first);
    // Zoomed out fully, the view is the whole movie again.
    View->ZoomAround(x, 1e-6);
    EXPECT_DOUBLE_EQ(View->Zoom(), 1.0);
    EXPECT_DOUBLE_EQ(View->FirstFrame(), 0.0);
}

TEST_F(TimelineViewTest, ClickMovesThePositionDragPans) {
    View->OpenMovie(Movie, 250, 25, Cache);
    QSignalSpy requested(View.get(), &TTimelineView::PositionRequested);
    const int x = int(std::lround(View->XOfFrame(100)));
    QTest::mouseClick(View.get(), Qt::LeftButton, Qt::NoModifier, QPoint(x, 20));
    ASSERT_EQ(requested.count(), 1);
    EXPECT_EQ(requested.takeFirst().at(0).toInt(), 100);
    View->ZoomAround(x, 4);
    const double first = View->FirstFrame();
    QTest::mousePress(View.get(), Qt::LeftButton, Qt::NoModifier, QPoint(x, 20));
    QTest::mouseMove(View.get(), QPoint(x - 100, 20));
    QTest::mouseRelease(View.get(), Qt::LeftButton, Qt::NoModifier, QPoint(x - 100, 20));
    EXPECT_GT(View->FirstFrame(), first) << "dragging left moves later in the movie";
    EXPECT_EQ(requested.count(), 0) << "a drag does not move the position";
}

// In the main window: a click on the timeline moves the track bar; the parts
// can be switched off and the choice is kept for the next window.
TEST_F(TimelineViewTest, MainWindowFollowsAndStoresTheChoice) {
    View.reset();
    TScriptedPromptsInstaller prompts;
    prompts->DefaultModalResult = TModalResult::Cancel;
    THive::UserHive()->DeleteKey(QStringLiteral("\\Software\\Quillmont\\Framewhisk\\"));
    {
        TMainForm form;
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        ASSERT_TRUE(form.OpenMovie(Movie));
        TTimelineView* view = form.tlView;
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->Complete(); }, 60000));
        // The widest view spans the track bar's groove.
        const QSlider* bar = form.tbPosition;
        const int barLeft = bar->mapToGlobal(QPoint(0, 0)).x(), barRight = bar->mapToGlobal(QPoint(bar->width(), 0)).x();
        const int start = view->mapToGlobal(QPoint(int(view->XOfFrame(0)), 0)).x();
        const int end = view->mapToGlobal(QPoint(int(view->XOfFrame(250)), 0)).x();
        EXPECT_GT(start, barLeft);
        EXPECT_LT(end, barRight);
        EXPECT_GT(end - start, bar->width() * 8 / 10);
        // A click there moves the track bar; the bar's moves show on the timeline.
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, QPoint(int(std::lround(view->XOfFrame(145))), 10));
        EXPECT_NEAR(form.tbPosition->Position(), 145, 1);
        auto* strip = view->findChild<QAction*>(QStringLiteral("actTimelineStrip"));
        ASSERT_NE(strip, nullptr);
        const int tall = view->height();
        strip->trigger();
        EXPECT_FALSE(view->FilmstripShown());
        EXPECT_LT(view->height(), tall);
    }
    TMainForm again;
    EXPECT_FALSE(again.tlView->FilmstripShown());
    EXPECT_TRUE(again.tlView->WaveformShown());
}

}  // namespace
