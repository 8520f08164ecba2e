// The fatal error report: a small dialog that shows the error and can compose
// an error report e-mail, then the silent abort of the operation in progress.
#pragma once

#include "support/SupportInfo.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

class TFrmExcept : public QDialog {
    Q_OBJECT
public:
    explicit TFrmExcept(QWidget* owner = nullptr);

    QLabel* lbIntro;
    QLabel* lbErrorCaption;
    QLabel* lbErrorMsg;
    QPushButton* btnOk;
    QCheckBox* cbSendMail;
};

// For states the program cannot continue from. Beeps, shows `message` in a
// TFrmExcept (through the prompts seam), hands an error report e-mail to the
// desktop when "Send email report to the author" was ticked, and always ends
// by throwing EAbortSilently, which the application's top-level handler
// discards (see RunDiscardingSilentAbort).
[[noreturn]] void ReportFatalError(const QString& message);
