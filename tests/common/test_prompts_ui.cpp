// The prompts seam: the real Qt prompts driven headless, the folder chooser,
// and the scripted prompts other tests rely on.
#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "common/SHDirDlg.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

// Runs `act` on the modal widget of type T once it is up (the real prompts
// block in exec()); fails the test if none shows within a few seconds.
template <typename T>
void WhenModalShows(std::function<void(T&)> act) {
    auto tries = std::make_shared<int>(0);
    auto timer = new QTimer(qApp);  // owned by the application, deleted below
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
        if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(*modal);
        } else if (++*tries > 300) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal dialog showed";
        }
    });
    timer->start(10);
}

// ---------------------------------------------------------------- folder chooser

TEST(CentredOrigin, CentresOnTheAvailableArea) {
    const struct {
        QRect Available;
        QSize Window;
        QPoint Origin;
    } cases[] = {
        {{0, 0, 1920, 1040}, {600, 400}, {660, 320}},
        {{64, 0, 1856, 1080}, {600, 400}, {692, 340}},  // panel on the left
        {{0, 32, 1920, 1048}, {600, 400}, {660, 356}},  // panel on top
        {{0, 0, 1001, 701}, {301, 201}, {350, 250}},    // halves rounded toward zero
        {{0, 0, 400, 300}, {600, 400}, {-100, -50}},    // larger than the screen
    };
    for (const auto& c : cases)
        EXPECT_EQ(CentredOrigin(c.Available, c.Window), c.Origin);
}

TEST(ChooseFolder, ScriptedAnswers) {
    TScriptedPromptsInstaller prompts;
    const struct {
        QString Answer;  // "" cancels
        bool Chosen;
        QString Folder;
    } cases[] = {
        {"/tmp/Temp", true, "/tmp/Temp/"},
        {"/tmp/Temp/", true, "/tmp/Temp/"},
        {"/", true, "/"},  // the root keeps its one slash
        {"", false, " /old\\odd path"},
    };
    for (const auto& c : cases) {
        QString folder = " /old\\odd path";
        prompts->FolderAnswers.push_back(c.Answer);
        EXPECT_EQ(ChooseFolder(nullptr, "Select captured video folder", folder), c.Chosen);
        EXPECT_EQ(folder, c.Folder);
        ASSERT_FALSE(prompts->Records.empty());
        EXPECT_EQ(prompts->Records.back().Kind, TPromptKind::FolderDialog);
        EXPECT_EQ(prompts->Records.back().Text, "Select captured video folder");
        EXPECT_EQ(prompts->Records.back().Directory, " /old\\odd path");
    }
}

TEST(ShellDirDialog, PropertiesAndDisplayName) {
    TScriptedPromptsInstaller prompts;
    TShellDirDialog dialog(nullptr);
    EXPECT_FALSE(dialog.ShowFiles());
    EXPECT_TRUE(dialog.Directory().isEmpty());
    dialog.SetDirectory("/video/");
    prompts->FolderAnswers = {"/data/My clips", ""};
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.Directory(), "/data/My clips/");
    EXPECT_EQ(dialog.DisplayName(), "My clips");
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.Directory(), "/data/My clips/");
}

TEST(RealFolderDialog, StartsOnTheFolderCentredAndGivesATrailingSlash) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Video/Clips")));
    QString folder = dir.filePath("Video") + "/";
    WhenModalShows<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Select captured video folder");
        EXPECT_EQ(dialog.directory().absolutePath(), dir.filePath("Video"));
        EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
        const QRect available = dialog.screen()->availableGeometry();
        EXPECT_LE(std::abs(dialog.frameGeometry().center().x() - available.center().x()), 2);
        EXPECT_LE(std::abs(dialog.frameGeometry().center().y() - available.center().y()), 2);
        dialog.selectFile(dir.filePath("Video/Clips"));
        static_cast<QDialog&>(dialog).accept();  // as the Choose button does
    });
    EXPECT_TRUE(ChooseFolder(nullptr, "Select captured video folder", folder));
    EXPECT_EQ(folder, dir.filePath("Video/Clips") + "/");

    WhenModalShows<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(ChooseFolder(nullptr, "Select captured image folder", folder));
    EXPECT_EQ(folder, dir.filePath("Video/Clips") + "/");
}

// ---------------------------------------------------------------- real prompts

