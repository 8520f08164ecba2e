#include "common/SHDirDlg.h"

#include "common/MyCommonParams.h"
#include "common/Prompts.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>

namespace {

// Execute hands ShowFiles to the real dialog past the seam, whose signature
// has no room for it; the chooser is modal, so one at a time.
bool NextBrowseShowsFiles = false;

QString WithTrailingSlash(QString folder) {
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

}  // namespace

TShellDirDialog::TShellDirDialog(QWidget* owner) : FOwner(owner) {}

bool TShellDirDialog::Execute() {
    QString folder = FDirectory;
    NextBrowseShowsFiles = FShowFiles;
    const bool chosen = Prompts().ExecuteFolderDialog(FOwner, FComment, folder);
    NextBrowseShowsFiles = false;
    if (!chosen || folder.isEmpty())
        return false;
    FDirectory = WithTrailingSlash(folder);
    const QString name = QFileInfo(FDirectory.chopped(1)).fileName();
    FDisplayName = name.isEmpty() ? FDirectory : name;
    return true;
}

QPoint CentredOrigin(const QRect& available, const QSize& window) {
    return {available.x() + available.width() / 2 - window.width() / 2,
            available.y() + available.height() / 2 - window.height() / 2};
}

bool BrowseForFolder(QWidget* owner, const QString& comment, QString& directory, bool showFiles) {
    const bool withFiles = showFiles || NextBrowseShowsFiles;
    // Qt's own dialog rather than the desktop's: it can be placed and it
    // behaves the same on every desktop (and headless).
    QFileDialog dialog(owner, comment);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, !withFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!directory.isEmpty() && QFileInfo(directory).isDir())
        dialog.setDirectory(directory);
    dialog.resize(dialog.sizeHint().expandedTo(QSize(560, 400)));
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen)
        dialog.move(CentredOrigin(screen->availableGeometry(), dialog.frameGeometry().size()));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return false;
    directory = WithTrailingSlash(QDir::cleanPath(chosen.first()));
    return true;
}

bool ChooseFolder(QWidget* owner, const QString& prompt, QString& folder) {
    TShellDirDialog dialog(owner);
    dialog.SetComment(prompt);
    dialog.SetDirectory(folder);
    if (!dialog.Execute())
        return false;
    folder = dialog.Directory();
    return true;
}
