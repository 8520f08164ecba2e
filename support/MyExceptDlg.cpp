#include "support/MyExceptDlg.h"

#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "support/DialogFonts.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

TFrmExcept::TFrmExcept(QWidget* owner) : QDialog(owner) {
    setWindowTitle("Error encountered");
    setFixedSize(317, 131);
    setFont(SansSerifFont(11));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    lbIntro = new QLabel("Congratulation. You have spot an error in this program", this);
    lbIntro->move(8, 8);
    lbIntro->adjustSize();
    lbErrorCaption = new QLabel("Error:", this);
    lbErrorCaption->move(8, 32);
    lbErrorCaption->adjustSize();
    lbErrorMsg = new QLabel(this);
    lbErrorMsg->move(8, 48);
    lbErrorMsg->setTextFormat(Qt::PlainText);

    btnOk = new QPushButton("OK", this);
    btnOk->setGeometry(216, 96, 75, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    cbSendMail = new QCheckBox("Send email report to the author", this);
    cbSendMail->setGeometry(8, 104, std::clamp(cbSendMail->sizeHint().width(), 185, 206), 17);
}

void ReportFatalError(const QString& message) {
    bool sendMail = false;
    {
        TFrmExcept dialog(nullptr);
        dialog.lbErrorMsg->setText(message);
        dialog.lbErrorMsg->adjustSize();
        QApplication::beep();
        Prompts().ExecModal(dialog);
        sendMail = dialog.cbSendMail->isChecked();
    }
    if (sendMail)
        ShellOpen(ErrorReportMailto(message));
    throw EAbortSilently();
}
