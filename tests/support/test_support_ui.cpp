// The support windows against the settings store, a loopback update server,
// scripted prompts and a recording desktop opener.
#include "common/DateTime.h"
#include "common/MyCommonParams.h"
#include "platform/DesktopOpener.h"
#include "platform/Hive.h"
#include "support/About.h"
#include "support/DialogText.h"
#include "support/MyCheckUpdate.h"
#include "support/MyExceptDlg.h"
#include "support/MyMsgDlg.h"
#include "support/SupportInfo.h"
#include "support/SupportPictures.h"
#include "support/UpdateProtocol.h"
#include "LocalHttpServer.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <cmath>

namespace {

const QString LastUpdateCheck = "Last update check";

double Today() {
    return std::floor(NowDateTime());
}

TModalResult ResultOf(QDialog& dialog) {
    return dialog.result() == QDialog::Accepted ? TModalResult::Ok : TModalResult::Cancel;
}

QByteArray UpdateBody(const QByteArray& name, const QByteArray& version, const QByteArray& site,
                      const QByteArray& download, const QByteArray& notes = {}) {
    return name + "\r\n" + version + "\r\n" + site + "\r\n" + download + "\r\n" + notes;
}

// Each test gets its own root key, a recording opener and scripted prompts.
class SupportUi : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        Root = QString("\\Software\\QuillmontTest\\%1.%2\\").arg(info->test_suite_name(), info->name()).replace('/', '_');
        Store = std::make_unique<TMyRegistry>(Root);
        Store->Hive()->DeleteKey(Root);
        Store->Hive()->CreateKey(Root);
        SettingsStore = Store.get();
        auto opener = std::make_unique<TRecordingDesktopOpener>();
        Opener = opener.get();
        FPreviousOpener = SetDesktopOpener(std::move(opener));
    }
    void TearDown() override {
        SetDesktopOpener(std::move(FPreviousOpener));
        SettingsStore = nullptr;
    }

    std::optional<double> StoredDate() {
        try {
            return Store->ReadRootDate(LastUpdateCheck);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    std::vector<TPromptRecord> Modals() const { return Prompts->RecordsOf(TPromptKind::Modal); }

    QString Root;
    std::unique_ptr<TMyRegistry> Store;
    TRecordingDesktopOpener* Opener = nullptr;
    TScriptedPromptsInstaller Prompts;

private:
    std::unique_ptr<TDesktopOpener> FPreviousOpener;
};

// ------------------------------------------------------------ confirmation prompt

using ConfirmDlg = SupportUi;

TEST_F(ConfirmDlg, SuppressedPromptReturnsTrueWithoutAWindow) {
    Store->WriteBool("Dialogs", "SomePrompt", true);
    EXPECT_TRUE(ShowConfirmation({1, "SomePrompt", "Go on?"}));
    EXPECT_TRUE(Prompts->Records.empty());
}

TEST_F(ConfirmDlg, SuppressionIsWrittenWhateverClosedTheDialog) {
    enum class Close { Ok, Cancel, Window };
    struct Case { bool Tick; Close How; bool Result; bool Suppressed; };
    const Case cases[] = {
        {false, Close::Ok, true, false},
        {false, Close::Cancel, false, false},
        {false, Close::Window, false, false},
        {true, Close::Ok, true, true},
        {true, Close::Cancel, false, true},
        {true, Close::Window, false, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString key = QString("Prompt%1").arg(n++);
        Prompts->ModalHandlers.push_back([&](QDialog& dialog) {
            auto& confirm = dynamic_cast<TConfirmDlg&>(dialog);
            EXPECT_EQ(confirm.windowTitle(), "Confirmation");
            EXPECT_FALSE(confirm.cbNoMore->isChecked());
            EXPECT_EQ(confirm.cbNoMore->text(), "Don't show this message again");
            if (c.Tick)
                QTest::mouseClick(confirm.cbNoMore, Qt::LeftButton);
            if (c.How == Close::Ok)
                QTest::mouseClick(confirm.bOK, Qt::LeftButton);
            else if (c.How == Close::Cancel)
                QTest::mouseClick(confirm.bCancel, Qt::LeftButton);
            else
                confirm.close();
            return ResultOf(dialog);
        });
        EXPECT_EQ(ShowConfirmation({1, key, "Go on?"}), c.Result) << key.toStdString();
        EXPECT_EQ(Store->ReadBool("Dialogs", key, false), c.Suppressed) << key.toStdString();
        // A suppressed prompt is not asked again and counts as accepted.
        if (c.Suppressed) {
            const size_t asked = Prompts->Records.size();
            EXPECT_TRUE(ShowConfirmation({1, key, "Go on?"}));
            EXPECT_EQ(Prompts->Records.size(), asked);
        }
    }
    EXPECT_TRUE(Prompts->ModalHandlers.empty());
}

TEST_F(ConfirmDlg, MemoPlacementFollowsTheLineCount) {
    struct Case { QString Text; QStringList Lines; int Top, Height; };
    const Case cases[] = {
        {"", {""}, 50, 50},
        {"One line", {"One line"}, 50, 50},
        {"One\nTwo", {"One", "Two"}, 50, 50},
        {"One\r\nTwo", {"One\r", "Two"}, 50, 50},  // only the line feed separates
        {"One\nTwo\n", {"One", "Two", ""}, 8, 81},
        {"One\nTwo\nThree", {"One", "Two", "Three"}, 8, 81},
        {AutoUpdateCheckText.Text, AutoUpdateCheckText.Text.split('\n'), 8, 81},
    };
    for (const Case& c : cases) {
        TConfirmDlg dialog;
        ASSERT_TRUE(dialog.Prepare("Placement", c.Text, 1));
        EXPECT_EQ(dialog.MemoLines(), c.Lines) << c.Text.toStdString();
        EXPECT_EQ(dialog.mmMessage->geometry(), QRect(56, c.Top, 297, c.Height)) << c.Text.toStdString();
    }
}

TEST_F(ConfirmDlg, KindTwoIsAnInformationWithOneButton) {
    struct Case { uint8_t Kind; QString Caption; bool Cancel; int OkX; bool Information; };
    const Case cases[] = {
        {1, "Confirmation", true, 192, false},
        {0, "Confirmation", true, 192, false},
        {7, "Confirmation", true, 192, false},
        {2, "Information", false, 272, true},
    };
    const QImage question = QuestionPicture().toImage();
    const QImage information = InformationPicture().toImage();
    ASSERT_NE(question, information);
    for (const Case& c : cases) {
        TConfirmDlg dialog;
        ASSERT_TRUE(dialog.Prepare("Kind", "Line 1\nLine 2\nLine 3", c.Kind));
        dialog.show();
        EXPECT_EQ(dialog.windowTitle(), c.Caption);
        EXPECT_EQ(dialog.bCancel->isVisible(), c.Cancel);
        EXPECT_TRUE(dialog.bOK->isVisible());
        EXPECT_EQ(dialog.bOK->geometry(), QRect(c.OkX, 0, 75, 25));
        EXPECT_FALSE(dialog.imInformation->isVisible());
        EXPECT_EQ(dialog.imIcon->pixmap().toImage(), c.Information ? information : question) << int(c.Kind);
    }
}

TEST_F(ConfirmDlg, InformationClosedWithoutOkIsFalse) {
    Prompts->ModalHandlers.push_back([](QDialog& dialog) {
        QTest::mouseClick(dynamic_cast<TConfirmDlg&>(dialog).bOK, Qt::LeftButton);
        return ResultOf(dialog);
    });
    Prompts->ModalHandlers.push_back([](QDialog& dialog) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
        return ResultOf(dialog);
    });
    EXPECT_TRUE(ShowConfirmation({2, "Info", "Done."}));
    EXPECT_FALSE(ShowConfirmation({2, "Info", "Done."}));
    EXPECT_EQ(Modals().size(), 2u);
    EXPECT_EQ(Modals()[0].Text, "Information");
}

TEST_F(ConfirmDlg, ConsentTextAndKey) {
    EXPECT_EQ(AutoUpdateCheckText.Kind, 1);
    EXPECT_EQ(AutoUpdateCheckText.Key, "AutoUpdateCheck");
    EXPECT_EQ(AutoUpdateCheckText.Text,
              "Automatic update check will be activated.\n"
              "Uncheck menu Help\\Automatic update check to disable.\n"
              "This feature needs internet connection where\n"
              "no personal information will be sent out.\n"
              "Continue the automatic update check?");
}

// ------------------------------------------------------------ update check

class UpdateCheck : public SupportUi {
protected:
    void SetUp() override {
        SupportUi::SetUp();
        Store->WriteString("Update", "Website", Server.Base("/"));
        Store->WriteString("Update", "DownloadURL", "http://old.example/download");
        Store->WriteString("Main", "GUID", Guid);
    }
    // The server's answer with itself as the site and a download address.
    void Answer(const QByteArray& version, const QByteArray& notes = {}, const QByteArray& name = "Framewhisk") {
        Server.Replies = {TLocalHttpServer::Reply(200, UpdateBody(name, version, Server.Base("/").toLatin1(),
                                                                  "http://dl.example/fw-" + version + ".zip", notes))};
    }
    // The update dialog's handler: records caption and memo, then "Close".
    void ExpectUpdateDialog() {
        Prompts->ModalHandlers.push_back([this](QDialog& dialog) {
            auto& check = dynamic_cast<TCheckUpdate&>(dialog);
            Caption = check.windowTitle();
            Memo = check.mmUpdateInfo->toPlainText();
            QTest::mouseClick(check.sbClose, Qt::LeftButton);
            EXPECT_FALSE(check.isVisible());
            return ResultOf(dialog);
        });
    }
    void ExpectConsent(bool ok, bool tick = false) {
        Prompts->ModalHandlers.push_back([=](QDialog& dialog) {
            auto& confirm = dynamic_cast<TConfirmDlg&>(dialog);
            EXPECT_EQ(confirm.MemoLines(), AutoUpdateCheckText.Text.split('\n'));
            if (tick)
                confirm.cbNoMore->setChecked(true);
            (ok ? confirm.bOK : confirm.bCancel)->click();
            return ResultOf(dialog);
        });
    }
    bool Check(bool manual) { return CheckForUpdate(nullptr, "1.3", "Framewhisk", manual); }

    const QString Guid = "{6F9619FF-8B86-D011-B42D-00C04FC964FF}";
    TLocalHttpServer Server;
    QString Caption, Memo;
};

TEST_F(UpdateCheck, ManualCheckWithTheRunningVersion) {
    Answer("1.3", "Fixed a thing.\r\n\r\nAnother.\r\n\r\n");
    ExpectUpdateDialog();
    EXPECT_TRUE(Check(true));
    EXPECT_EQ(Caption, "You still have the latest version");
    EXPECT_EQ(Memo, "Version 1.3\n\nFixed a thing.\n\nAnother.");
    ASSERT_EQ(Server.Requests().size(), 1);
    EXPECT_TRUE(Server.Requests()[0].startsWith("GET //Framewhisk/UpdateInfo.php?currentversion=1.3&id=" + Guid.toLatin1() + " HTTP/1.1\r\n"))
        << Server.Requests()[0].toStdString();
    EXPECT_EQ(Store->ReadString("Update", "DownloadURL", ""), "http://dl.example/fw-1.3.zip");
    EXPECT_EQ(StoredDate(), Today());
}

TEST_F(UpdateCheck, ManualCheckWithANewerVersionAndDownload) {
    Answer("1.4", "New things.");
    Prompts->ModalHandlers.push_back([this](QDialog& dialog) {
        auto& check = dynamic_cast<TCheckUpdate&>(dialog);
        Caption = check.windowTitle();
        EXPECT_EQ(check.sbDownload->text(), "Download");
        EXPECT_EQ(check.sbClose->text(), "Close");
        QTest::mouseClick(check.sbDownload, Qt::LeftButton);
        EXPECT_TRUE(check.isVisible());  // "Download" leaves the dialog open
        check.sbClose->click();
        return ResultOf(dialog);
    });
    EXPECT_TRUE(Check(true));
    EXPECT_EQ(Caption, "There is a new update");
    ASSERT_EQ(Opener->Requests.size(), 1u);
    EXPECT_EQ(Opener->Requests[0].Action, TDesktopAction::Open);
    EXPECT_EQ(Opener->Requests[0].Target, "http://dl.example/fw-1.4.zip");
}

TEST_F(UpdateCheck, ExactlyFourLinesGiveOneMemoLine) {
    Answer("1.3");
    ExpectUpdateDialog();
    EXPECT_TRUE(Check(true));
    EXPECT_EQ(Memo, "Version 1.3");
}

TEST_F(UpdateCheck, InvalidResponsesOrFailuresShowAndStoreNothing) {
    struct Case { const char* Name; QByteArray Reply; };
    const QByteArray site = "http://moved.example/";
    const Case cases[] = {
        {"trailing space", TLocalHttpServer::Reply(200, UpdateBody("Framewhisk ", "9.9", site, site))},
        {"other program", TLocalHttpServer::Reply(200, UpdateBody("Otherwhisk", "9.9", site, site))},
        {"three lines", TLocalHttpServer::Reply(200, "Framewhisk\r\n9.9\r\n" + site)},
        {"not found", TLocalHttpServer::Reply(404, UpdateBody("Framewhisk", "9.9", site, site))},
        {"redirect", TLocalHttpServer::Reply(302, "", "Location: " + site + "\r\n")},
        {"oversized", TLocalHttpServer::Reply(200, UpdateBody("Framewhisk", "9.9", site, site, QByteArray(70000, 'n')))},
        {"empty", TLocalHttpServer::Reply(200, "")},
    };
    for (const Case& c : cases) {
        Server.Replies = {c.Reply};
        EXPECT_FALSE(Check(true)) << c.Name;
        EXPECT_TRUE(Prompts->Records.empty()) << c.Name;
        EXPECT_EQ(Store->ReadString("Update", "Website", ""), Server.Base("/")) << c.Name;
        EXPECT_EQ(Store->ReadString("Update", "DownloadURL", ""), "http://old.example/download") << c.Name;
        EXPECT_FALSE(StoredDate()) << c.Name;
    }
}

TEST_F(UpdateCheck, CaseFoldedNameIsAccepted) {
    Answer("1.4", {}, "fRAMEWHISK");
    ExpectUpdateDialog();
    EXPECT_TRUE(Check(true));
    EXPECT_EQ(Caption, "There is a new update");
}

TEST_F(UpdateCheck, ServerThatNeverAnswersEndsSilently) {
    Server.NeverAnswer = true;
    EXPECT_FALSE(Check(true));  // returns after the 10 s limit
    EXPECT_TRUE(Prompts->Records.empty());
    EXPECT_EQ(Server.Requests().size(), 1);
}

TEST_F(UpdateCheck, EmptyGuidEndsTheAddress) {
    Store->WriteString("Main", "GUID", "");
    Answer("1.3");
    ExpectUpdateDialog();
    EXPECT_TRUE(Check(true));
    ASSERT_EQ(Server.Requests().size(), 1);
    EXPECT_TRUE(Server.Requests()[0].startsWith("GET //Framewhisk/UpdateInfo.php?currentversion=1.3&id= HTTP/1.1\r\n"));
}

TEST_F(UpdateCheck, MovedBaseIsUsedByTheNextRequest) {
    TLocalHttpServer moved;
    moved.Replies = {TLocalHttpServer::Reply(200, UpdateBody("Framewhisk", "1.3", moved.Base("/svc").toLatin1(), "http://dl.example/"))};
    Server.Replies = {TLocalHttpServer::Reply(200, UpdateBody("Framewhisk", "1.3", moved.Base("/svc").toLatin1(), "http://dl.example/"))};
    ExpectUpdateDialog();
    ExpectUpdateDialog();
    EXPECT_TRUE(Check(true));
    EXPECT_EQ(Store->ReadString("Update", "Website", ""), moved.Base("/svc"));
    EXPECT_TRUE(Check(true));
    EXPECT_EQ(Server.Requests().size(), 1);
    ASSERT_EQ(moved.Requests().size(), 1);
    EXPECT_TRUE(moved.Requests()[0].startsWith("GET /svc/Framewhisk/UpdateInfo.php?currentversion=1.3&id="));
}

TEST_F(UpdateCheck, AddressesThatAreNotWebAddressesAreNotStored) {
    struct Case { QByteArray Site, Download; };
    const Case cases[] = {
        {"file:///etc/", "http://dl.example/new"},
        {"http://moved.example/", "file:///root/.bashrc"},
        {"http://moved.example/", "/usr/bin/xterm"},
    };
    for (const Case& c : cases) {
        Server.Replies = {TLocalHttpServer::Reply(200, UpdateBody("Framewhisk", "1.4", c.Site, c.Download, "Notes"))};
        Prompts->ModalHandlers.push_back([this](QDialog& dialog) {
            auto& check = dynamic_cast<TCheckUpdate&>(dialog);
            Memo = check.mmUpdateInfo->toPlainText();
            check.sbDownload->click();
            return TModalResult::Ok;
        });
        Opener->Requests.clear();
        // The notes are still shown; nothing of the answer is kept.
        EXPECT_TRUE(Check(true)) << c.Download.toStdString();
        EXPECT_EQ(Memo, "Version 1.4\n\nNotes");
        EXPECT_EQ(Store->ReadString("Update", "Website", ""), Server.Base("/"));
        EXPECT_EQ(Store->ReadString("Update", "DownloadURL", ""), "http://old.example/download");
        EXPECT_FALSE(StoredDate());
        ASSERT_EQ(Opener->Requests.size(), 1u);
        EXPECT_EQ(Opener->Requests[0].Target, "http://old.example/download");
    }
}

TEST_F(UpdateCheck, DownloadFallsBackToTheUpdateSiteForAStoredNonWebAddress) {
    Answer("1.3");
    TCheckUpdate dialog;
    for (const QString& stored : {QString("file:///etc/passwd"), QString()}) {
        Opener->Requests.clear();
        if (stored.isEmpty())
            Store->Hive()->DeleteKey(Root + "Update");
        else
            Store->WriteString("Update", "DownloadURL", stored);
        dialog.sbDownloadClick();
        ASSERT_EQ(Opener->Requests.size(), 1u);
        EXPECT_EQ(Opener->Requests[0].Target, DefaultUpdateSite);
    }
}

TEST_F(UpdateCheck, AutomaticPassFollowsTheThirtyDayGap) {
    const double today = Today();
    enum Stored { None, Unreadable, Days };
    struct Case { Stored Kind; double Date; bool Asks; };
    const Case cases[] = {
        {None, 0, true},
        {Unreadable, 0, true},
        {Days, today, false},
        {Days, today - 29, false},
        {Days, today - 30, true},
        {Days, today - 400, true},
        {Days, today + 5, false},  // a date in the future
    };
    for (const Case& c : cases) {
        Store->Hive()->DeleteValue(Root, LastUpdateCheck);
        if (c.Kind == Unreadable)
            Store->Hive()->WriteValue(Root, LastUpdateCheck, THiveValueType::Binary, "1234");
        else if (c.Kind == Days)
            Store->WriteRootDate(LastUpdateCheck, c.Date);
        const auto before = Server.Requests().size();
        Prompts->Records.clear();
        Answer("1.4");
        if (c.Asks) {
            ExpectConsent(true);
            ExpectUpdateDialog();
        }
        EXPECT_EQ(Check(false), c.Asks) << c.Kind << " " << c.Date - today;
        EXPECT_EQ(Modals().size(), c.Asks ? 2u : 0u);
        EXPECT_EQ(Server.Requests().size() - before, c.Asks ? 1 : 0);
        // Every pass stores today, whether or not a check follows.
        EXPECT_EQ(StoredDate(), today);
    }
    EXPECT_TRUE(Prompts->ModalHandlers.empty());
}

TEST_F(UpdateCheck, FailedAutomaticPassHasStillStoredToday) {
    Store->WriteRootDate(LastUpdateCheck, Today() - 45);
    Server.Replies = {TLocalHttpServer::Reply(500, "")};
    ExpectConsent(true);
    EXPECT_FALSE(Check(false));
    EXPECT_EQ(Modals().size(), 1u);  // the consent only
    EXPECT_EQ(StoredDate(), Today());
    EXPECT_EQ(Store->ReadString("Update", "Website", ""), Server.Base("/"));
}

TEST_F(UpdateCheck, WindowKeepsProcessingEventsWhileWaiting) {
    Server.NeverAnswer = true;
    bool timerRan = false;
    QTimer::singleShot(30, [&] { timerRan = true; });
    const THttpResult result = HttpGetUpdateInfoPumping(BuildUpdateUrl(Server.Base("/"), "Framewhisk", "1.3", ""),
                                                        std::chrono::milliseconds(400));
    EXPECT_FALSE(result.Ok);
    EXPECT_TRUE(timerRan);
}

TEST_F(UpdateCheck, TwoPassesOnOneDay) {
    Answer("1.4");
    ExpectConsent(true);
    ExpectUpdateDialog();
    EXPECT_TRUE(Check(false));
    EXPECT_FALSE(Check(false));
    EXPECT_EQ(Server.Requests().size(), 1);
    EXPECT_EQ(Modals().size(), 2u);
}

TEST_F(UpdateCheck, AutomaticPassShowsOnlyANewerVersion) {
    struct Case { QByteArray Version; bool Shown; };
    const Case cases[] = {{"1.3", false}, {"1.10", false}, {"1.2.9", false}, {"1.3.1", true}, {"1.4", true}};
    Store->WriteBool("Dialogs", "AutoUpdateCheck", true);  // consent given earlier
    for (const Case& c : cases) {
        Store->WriteRootDate(LastUpdateCheck, Today() - 31);
        Store->WriteString("Update", "DownloadURL", "http://old.example/download");
        Answer(c.Version);
        if (c.Shown)
            ExpectUpdateDialog();
        Caption.clear();
        EXPECT_EQ(Check(false), c.Shown) << c.Version.toStdString();
        EXPECT_EQ(Caption, c.Shown ? "There is a new update" : "");
        // The answer is stored even when nothing is shown.
        EXPECT_EQ(Store->ReadString("Update", "DownloadURL", ""), "http://dl.example/fw-" + c.Version + ".zip");
        EXPECT_EQ(StoredDate(), Today());
    }
    EXPECT_TRUE(Prompts->ModalHandlers.empty());
}

TEST_F(UpdateCheck, DeclinedConsentWithSuppressionAndTheNextPass) {
    Answer("1.4");
    ExpectConsent(false, true);
    EXPECT_FALSE(Check(false));
    EXPECT_TRUE(Server.Requests().isEmpty());
    EXPECT_TRUE(Store->ReadBool("Dialogs", "AutoUpdateCheck", false));
    EXPECT_EQ(StoredDate(), Today());

    // 30 days later the prompt stays away and the check runs.
    Store->WriteRootDate(LastUpdateCheck, Today() - 30);
    ExpectUpdateDialog();
    EXPECT_TRUE(Check(false));
    EXPECT_EQ(Server.Requests().size(), 1);
    ASSERT_EQ(Modals().size(), 2u);
    EXPECT_EQ(Modals()[1].Text, "There is a new update");
}

TEST_F(UpdateCheck, DeclinedConsentWithoutSuppressionAsksAgain) {
    Answer("1.4");
    ExpectConsent(false);
    EXPECT_FALSE(Check(false));
    EXPECT_FALSE(Store->ReadBool("Dialogs", "AutoUpdateCheck", false));
    Store->WriteRootDate(LastUpdateCheck, Today() - 30);
    ExpectConsent(false);
    EXPECT_FALSE(Check(false));
    EXPECT_EQ(Modals().size(), 2u);
    EXPECT_TRUE(Server.Requests().isEmpty());
}

TEST_F(UpdateCheck, TimerAndMenuItem) {
    QTimer timer;
    EXPECT_TRUE(ReadAutomaticUpdateCheck());  // default on

    ArmUpdateTimer(timer);
    EXPECT_TRUE(timer.isActive());
    EXPECT_TRUE(timer.isSingleShot());
    EXPECT_EQ(timer.interval(), 5000);

    // Unchecked: the timer disarms and nothing else happens.
    UpdateTimerFired(timer, false, nullptr);
    EXPECT_FALSE(timer.isActive());
    EXPECT_FALSE(StoredDate());
    EXPECT_TRUE(Server.Requests().isEmpty());

    AutomaticUpdateCheckToggled(false, timer);
    EXPECT_FALSE(ReadAutomaticUpdateCheck());
    EXPECT_TRUE(timer.isActive());
    AutomaticUpdateCheckToggled(true, timer);
    EXPECT_TRUE(ReadAutomaticUpdateCheck());
    EXPECT_TRUE(timer.isActive());

    // Checked: one automatic pass (here at the gap test, 0 days after today).
    Store->WriteRootDate(LastUpdateCheck, Today());
    UpdateTimerFired(timer, true, nullptr);
    EXPECT_FALSE(timer.isActive());
    EXPECT_TRUE(Prompts->Records.empty());
    EXPECT_TRUE(Server.Requests().isEmpty());
}

// ------------------------------------------------------------ error report

using ErrorReport = SupportUi;

TEST_F(ErrorReport, OkWithoutReportAbortsSilently) {
    const QString message = "TWMFBase.GetProfileByIdx: Error Idx is 27";
    Prompts->ModalHandlers.push_back([&](QDialog& dialog) {
        auto& report = dynamic_cast<TFrmExcept&>(dialog);
        EXPECT_EQ(report.windowTitle(), "Error encountered");
        EXPECT_EQ(report.lbIntro->text(), "Congratulation. You have spot an error in this program");
        EXPECT_EQ(report.lbErrorCaption->text(), "Error:");
        EXPECT_EQ(report.lbErrorMsg->text(), message);
        EXPECT_EQ(report.cbSendMail->text(), "Send email report to the author");
        EXPECT_FALSE(report.cbSendMail->isChecked());
        QTest::mouseClick(report.btnOk, Qt::LeftButton);
        return ResultOf(dialog);
    });
    EXPECT_THROW(ReportFatalError(message), EAbortSilently);
    EXPECT_TRUE(Opener->Requests.empty());
    EXPECT_EQ(Prompts->Records.size(), 1u);  // no second message
    EXPECT_FALSE(RunDiscardingSilentAbort([&] {
        Prompts->DefaultModalResult = TModalResult::Ok;
        ReportFatalError(message);
    }));
}

TEST_F(ErrorReport, TickedReportComposesOneMail) {
    for (bool closeByWindow : {false, true}) {
        Opener->Requests.clear();
        const QString message = "TWMFBase.GetProfileByIdx: Error Idx is 27";
        Prompts->ModalHandlers.push_back([&](QDialog& dialog) {
            auto& report = dynamic_cast<TFrmExcept&>(dialog);
            QTest::mouseClick(report.cbSendMail, Qt::LeftButton);
            if (closeByWindow)
                report.close();
            else
                report.btnOk->click();
            return ResultOf(dialog);
        });
        EXPECT_THROW(ReportFatalError(message), EAbortSilently);
        ASSERT_EQ(Opener->Requests.size(), 1u);
        EXPECT_EQ(Opener->Requests[0].Action, TDesktopAction::Open);
        // The desktop gets the composed address in its encoded form.
        const QString target = Opener->Requests[0].Target;
        EXPECT_EQ(target, QUrl(ErrorReportMailto(message), QUrl::TolerantMode).toString(QUrl::FullyEncoded));
        EXPECT_TRUE(target.startsWith(QString("mailto:") + ErrorReportAddress + "?subject=Error")) << target.toStdString();
        EXPECT_TRUE(target.contains("&body=Dear") && target.contains("%0A%0A%0AAn")) << target.toStdString();
    }
}

TEST_F(ErrorReport, ShellFailureStillAbortsSilently) {
    Opener->Result = false;
    Prompts->ModalHandlers.push_back([](QDialog& dialog) {
        dynamic_cast<TFrmExcept&>(dialog).cbSendMail->setChecked(true);
        return TModalResult::Ok;
    });
    EXPECT_THROW(ReportFatalError("x"), EAbortSilently);
    EXPECT_EQ(Opener->Requests.size(), 1u);
    EXPECT_EQ(Prompts->Records.size(), 1u);
}

TEST_F(ErrorReport, SupportMailAndWebsiteCommands) {
    EmailSupport("Framewhisk - Convert video to uploadable format");
    OpenWebsite();
    ASSERT_EQ(Opener->Requests.size(), 2u);
    EXPECT_EQ(QUrl::fromPercentEncoding(Opener->Requests[0].Target.toUtf8()),
              QString("mailto:") + SupportAddress + "?subject=Framewhisk - Convert video to uploadable format");
    EXPECT_EQ(Opener->Requests[1].Target, WebsiteAddress);
}

// ------------------------------------------------------------ About box

using AboutBox = SupportUi;

TEST_F(AboutBox, LooksAsDesigned) {
    TAboutForm box;
    EXPECT_EQ(box.lbCPUSpeed->text(), "???");
    box.show();
    EXPECT_TRUE(box.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(box.size(), QSize(332, 239));
    EXPECT_EQ(box.pAbout->palette().color(QPalette::Window), QColor(0, 128, 192));
    EXPECT_EQ(box.lbVersion->text(), "Version 1.3");
    EXPECT_EQ(box.lbCPUSpeed->text(), "CPU speed:" + CpuSpeedText());
    EXPECT_EQ(box.lbDescription->text(), "Convert video to uploadable format");
    EXPECT_EQ(box.lbProgramName->text(), "Framewhisk");
    EXPECT_EQ(box.lbDescription->pos(), QPoint(20, 66));
    EXPECT_EQ(box.lbDescriptionShadow->pos(), QPoint(18, 65));
    EXPECT_EQ(box.lbDescriptionShadow->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(box.lbEmail->text(), QString("Email: ") + SupportAddress);
    EXPECT_EQ(box.lbWebsite->text(), QString("Website: ") + WebsiteAddress);
    for (const char* library : {"Qt", "FFmpeg", "SQLite", "libjpeg-turbo", "libpng", "zlib", "giflib", "libcurl"})
        EXPECT_TRUE(box.mmCredits->toPlainText().contains(library)) << library;
    EXPECT_EQ(box.mmCredits->toPlainText().split('\n').size(), 4);
}

TEST_F(AboutBox, MousePressClosesOnlyOnTheClosingParts) {
    using TPart = QWidget* (*)(TAboutForm&);
    struct Case { const char* Name; TPart Part; bool Closes; };
    const Case cases[] = {
        {"panel", [](TAboutForm& f) -> QWidget* { return f.pAbout; }, true},
        {"lbDescription", [](TAboutForm& f) -> QWidget* { return f.lbDescription; }, true},
        {"lbDescriptionShadow", [](TAboutForm& f) -> QWidget* { return f.lbDescriptionShadow; }, true},
        {"lbProgramNameShadow", [](TAboutForm& f) -> QWidget* { return f.lbProgramNameShadow; }, true},
        {"lbProgramName", [](TAboutForm& f) -> QWidget* { return f.lbProgramName; }, true},
        {"lbVersion", [](TAboutForm& f) -> QWidget* { return f.lbVersion; }, true},
        {"imIcon", [](TAboutForm& f) -> QWidget* { return f.imIcon; }, true},
        {"lbCPUSpeed", [](TAboutForm& f) -> QWidget* { return f.lbCPUSpeed; }, false},
        {"lbEmail", [](TAboutForm& f) -> QWidget* { return f.lbEmail; }, false},
        {"lbWebsite", [](TAboutForm& f) -> QWidget* { return f.lbWebsite; }, false},
    };
    for (const Case& c : cases) {
        TAboutForm box;
        box.show();
        QWidget* target = c.Part(box);
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(2, 2));
        EXPECT_EQ(box.isVisible(), !c.Closes) << c.Name;
    }
    TAboutForm box;
    box.show();
    QTest::mouseClick(box.mmCredits->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(box.isVisible()) << "memo";
}

TEST_F(AboutBox, LinksOpenMailAndWebsiteAndStayOpen) {
    TAboutForm box;
    box.show();
    QTest::mouseClick(box.lbEmail, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseClick(box.lbWebsite, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_TRUE(box.isVisible());
    ASSERT_EQ(Opener->Requests.size(), 2u);
    EXPECT_EQ(Opener->Requests[0].Target, QString("mailto:") + SupportAddress);
    EXPECT_EQ(Opener->Requests[1].Target, WebsiteAddress);
}

TEST_F(AboutBox, KeysClose) {
    using TPart = QWidget* (*)(TAboutForm&);
    struct Case { TPart Target; Qt::Key Key; bool Closes; };
    const Case cases[] = {
        {[](TAboutForm& f) -> QWidget* { return f.mmCredits; }, Qt::Key_Down, false},  // the memo scrolls with it
        {[](TAboutForm& f) -> QWidget* { return f.mmCredits; }, Qt::Key_X, true},
        {[](TAboutForm& f) -> QWidget* { return f.mmCredits; }, Qt::Key_Escape, true},
        {[](TAboutForm& f) -> QWidget* { return f.mmCredits; }, Qt::Key_Return, true},
        {[](TAboutForm& f) -> QWidget* { return f.pAbout; }, Qt::Key_Space, true},
    };
    for (const Case& c : cases) {
        TAboutForm box;
        box.show();
        QTest::keyClick(c.Target(box), c.Key);
        EXPECT_EQ(box.isVisible(), !c.Closes) << c.Key;
    }
}

TEST_F(AboutBox, ShowAboutRunsModally) {
    Prompts->ModalHandlers.push_back([](QDialog& dialog) {
        auto& box = dynamic_cast<TAboutForm&>(dialog);
        EXPECT_EQ(box.lbVersion->text(), "Version 1.3");
        QTest::mouseClick(box.pAbout, Qt::LeftButton, {}, QPoint(150, 5));
        EXPECT_FALSE(box.isVisible());
        return ResultOf(dialog);
    });
    ShowAbout(nullptr);
    EXPECT_EQ(Modals().size(), 1u);
}

}  // namespace
