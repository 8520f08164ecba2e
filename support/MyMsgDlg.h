// The confirmation prompt with "Don't show this message again".
#pragma once

#include "support/DialogText.h"

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

class TConfirmDlg : public QDialog {
    Q_OBJECT
public:
    explicit TConfirmDlg(QWidget* owner = nullptr);
    // Runs FormDestroy if ShowConfirmation did not (a store error is then lost).
    ~TConfirmDlg() override;

    // Loads the prompt; false when Dialogs/key is true (suppressed: do not show).
    bool Prepare(const QString& key, const QString& text, uint8_t kind);
    // Writes Dialogs/Key := true when cbNoMore is ticked, whatever closed the
    // dialog. Runs once; may throw ERegistryException from the store.
    void FormDestroy();

    // The message lines as split by Prepare (for the memo and for tests).
    const QStringList& MemoLines() const { return FLines; }
    const QString& Key() const { return FKey; }

    QLabel* imIcon;
    QLabel* imInformation;
    QPlainTextEdit* mmMessage;
    QWidget* pButtons;
    QCheckBox* cbNoMore;
    QPushButton* bOK;
    QPushButton* bCancel;

private:
    QString FKey;
    QStringList FLines;
    bool FDestroyed = false;
};

// True: go ahead (OK pressed, or the prompt is suppressed). False: declined
// (Cancel or the window closed otherwise). Runs the dialog through the
// prompts seam; the dialog is freed on every path.
bool ShowConfirmation(const TDialogText& prompt, QWidget* owner = nullptr);
