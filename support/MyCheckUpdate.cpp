#include "support/MyCheckUpdate.h"

#include "common/DateTime.h"
#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "support/DialogFonts.h"
#include "support/DialogText.h"
#include "support/MyMsgDlg.h"
#include "support/SupportInfo.h"
#include "support/UpdateProtocol.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <memory>
#include <optional>

namespace {

const char* const LastUpdateCheck = "Last update check";

// Only whole days are stored.
double TodayDate() {
    return std::floor(NowDateTime());
}

QString StoredText(const char* section, const char* name, const QString& def) {
    return SettingsStore ? SettingsStore->ReadString(section, name, def) : def;
}

}  // namespace

TCheckUpdate::TCheckUpdate(QWidget* owner) : QDialog(owner) {
    setWindowTitle("There is a new update");
    setFixedSize(382, 242);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    mmUpdateInfo = new QPlainTextEdit(this);
    mmUpdateInfo->setGeometry(0, 0, 382, 242 - 41);
    mmUpdateInfo->setReadOnly(true);
    mmUpdateInfo->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmUpdateInfo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmUpdateInfo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmUpdateInfo->setFont(SansSerifFont(13));

    pButtons = new QWidget(this);
    pButtons->setGeometry(0, 242 - 41, 382, 41);

    sbDownload = new QPushButton("Download", pButtons);
    sbDownload->setFlat(true);
    sbDownload->setGeometry(224, 11, 65, 22);
    connect(sbDownload, &QPushButton::clicked, this, &TCheckUpdate::sbDownloadClick);

    sbClose = new QPushButton("Close", pButtons);
    sbClose->setFlat(true);
    sbClose->setGeometry(304, 11, 65, 22);
    connect(sbClose, &QPushButton::clicked, this, &TCheckUpdate::sbCloseClick);
}

bool TCheckUpdate::CheckForUpdate(bool manual, const QString& currentVersion, const QString& appName) {
    CurrentVersion = currentVersion;
    AppName = appName;
    if (!manual) {
        std::optional<double> lastCheck;
        try {
            if (SettingsStore)
                lastCheck = SettingsStore->ReadRootDate(LastUpdateCheck);
        } catch (const std::exception&) {
            // Missing or unreadable: counts as a long gap, the pass goes on.
        }
        const double today = TodayDate();
        // Written before the gap test: a program started every day never checks.
        if (SettingsStore)
            SettingsStore->WriteRootDate(LastUpdateCheck, today);
        if (UpdateGapDays(lastCheck, today) < UpdateGapDaysWanted)
            return false;
        if (!ShowConfirmation(AutoUpdateCheckText, nullptr))
            return false;
    }
    if (!FetchUpdateInfo())
        return false;
    const bool newer = IsNewerVersion(FLatestBytes, CurrentVersion.toUtf8());
    if (!manual && !newer)
        return false;
    if (!newer)
        setWindowTitle("You still have the latest version");
    Prompts().ExecModal(*this);
    return true;
}

bool TCheckUpdate::FetchUpdateInfo() {
    const QString base = StoredText("Update", "Website", DefaultUpdateSite);
    const QString id = StoredText("Main", "GUID", QString());
    const THttpResult reply = HttpGetUpdateInfoPumping(BuildUpdateUrl(base, AppName, CurrentVersion, id), RequestTimeLimit);
    if (!reply.Ok)
        return false;
    const std::optional<TUpdateResponse> response = ParseUpdateResponse(reply.Body, AppName);
    if (!response)
        return false;
    FLatestBytes = response->LatestVersion;
    LatestVersion = QString::fromUtf8(response->LatestVersion);
    if (response->AddressesAccepted) {
        SiteUrl = QString::fromLatin1(response->SiteUrl);
        DownloadUrl = QString::fromLatin1(response->DownloadUrl);
        if (SettingsStore) {
            SettingsStore->WriteString("Update", "Website", SiteUrl);
            SettingsStore->WriteString("Update", "DownloadURL", DownloadUrl);
            SettingsStore->WriteRootDate(LastUpdateCheck, TodayDate());
        }
    } else {
        // A server that sends something other than web addresses does not get
        // to redirect the next request or the "Download" button.
        SiteUrl = base;
        DownloadUrl = StoredText("Update", "DownloadURL", DefaultUpdateSite);
    }
    mmUpdateInfo->setPlainText(UpdateMemoLines(*response).join('\n'));
    return true;
}

void TCheckUpdate::sbDownloadClick() {
    QString address = StoredText("Update", "DownloadURL", DefaultUpdateSite);
    if (!IsWebAddress(address))
        address = DefaultUpdateSite;
    ShellOpen(address);
}

void TCheckUpdate::sbCloseClick() {
    accept();
}

bool CheckForUpdate(QWidget* owner, const QString& currentVersion, const QString& appName, bool manual) {
    auto dialog = std::make_unique<TCheckUpdate>(owner);
    return dialog->CheckForUpdate(manual, currentVersion, appName);
}

void ArmUpdateTimer(QTimer& timer) {
    timer.setSingleShot(true);
    timer.setInterval(UpdateTimerInterval);
    timer.start();
}

void UpdateTimerFired(QTimer& timer, bool automaticCheckOn, QWidget* owner) {
    timer.stop();
    if (!automaticCheckOn)
        return;
    CheckForUpdate(owner, ProgramVersion, ProgramName, false);
}

bool ReadAutomaticUpdateCheck() {
    return SettingsStore ? SettingsStore->ReadBool("Preference", "Automatic update check", true) : true;
}

void AutomaticUpdateCheckToggled(bool checked, QTimer& timer) {
    if (SettingsStore)
        SettingsStore->WriteBool("Preference", "Automatic update check", checked);
    ArmUpdateTimer(timer);
}
