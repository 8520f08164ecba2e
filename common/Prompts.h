// The one seam for modal questions: message boxes, file dialogs, the folder
// chooser and the modal run of our own dialogs. The real prompts show Qt
// dialogs; tests install scripted prompts that answer instead.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QDialog;
class QWidget;

enum class TMsgDlgType { Warning, Error, Information, Confirmation, Custom };

// Buttons of a message box, combinable.
enum TMsgDlgButton : unsigned {
    mbYes = 1u << 0, mbNo = 1u << 1, mbOK = 1u << 2, mbCancel = 1u << 3,
    mbAbort = 1u << 4, mbRetry = 1u << 5, mbIgnore = 1u << 6,
};

// What closed a modal dialog or message box.
enum class TModalResult { None, Ok, Cancel, Abort, Retry, Ignore, Yes, No };

struct TFileDialogRequest {
    bool Save = false;            // save dialog when true, open dialog otherwise
    QString Title;
    QString Filter;               // "Description|*.A;*.B|Other|*.C"
    int FilterIndex = 1;          // the filter selected at first, from 1
    QString InitialDir;           // folder to start in ("" : where FileName lies)
    QString FileName;             // in: proposed name; out: the chosen file
    QString DefaultExt;           // without the dot
    bool OverwritePrompt = false; // save: ask before replacing an existing file
    QStringList Files;            // out: every file chosen (open with several)
};

class TPrompts {
public:
    virtual ~TPrompts() = default;
    // A plain message box with one OK button (the caption is the program's name).
    virtual void ShowMessage(const QString& text) = 0;
    // A message box of a kind with the given buttons.
    virtual TModalResult MessageDlg(const QString& text, TMsgDlgType type, unsigned buttons) = 0;
    // An open or save dialog; true when the user confirmed (request.FileName set).
    virtual bool ExecuteFileDialog(QWidget* owner, TFileDialogRequest& request) = 0;
    // The folder chooser: starts on `directory`, shows `comment`; true when a
    // folder was chosen (directory set, ending with "/").
    virtual bool ExecuteFolderDialog(QWidget* owner, const QString& comment, QString& directory) = 0;
    // Runs one of our own dialogs modally and returns how it closed.
    virtual TModalResult ExecModal(QDialog& dialog) = 0;
};

// The prompts in use (real Qt dialogs unless a test installed others).
TPrompts& Prompts();
// Installs prompts; nullptr restores the real ones. Returns the previous ones.
std::unique_ptr<TPrompts> SetPrompts(std::unique_ptr<TPrompts> prompts);

// Shortcuts through the seam.
inline void ShowMessage(const QString& text) { Prompts().ShowMessage(text); }
inline TModalResult MessageDlg(const QString& text, TMsgDlgType type, unsigned buttons) {
    return Prompts().MessageDlg(text, type, buttons);
}

// Installs the desktop opener's failure handler: a request the desktop could
// not carry out (no file manager, player, browser or mail program) is told in
// a message through the prompts in use (DesktopFailureText).
void SayDesktopFailures();

// The folder a file dialog opens in: InitialDir when given, else the
// folder of FileName when it exists, else "" (the toolkit's choice). No
// trailing "/".
QString FileDialogStartFolder(const TFileDialogRequest& request);

// "Movies|*.avi;*.mpg|All files|*.*" -> the Qt name filter
// "Movies (*.[aA][vV][iI] *.[mM][pP][gG]);;All files (*)", matching either case.
QString FileDialogFilter(const QString& filter);
