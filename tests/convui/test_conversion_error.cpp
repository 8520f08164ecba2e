// A conversion whose writing fails part-way (the file may grow no further, as
// on a full disk) ends with "Fail to make clip " + name and not with "Done.",
// and leaves no unfinished file behind.
// Its own executable: the file-size limit it sets holds for the whole process.
#include "app/Main.h"
#include "app/TrackBar.h"
#include "common/MyCommonParams.h"
#include "platform/DesktopOpener.h"
#include "ConvUiTestUtil.h"
#include "ScriptedPrompts.h"
#include "TestMovie.h"

#include <QTimer>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QToolButton>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

// A file-size limit for the length of a scope; writes past it fail with
// EFBIG instead of raising SIGXFSZ.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        FPreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &FPrevious);
        rlimit limit = FPrevious;
        limit.rlim_cur = bytes;
        Ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FPrevious);
        std::signal(SIGXFSZ, FPreviousHandler);
    }
    bool Ok = false;

private:
    rlimit FPrevious{};
    void (*FPreviousHandler)(int) = nullptr;
};

}  // namespace

TEST(ConversionError, WritingThatFailsPartWaySaysFailAndNotDone) {
    int argc = 1;
    char name[] = "test_conversion_error";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    TScriptedPromptsInstaller prompts;
    auto previousOpener = SetDesktopOpener(std::make_unique<TRecordingDesktopOpener>());

    const QString dir = QString::fromStdString(testmovie::MakeTempDir("convui-error"));
    const QString movie = convui::MakeMovie(dir, 50, false);
    {
        TMainForm form;
        form.show();
        form.TimerUpdate->stop();  // no update consent prompt during the job
        ASSERT_TRUE(form.OpenMovie(movie));
        form.VideoFolder = dir + "/";
        form.Showresultwhenready1->setChecked(true);
        // Uncompressed 320 x 240 video: 150 KiB a frame, far past the limit.
        form.OutputSettings = TOutputSettings();
        form.OutputSettings.VideoCompressorName.clear();
        form.OutputSettings.WithAudio = false;
        form.SavePreferences();
        form.tbPosition->SetSelStart(0);
        form.tbPosition->SetSelEnd(50);
        prompts->Records.clear();
        prompts->FileAnswers.push_back(dir + "/full.avi");
        prompts->DefaultAnswer = TModalResult::Yes;  // a "Done." question would be answered, and caught below
        prompts->ModalHandlers.push_back([](QDialog&) { return TModalResult::Ok; });

        bool rendered = true;
        {
            TFileSizeLimit limit(2 * 1024 * 1024);
            ASSERT_TRUE(limit.Ok);
            form.cbMode->setCurrentIndex(2);
            form.sbExecuteClick();
            ASSERT_TRUE(convui::WaitForJobOver(form));
            rendered = form.LastConversionMade();
        }

        EXPECT_FALSE(rendered);
        const QStringList texts = prompts->Texts();
        ASSERT_EQ(texts.size(), 1) << texts.join(" | ").toStdString();
        EXPECT_TRUE(texts[0].startsWith("Fail to make clip " + dir + "/full.avi")) << texts[0].toStdString();
        // The unfinished file the render started is gone.
        EXPECT_FALSE(QFileInfo::exists(dir + "/full.avi"));
        EXPECT_EQ(form.tmAnimateTag, 0);
        EXPECT_TRUE(form.tbPosition->isEnabled());
        EXPECT_FALSE(form.lbBusy->isVisible());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    SetDesktopOpener(std::move(previousOpener));
    if (!testing::Test::HasFailure())
        QDir(dir).removeRecursively();
}
