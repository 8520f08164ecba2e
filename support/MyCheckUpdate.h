// The update check dialog: asks the update site for the latest version and
// shows its release notes with "Download" and "Close".
#pragma once

#include <QDialog>
#include <QString>
#include <chrono>

class QPlainTextEdit;
class QPushButton;
class QTimer;
class QWidget;

class TCheckUpdate : public QDialog {
    Q_OBJECT
public:
    explicit TCheckUpdate(QWidget* owner = nullptr);

    // One check. Manual: ask at once and show the dialog whatever the latest
    // version is. Automatic: store today's date, stop unless 30 days have
    // passed since the previous pass and the user agreed to the check, and
    // show the dialog only for a newer version. True when the dialog was
    // shown. A failed request or an invalid response shows nothing. Settings
    // store errors (ERegistryException) pass through.
    bool CheckForUpdate(bool manual, const QString& currentVersion, const QString& appName);

    // Sends the request and, when the response names AppName, fills mmUpdateInfo and
    // the fields; when its addresses are web addresses also stores them and
    // today's date. True when the response was valid.
    bool FetchUpdateInfo();

    void sbDownloadClick();  // "Download": opens Update/DownloadURL
    void sbCloseClick();  // "Close"

    QString AppName;
    QString CurrentVersion;
    QString LatestVersion;
    QString SiteUrl;
    QString DownloadUrl;

    // Time limit of the request (the whole exchange).
    std::chrono::milliseconds RequestTimeLimit{10000};

    QPlainTextEdit* mmUpdateInfo;
    QWidget* pButtons;
    QPushButton* sbDownload;
    QPushButton* sbClose;

private:
    QByteArray FLatestBytes;  // LatestVersion as the server sent it, for the comparison
};

// The main window's commands, one line each:
//   Checkupdate1Click:  CheckForUpdate(this, ProgramVersion, ProgramName, true);
//   TimerUpdateTimer:   UpdateTimerFired(*TimerUpdate, Checkupdateautomatically1->isChecked(), this);
//   Checkupdateautomatically1 (checkable QAction), on toggled(bool checked):
//                       AutomaticUpdateCheckToggled(checked, *TimerUpdate);
//   first show only:    Checkupdateautomatically1->setChecked(ReadAutomaticUpdateCheck());
//                       ArmUpdateTimer(*TimerUpdate);

// Creates a TCheckUpdate owned by `owner`, runs one check, frees the dialog
// on every path. Returns what TCheckUpdate::CheckForUpdate returned.
bool CheckForUpdate(QWidget* owner, const QString& currentVersion, const QString& appName, bool manual);

// TimerUpdate: 5000 ms, one pass per arming.
constexpr int UpdateTimerInterval = 5000;
void ArmUpdateTimer(QTimer& timer);
// The timer's handler: disarms it, then runs an automatic pass when the menu
// item "Automatic update check" is checked.
void UpdateTimerFired(QTimer& timer, bool automaticCheckOn, QWidget* owner);
// Preference/Automatic update check (default true).
bool ReadAutomaticUpdateCheck();
// "Automatic update check" after its check mark was inverted: stores the new
// state in Preference/Automatic update check and arms the timer, so that an
// automatic pass follows when the item is now checked.
void AutomaticUpdateCheckToggled(bool checked, QTimer& timer);
