#include "common/Prompts.h"

#include "common/MyCommonParams.h"
#include "common/SHDirDlg.h"
#include "platform/DesktopOpener.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <utility>
#include <vector>

namespace {

const QString Caption = QStringLiteral("Framewhisk");

QMessageBox::Icon IconOf(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::Warning: return QMessageBox::Warning;
    case TMsgDlgType::Error: return QMessageBox::Critical;
    case TMsgDlgType::Information: return QMessageBox::Information;
    case TMsgDlgType::Confirmation: return QMessageBox::Question;
    case TMsgDlgType::Custom: break;
    }
    return QMessageBox::NoIcon;
}

// Buttons in the order the program lists them; the first is the default.
const std::vector<std::pair<TMsgDlgButton, std::pair<QMessageBox::StandardButton, TModalResult>>> ButtonTable = {
    {mbYes, {QMessageBox::Yes, TModalResult::Yes}},       {mbNo, {QMessageBox::No, TModalResult::No}},
    {mbOK, {QMessageBox::Ok, TModalResult::Ok}},          {mbCancel, {QMessageBox::Cancel, TModalResult::Cancel}},
    {mbAbort, {QMessageBox::Abort, TModalResult::Abort}}, {mbRetry, {QMessageBox::Retry, TModalResult::Retry}},
    {mbIgnore, {QMessageBox::Ignore, TModalResult::Ignore}},
};

}  // namespace

void SayDesktopFailures() {
    SetDesktopFailureHandler([](const TDesktopRequest& request) { ShowMessage(DesktopFailureText(request)); });
}

QString FileDialogStartFolder(const TFileDialogRequest& request) {
    if (!request.InitialDir.isEmpty())
        return QDir::cleanPath(request.InitialDir);
    const QFileInfo proposed(request.FileName);
    if (!request.FileName.isEmpty() && proposed.absoluteDir().exists())
        return QDir::cleanPath(proposed.absolutePath());
    return QString();
}

QString FileDialogFilter(const QString& filter) {
    // "Movies|*.avi;*.MPG|All|*.*" -> "Movies (*.[aA][vV][iI] *.[mM][pP][gG]);;All (*)".
    // Qt matches names case-sensitively on Linux; the bracket form matches
    // either case, as users of files named CLIP.AVI expect.
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& raw : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString pattern = raw.trimmed();
            if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*")) {
                patterns << QStringLiteral("*");
                continue;
            }
            QString either;
            for (const QChar c : pattern) {
                if (c.isLetter() && c.toLower() != c.toUpper())
                    either += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
                else
                    either += c;
            }
            patterns << either;
        }
        QString description = parts[i].trimmed();
        // The description often repeats its patterns; Qt takes the last
        // parenthesised group as the patterns, so drop a repeated one.
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open > 0 && description.endsWith(QLatin1Char(')')))
            description = description.left(open).trimmed();
        entries << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
    }
    return entries.join(QStringLiteral(";;"));
}

namespace {

class TQtPrompts : public TPrompts {
public:
    void ShowMessage(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, Caption, text, QMessageBox::Ok);
        box.exec();
    }

    TModalResult MessageDlg(const QString& text, TMsgDlgType type, unsigned buttons) override {
        QMessageBox box(IconOf(type), Caption, text, QMessageBox::NoButton);
        std::vector<std::pair<QAbstractButton*, TModalResult>> made;
        for (const auto& [flag, what] : ButtonTable) {
            if (buttons & flag)
                made.emplace_back(box.addButton(what.first), what.second);
        }
        if (made.empty())
            made.emplace_back(box.addButton(QMessageBox::Ok), TModalResult::Ok);
        box.setDefaultButton(qobject_cast<QPushButton*>(made.front().first));
        // Escape means Cancel where there is one, else No.
        for (const TModalResult escape : {TModalResult::Cancel, TModalResult::No}) {
            auto found = std::find_if(made.begin(), made.end(), [&](const auto& b) { return b.second == escape; });
            if (found != made.end()) {
                box.setEscapeButton(found->first);
                break;
            }
        }
        box.exec();
        for (const auto& [button, result] : made) {
            if (box.clickedButton() == button)
                return result;
        }
        return TModalResult::Cancel;
    }

    bool ExecuteFileDialog(QWidget* owner, TFileDialogRequest& request) override {
        QFileDialog dialog(owner, request.Title);
        dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.OverwritePrompt);
        // The filter list shows names ("All files"), not the either-case patterns behind them.
        dialog.setOption(QFileDialog::HideNameFilterDetails, true);
        if (!request.Filter.isEmpty()) {
            const QStringList filters = FileDialogFilter(request.Filter).split(QStringLiteral(";;"));
            dialog.setNameFilters(filters);
            if (request.FilterIndex >= 1 && request.FilterIndex <= filters.size())
                dialog.selectNameFilter(filters[request.FilterIndex - 1]);
        }
        if (!request.DefaultExt.isEmpty())
            dialog.setDefaultSuffix(request.DefaultExt);
        const QFileInfo proposed(request.FileName);
        const QString start = FileDialogStartFolder(request);
        if (!start.isEmpty())
            dialog.setDirectory(start);
        if (!request.FileName.isEmpty())
            dialog.selectFile(proposed.fileName());
        if (dialog.exec() != QDialog::Accepted)
            return false;
        QStringList chosen = dialog.selectedFiles();
        // Qt's own dialog reads quoted parts of a typed name as several names
        // ("a" "b"): a name to save under is taken whole, as typed.
        if (request.Save) {
            const auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (edit && !edit->text().isEmpty() && edit->text().contains(QLatin1Char('"'))) {
                QString name = QDir(dialog.directory()).absoluteFilePath(edit->text());
                if (!request.DefaultExt.isEmpty() && QFileInfo(name).suffix().isEmpty())
                    name += QLatin1Char('.') + request.DefaultExt;
                chosen = QStringList{name};
            }
        }
        if (chosen.isEmpty() || chosen.first().isEmpty())
            return false;
        request.Files = chosen;
        request.FileName = chosen.first();
        return true;
    }

    bool ExecuteFolderDialog(QWidget* owner, const QString& comment, QString& directory) override {
        return BrowseForFolder(owner, comment, directory, false);
    }

    TModalResult ExecModal(QDialog& dialog) override {
        return dialog.exec() == QDialog::Accepted ? TModalResult::Ok : TModalResult::Cancel;
    }
};

std::unique_ptr<TPrompts>& Current() {
    static std::unique_ptr<TPrompts> current = std::make_unique<TQtPrompts>();
    return current;
}

}  // namespace

TPrompts& Prompts() { return *Current(); }

std::unique_ptr<TPrompts> SetPrompts(std::unique_ptr<TPrompts> prompts) {
    auto previous = std::move(Current());
    Current() = prompts ? std::move(prompts) : std::make_unique<TQtPrompts>();
    return previous;
}