TEST(RealPrompts, MessageDlgReturnsTheButtonPressed) {
    WhenModalShows<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), "Framewhisk");
        EXPECT_EQ(box.text(), "Play the result?");
        EXPECT_EQ(box.icon(), QMessageBox::Question);
        EXPECT_EQ(box.buttons().size(), 2);
        box.button(QMessageBox::No)->click();
    });
    EXPECT_EQ(MessageDlg("Play the result?", TMsgDlgType::Confirmation, mbYes | mbNo), TModalResult::No);

    WhenModalShows<QMessageBox>([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_EQ(MessageDlg("Stop?", TMsgDlgType::Warning, mbYes | mbNo | mbCancel), TModalResult::Cancel);

    WhenModalShows<QMessageBox>([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_EQ(MessageDlg("Delete?", TMsgDlgType::Warning, mbYes | mbNo), TModalResult::No);

    WhenModalShows<QMessageBox>([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); });
    EXPECT_EQ(MessageDlg("Retry?", TMsgDlgType::Error, mbRetry | mbAbort), TModalResult::Abort);
}

TEST(RealPrompts, SaveNameWithQuotesIsTakenWhole) {
    QTemporaryDir dir;
    const QString typed = QString::fromUtf8("Grüße 'x' \"y\"");
    struct {
        QString Typed;
        QString Expected;
    } cases[] = {
        {typed, dir.path() + "/" + typed + ".webm"},
        {typed + ".webm", dir.path() + "/" + typed + ".webm"},
        {"plain", dir.path() + "/plain.webm"},
    };
    for (const auto& c : cases) {
        WhenModalShows<QFileDialog>([&](QFileDialog& dialog) {
            auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(edit, nullptr);
            edit->setText(c.Typed);
            static_cast<QDialog&>(dialog).accept();  // as the Save button does
        });
        TFileDialogRequest request;
        request.Save = true;
        request.Filter = "WebM video|*.webm";
        request.FilterIndex = 1;
        request.DefaultExt = "webm";
        request.InitialDir = dir.path();
        ASSERT_TRUE(Prompts().ExecuteFileDialog(nullptr, request)) << c.Typed.toStdString();
        EXPECT_EQ(request.FileName, c.Expected);
    }
}

TEST(RealPrompts, ExecModalMapsAcceptAndReject) {
    QDialog dialog;
    WhenModalShows<QDialog>([](QDialog& d) { d.accept(); });
    EXPECT_EQ(Prompts().ExecModal(dialog), TModalResult::Ok);
    WhenModalShows<QDialog>([](QDialog& d) { d.reject(); });
    EXPECT_EQ(Prompts().ExecModal(dialog), TModalResult::Cancel);
}

TEST(FileDialogFilter, MatchesEitherCase) {
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        {"Movies|*.avi;*.MPG", "Movies (*.[aA][vV][iI] *.[mM][pP][gG])"},
        {"WMV (*.wmv)|*.wmv|All files|*.*", "WMV (*.[wW][mM][vV]);;All files (*)"},
        {"JPEG image|*.jpg", "JPEG image (*.[jJ][pP][gG])"},
        {"Clip 2|clip2_?.dat", "Clip 2 ([cC][lL][iI][pP]2_?.[dD][aA][tT])"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileDialogFilter(c.In), c.Out) << c.In;
}

TEST(FileDialogStartFolder, InitialDirElseTheProposedFilesFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString d = dir.path();
    const struct {
        QString InitialDir, FileName, Start;
    } cases[] = {
        {d + "/", "/elsewhere/x.wmv", d},          // a given folder wins
        {"", d + "/out/../clip", d},               // where the proposed file lies
        {"", d + "/missing/clip.wmv", ""},         // that folder is gone: the toolkit's choice
        {"", "", ""},
    };
    for (const auto& c : cases) {
        TFileDialogRequest r;
        r.InitialDir = c.InitialDir;
        r.FileName = c.FileName;
        QDir().mkpath(d + "/out");
        EXPECT_EQ(FileDialogStartFolder(r), c.Start) << c.InitialDir.toStdString() << " " << c.FileName.toStdString();
    }
}

// ---------------------------------------------------------------- scripted prompts

TEST(ScriptedPrompts, InstallsAndRestores) {
    TPrompts* real = &Prompts();
    {
        TScriptedPromptsInstaller outer;
        EXPECT_EQ(&Prompts(), &outer.Get());
        {
            TScriptedPromptsInstaller inner;
            EXPECT_EQ(&Prompts(), &inner.Get());
        }
        EXPECT_EQ(&Prompts(), &outer.Get());
    }
    EXPECT_EQ(&Prompts(), real);
}

TEST(ScriptedPrompts, RecordsInOrderAndAnswersFromQueues) {
    TScriptedPromptsInstaller prompts;
    prompts->Answers = {TModalResult::Yes, TModalResult::No};
    prompts->FileAnswers = {"/tmp/out.wmv", "", "/a.avi\n/b.avi"};
    ShowMessage("Done.");
    EXPECT_EQ(MessageDlg("Play the result?", TMsgDlgType::Confirmation, mbYes | mbNo), TModalResult::Yes);
    EXPECT_EQ(MessageDlg("Again?", TMsgDlgType::Warning, mbYes | mbNo), TModalResult::No);

    TFileDialogRequest save;
    save.Save = true;
    save.Title = "Save as";
    ASSERT_TRUE(Prompts().ExecuteFileDialog(nullptr, save));
    EXPECT_EQ(save.FileName, "/tmp/out.wmv");
    TFileDialogRequest cancelled;
    cancelled.FileName = "/keep.avi";
    EXPECT_FALSE(Prompts().ExecuteFileDialog(nullptr, cancelled));
    EXPECT_EQ(cancelled.FileName, "/keep.avi");
    TFileDialogRequest several;
    ASSERT_TRUE(Prompts().ExecuteFileDialog(nullptr, several));
    EXPECT_EQ(several.Files, (QStringList{"/a.avi", "/b.avi"}));

    EXPECT_EQ(prompts->Texts(), (QStringList{"Done.", "Play the result?", "Again?"}));
    ASSERT_EQ(prompts->Records.size(), 6u);
    EXPECT_EQ(prompts->Records[1].Type, TMsgDlgType::Confirmation);
    EXPECT_EQ(prompts->Records[1].Buttons, unsigned(mbYes | mbNo));
    EXPECT_EQ(prompts->Records[3].FileRequest.Title, "Save as");
    EXPECT_EQ(prompts->RecordsOf(TPromptKind::FileDialog).size(), 3u);
}

TEST(ScriptedPrompts, ModalHandlerDrivesTheShownDialog) {
    TScriptedPromptsInstaller prompts;
    QDialog dialog;
    dialog.setWindowTitle("Output settings");
    bool wasVisible = false;
    prompts->Answers = {TModalResult::Ok};
    prompts->ModalHandlers.push_back([&](QDialog& d) {
        wasVisible = d.isVisible();
        MessageDlg("Asked inside", TMsgDlgType::Information, mbOK);
        return TModalResult::Ok;
    });
    EXPECT_EQ(Prompts().ExecModal(dialog), TModalResult::Ok);
    EXPECT_TRUE(wasVisible);
    EXPECT_FALSE(dialog.isVisible());
    ASSERT_EQ(prompts->Records.size(), 2u);
    EXPECT_EQ(prompts->Records[0].Kind, TPromptKind::Modal);  // the dialog first, then what it asked
    EXPECT_EQ(prompts->Records[0].Text, "Output settings");
    EXPECT_EQ(prompts->Records[0].Answer, TModalResult::Ok);
    EXPECT_EQ(prompts->Records[1].Text, "Asked inside");
}

TEST(ScriptedPrompts, UnscriptedQuestionsFailTheTestUnlessDefaulted) {
    TScriptedPromptsInstaller prompts;
    EXPECT_NONFATAL_FAILURE(
        EXPECT_EQ(MessageDlg("Overwrite?", TMsgDlgType::Confirmation, mbYes | mbNo), TModalResult::Cancel),
        "Unscripted question: Overwrite?");
    QString folder = "/old/";
    EXPECT_NONFATAL_FAILURE(EXPECT_FALSE(ChooseFolder(nullptr, "Pick", folder)), "Unscripted folder dialog");
    QDialog dialog;
    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(Prompts().ExecModal(dialog), TModalResult::Cancel), "Unscripted modal dialog");

    prompts->DefaultAnswer = TModalResult::Yes;
    prompts->DefaultModalResult = TModalResult::Ok;
    EXPECT_EQ(MessageDlg("Overwrite?", TMsgDlgType::Confirmation, mbYes | mbNo), TModalResult::Yes);
    EXPECT_EQ(Prompts().ExecModal(dialog), TModalResult::Ok);
}

}  // namespace
