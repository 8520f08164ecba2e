// The queue window: "Add to queue" takes the marked range or the segments,
// the mode and the output chosen in the save dialog; Start runs the jobs one
// after another while the main window keeps working; the middle job, whose
// folder lies below a regular file, fails with its sentence shown and the
// others complete; a new window lists the same jobs in the same order; a job
// running when the window closed is shown stopped and runs again.
#include "app/Main.h"
#include "app/QueueWindow.h"
#include "app/SegmentsPanel.h"
#include "app/TrackBar.h"

#include "ScriptedPrompts.h"
#include "TestMovie.h"
#include "platform/Hive.h"
#include "tests/render/RenderTestUtil.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kRoot = QStringLiteral("\\Software\\Quillmont\\Framewhisk\\");

class QueueWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = QString::fromStdString(testmovie::MakeTempDir("queuewin"));
        testmovie::TMovieSpec s;  // AVI, MJPEG, 160 x 120, 25 fps, 50 frames
        Movie = Dir + QStringLiteral("/movie.avi");
        testmovie::MakeTestMovie(Movie.toStdString(), s);
        THive::UserHive()->DeleteKey(kRoot);
        Prompts->DefaultModalResult = TModalResult::Cancel;
        Prompts->DefaultAnswer = TModalResult::No;
    }
    void TearDown() override {
        Form.reset();
        if (!::testing::Test::HasFailure()) QDir(Dir).removeRecursively();
    }
    TMainForm& OpenInNewWindow() {
        Form.reset();
        Form = std::make_unique<TMainForm>();
        Form->show();
        EXPECT_TRUE(Form->OpenMovie(Movie));
        Form->cbMode->setCurrentIndex(6);  // same as source: MJPEG falls back to MP4, no settings dialog
        return *Form;
    }
    void Mark(int first, int end) {
        Form->tbPosition->SetSelStart(first);
        Form->tbPosition->SetSelEnd(end);
    }
    void Queue(const QString& output) {
        Prompts->FileAnswers.push_back(output);
        Form->QueueWindow->actAddToQueue->trigger();
    }
    QTreeWidget& Jobs() const { return *Form->QueueWindow->lvJobs; }
    QString State(int row) const { return Jobs().topLevelItem(row)->text(2); }
    QStringList Outputs() const {
        QStringList out;
        for (int i = 0; i < Jobs().topLevelItemCount(); ++i) out << Jobs().topLevelItem(i)->text(1);
        return out;
    }
    bool WaitUntilIdle() const {
        return QTest::qWaitFor([this] { return !Form->QueueWindow->Queue().Running(); }, 60000);
    }

    QString Dir, Movie;
    TScriptedPromptsInstaller Prompts;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(QueueWindowTest, ThreeJobsMiddleFailsOrderKeptAcrossARestart) {
    OpenInNewWindow();
    {
        QFile plain(Dir + QStringLiteral("/plain"));
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
        plain.write("a file, not a folder");
    }
    const QString first = Dir + QStringLiteral("/first.mp4"), broken = Dir + QStringLiteral("/plain/second.mp4"),
                  third = Dir + QStringLiteral("/third.mp4");
    Mark(5, 15);
    Queue(first);
    Mark(20, 30);
    Queue(broken);
    // Segments: the third job joins them.
    Mark(30, 36);
    Form->SegmentsPanel->AddSegment();
    Mark(2, 6);
    Form->SegmentsPanel->AddSegment();
    Prompts->FilterIndexAnswers.push_back(1);  // one file, segments joined
    Queue(third);
    ASSERT_EQ(Outputs(), (QStringList{first, broken, third}));
    EXPECT_TRUE(Form->QueueWindow->isVisible());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(State(i), QStringLiteral("waiting"));

    Form->QueueWindow->btStart->click();
    EXPECT_TRUE(Form->QueueWindow->Queue().Running());
    EXPECT_TRUE(State(0).startsWith(QStringLiteral("running")));
    // The main window keeps working while the queue runs.
    Mark(40, 45);
    EXPECT_EQ(Form->tbPosition->SelStart(), 40);
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(State(0), QStringLiteral("done"));
    EXPECT_TRUE(State(1).startsWith(QStringLiteral("failed: ")));
    EXPECT_GT(State(1).size(), QStringLiteral("failed: ").size() + 10) << State(1).toStdString();
    EXPECT_EQ(State(2), QStringLiteral("done"));
    EXPECT_EQ(rendertest::DecodeFile(first.toStdString()).FrameNumbers, rendertest::Range(5, 15));
    auto joined = rendertest::Range(30, 36);
    for (int f : rendertest::Range(2, 6)) joined.push_back(f);
    EXPECT_EQ(rendertest::DecodeFile(third.toStdString()).FrameNumbers, joined);
    EXPECT_FALSE(QFileInfo::exists(broken));

    // A new window: the same jobs in the same order with their states.
    const QString failed = State(1);
    OpenInNewWindow();
    EXPECT_EQ(Outputs(), (QStringList{first, broken, third}));
    EXPECT_EQ(State(0), QStringLiteral("done"));
    EXPECT_EQ(State(1), failed);
    EXPECT_EQ(State(2), QStringLiteral("done"));
    // Reordered and removed, as the buttons do it, and kept so.
    Jobs().setCurrentItem(Jobs().topLevelItem(2));
    Form->QueueWindow->btUp->click();
    Jobs().setCurrentItem(Jobs().topLevelItem(0));
    Form->QueueWindow->btRemove->click();
    OpenInNewWindow();
    EXPECT_EQ(Outputs(), (QStringList{third, broken}));
}

TEST_F(QueueWindowTest, AJobRunningWhenTheWindowClosedComesBackStoppedAndRunsAgain) {
    OpenInNewWindow();
    const QString out = Dir + QStringLiteral("/whole.mp4");
    Mark(0, 50);
    Queue(out);
    Form->QueueWindow->btStart->click();
    ASSERT_TRUE(State(0).startsWith(QStringLiteral("running")));
    // The program ends during the job.
    OpenInNewWindow();
    ASSERT_EQ(Outputs(), QStringList{out});
    EXPECT_EQ(State(0), QStringLiteral("stopped"));
    // What was written is either gone or a playable clip under the name.
    if (QFileInfo::exists(out)) {
        EXPECT_FALSE(rendertest::DecodeFile(out.toStdString()).FrameNumbers.empty());
    }
    Jobs().setCurrentItem(Jobs().topLevelItem(0));
    Form->QueueWindow->btStart->click();
    ASSERT_TRUE(WaitUntilIdle());
    EXPECT_EQ(State(0), QStringLiteral("done"));
    EXPECT_EQ(rendertest::DecodeFile(out.toStdString()).FrameNumbers, rendertest::Range(0, 50));
}

}  // namespace
