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

    Label1 = new QLabel("Congratulation. You have spot an error in this program", this);
    Label1->move(8, 8);
    Label1->adjustSize();
    Label2 = new QLabel("Error:", this);
    Label2->move(8, 32);
    Label2->adjustSize();
    lbErrorMsg = new QLabel(this);
    lbErrorMsg->move(8, 48);
    lbErrorMsg->setTextFormat(Qt::PlainText);

    BitBtn1 = new QPushButton("OK", this);
    BitBtn1->setGeometry(216, 96, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

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
