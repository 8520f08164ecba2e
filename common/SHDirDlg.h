// The folder chooser: a modal folder dialog that starts on Directory, shows
// Comment as its title, is centred on the screen's available area and gives
// the chosen folder with a trailing "/". Execute goes through the prompts
// seam (Prompts().ExecuteFolderDialog), so tests answer it with scripted
// prompts.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

class TShellDirDialog {
public:
    explicit TShellDirDialog(QWidget* owner = nullptr);

    // In: the folder to start on; out: the chosen folder, ending with "/".
    const QString& Directory() const { return FDirectory; }
    void SetDirectory(const QString& directory) { FDirectory = directory; }
    // The prompt shown with the folder tree.
    const QString& Comment() const { return FComment; }
    void SetComment(const QString& comment) { FComment = comment; }
    // Also list files in the tree (default false).
    bool ShowFiles() const { return FShowFiles; }
    void SetShowFiles(bool showFiles) { FShowFiles = showFiles; }
    // The name of the last chosen folder as the dialog shows it ("/" for the root).
    const QString& DisplayName() const { return FDisplayName; }

    // Shows the chooser modally; true when a folder was chosen (Directory
    // set). Cancelling leaves Directory as it was.
    bool Execute();

private:
    QWidget* FOwner;
    QString FDirectory;
    QString FComment;
    bool FShowFiles = false;
    QString FDisplayName;
};

// The real folder dialog behind the prompts seam: modal, starting on
// `directory` when that folder exists, `comment` as its title. True when a
// folder was chosen; `directory` then ends with "/".
bool BrowseForFolder(QWidget* owner, const QString& comment, QString& directory, bool showFiles);

// Top-left corner that centres a window of `window` size on `available`
// (the screen without panels), halves rounded toward zero.
QPoint CentredOrigin(const QRect& available, const QSize& window);
