// The segment list in the main window: Insert adds the marked range, Ctrl+Z
// and Ctrl+Shift+Z step through marking and adding, the segments come back
// when the movie is opened again in a new window, and Start exports them one
// file per segment under the -01, -02 names.
#include "app/Main.h"
#include "app/SegmentsPanel.h"
#include "app/TrackBar.h"

#include "ScriptedPrompts.h"
#include "TestMovie.h"
#include "platform/Hive.h"
#include "tests/render/RenderTestUtil.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kRoot = QStringLiteral("\\Software\\Quillmont\\Framewhisk\\");

class SegmentsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = QString::fromStdString(testmovie::MakeTempDir("segwin"));
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
        QApplication::setActiveWindow(Form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(Form.get()));
        EXPECT_TRUE(Form->OpenMovie(Movie));
        return *Form;
    }
    void Mark(int first, int end) {
        Form->tbPosition->SetSelStart(first);
        Form->tbPosition->SetSelEnd(end);
    }
    void Keys(QKeyCombination key) { QTest::keyClick(Form.get(), key.key(), key.keyboardModifiers()); }
    std::vector<media::TFrameRange> Segments() const { return Form->SegmentsPanel->List().Segments(); }
    media::TFrameRange Marked() const { return {Form->tbPosition->SelStart(), Form->tbPosition->SelEnd()}; }

    QString Dir, Movie;
    TScriptedPromptsInstaller Prompts;
    std::unique_ptr<TMainForm> Form;
};

using R = media::TFrameRange;

TEST_F(SegmentsWindowTest, InsertUndoRedoAndReopen) {
    TMainForm& f = OpenInNewWindow();
    EXPECT_FALSE(f.SegmentsPanel->isVisible());  // no segments: the window as it was
    Mark(5, 15);
    Keys(Qt::Key_Insert);
    Mark(30, 40);
    Keys(Qt::Key_Insert);
    EXPECT_EQ(Segments(), (std::vector<R>{{5, 15}, {30, 40}}));
    EXPECT_TRUE(f.SegmentsPanel->isVisible());
    EXPECT_EQ(f.SegmentsPanel->lvSegments->count(), 2);
    Mark(12, 20);                // two markings: the start, then the end
    Keys(Qt::CTRL | Qt::Key_Z);
    EXPECT_EQ(Marked(), (R{12, 40}));
    Keys(Qt::CTRL | Qt::Key_Z);
    EXPECT_EQ(Marked(), (R{30, 40}));
    Keys(Qt::CTRL | Qt::Key_Z);  // the second add
    EXPECT_EQ(Segments(), (std::vector<R>{{5, 15}}));
    Keys(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
    EXPECT_EQ(Segments(), (std::vector<R>{{5, 15}, {30, 40}}));
    // Selecting a segment marks it and goes to its start.
    f.SegmentsPanel->SelectSegment(0);
    EXPECT_EQ(Marked(), (R{5, 15}));
    EXPECT_EQ(f.tbPosition->Position(), 5);

    // A new window opening the same movie brings them back, and the marked range.
    OpenInNewWindow();
    EXPECT_EQ(Segments(), (std::vector<R>{{5, 15}, {30, 40}}));
    EXPECT_EQ(Marked(), (R{5, 15}));
    EXPECT_FALSE(Form->SegmentsPanel->List().CanUndo());
    // Opened again in the same window: opening sets the bar anew, which is
    // no marking of the movie and leaves what is remembered alone.
    ASSERT_TRUE(Form->OpenMovie(Movie));
    EXPECT_EQ(Marked(), (R{5, 15}));
    EXPECT_FALSE(Form->SegmentsPanel->List().CanUndo());
    Form->SegmentsPanel->ForgetSegments();
    OpenInNewWindow();
    EXPECT_TRUE(Segments().empty());
}

// Start with segments, "one file per segment" chosen in the save dialog:
// one file each, named after the output; a second Start asks before
// replacing them, and a No leaves them.
TEST_F(SegmentsWindowTest, StartWritesOneFilePerSegment) {
    TMainForm& f = OpenInNewWindow();
    Mark(5, 15);
    Keys(Qt::Key_Insert);
    Mark(30, 41);
    Keys(Qt::Key_Insert);
    f.cbMode->setCurrentIndex(6);  // same as source: MJPEG falls back to MP4, no settings dialog
    const QString out = Dir + QStringLiteral("/cut.mp4");
    Prompts->FileAnswers.push_back(out);
    Prompts->FilterIndexAnswers.push_back(2);
    f.sbExecuteClick();
    const auto offered = Prompts->RecordsOf(TPromptKind::FileDialog);
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_TRUE(offered[0].FileRequest.Filter.contains(QStringLiteral("one file per segment")));
    QElapsedTimer clock;
    clock.start();
    while ((f.JobState() != TJobState::Idle) && clock.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    ASSERT_EQ(f.JobState(), TJobState::Idle);
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_EQ(rendertest::DecodeFile((Dir + "/cut-01.mp4").toStdString()).FrameNumbers, rendertest::Range(5, 15));
    EXPECT_EQ(rendertest::DecodeFile((Dir + "/cut-02.mp4").toStdString()).FrameNumbers, rendertest::Range(30, 41));

    const auto before = QFileInfo(Dir + "/cut-01.mp4").lastModified();
    Prompts->FileAnswers.push_back(out);
    Prompts->FilterIndexAnswers.push_back(2);
    Prompts->Answers.push_back(TModalResult::No);
    const size_t asked = Prompts->Records.size();
    f.sbExecuteClick();
    ASSERT_GT(Prompts->Records.size(), asked);
    EXPECT_TRUE(Prompts->Texts().last().contains(QStringLiteral("cut-02.mp4")));
    EXPECT_EQ(f.JobState(), TJobState::Idle);
    EXPECT_EQ(QFileInfo(Dir + "/cut-01.mp4").lastModified(), before);
}

}  // namespace
