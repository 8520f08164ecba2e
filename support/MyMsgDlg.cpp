#include "support/MyMsgDlg.h"

#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "support/DialogFonts.h"
#include "support/SupportPictures.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

TConfirmDlg::TConfirmDlg(QWidget* owner) : QDialog(owner) {
    setWindowTitle("Confirmation");
    setFixedSize(362, 126);
    setFont(SansSerifFont(11));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    imIcon = new QLabel(this);
    imIcon->setGeometry(15, 16, 41, 41);
    imIcon->setAttribute(Qt::WA_TranslucentBackground);
    imIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imIcon->setPixmap(QuestionPicture());

    imInformation = new QLabel(this);
    imInformation->setGeometry(0, 0, 33, 33);
    imInformation->setPixmap(InformationPicture());
    imInformation->hide();

    mmMessage = new QPlainTextEdit(this);
    mmMessage->setGeometry(56, 8, 297, 81);
    mmMessage->setReadOnly(true);
    mmMessage->setFrameShape(QFrame::NoFrame);
    mmMessage->setFocusPolicy(Qt::NoFocus);
    // A plain message area, like a label: lines wrap at the memo's width and
    // no scroll bars eat into the few lines there is room for.
    mmMessage->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mmMessage->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mmMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mmMessage->document()->setDocumentMargin(1);
    QPalette memoColours = mmMessage->palette();
    memoColours.setColor(QPalette::Base, palette().color(QPalette::Window));
    mmMessage->setPalette(memoColours);

    pButtons = new QWidget(this);
    pButtons->setGeometry(0, height() - 33, width(), 33);

    cbNoMore = new QCheckBox("Don't show this message again", pButtons);
    // Wider than designed only when this desktop's font needs it; never under the OK button.
    cbNoMore->setGeometry(8, 8, std::clamp(cbNoMore->sizeHint().width(), 177, 184), 17);

    bOK = new QPushButton("OK", pButtons);
    bOK->setGeometry(192, 0, 75, 25);
    bOK->setDefault(true);
    connect(bOK, &QPushButton::clicked, this, &QDialog::accept);

    bCancel = new QPushButton("Cancel", pButtons);
    bCancel->setGeometry(272, 0, 75, 25);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TConfirmDlg::~TConfirmDlg() {
    try {
        FormDestroy();
    } catch (...) {
        // Nothing can be reported from a destructor; ShowConfirmation calls
        // FormDestroy itself so that a store failure reaches the user.
    }
}

bool TConfirmDlg::Prepare(const QString& key, const QString& text, uint8_t kind) {
    FKey = key;
    if (SettingsStore && SettingsStore->ReadBool("Dialogs", key, false))
        return false;
    // Only the line feed separates; a carriage return stays in its line.
    FLines = text.split(QChar('\n'));
    mmMessage->clear();
    for (const QString& line : FLines)
        mmMessage->appendPlainText(line);
    if (FLines.size() < 3)
        mmMessage->setGeometry(mmMessage->x(), 50, mmMessage->width(), 50);
    if (kind == 2) {
        setWindowTitle("Information");
        bCancel->hide();
        bOK->move(bCancel->x(), bOK->y());
        imIcon->setPixmap(imInformation->pixmap());
    }
    return true;
}

void TConfirmDlg::FormDestroy() {
    if (FDestroyed)
        return;
    FDestroyed = true;
    if (cbNoMore->isChecked() && SettingsStore)
        SettingsStore->WriteBool("Dialogs", FKey, true);
}

bool ShowConfirmation(const TDialogText& prompt, QWidget* owner) {
    TConfirmDlg dialog(owner);
    if (!dialog.Prepare(prompt.Key, prompt.Text, prompt.Kind))
        return true;
    const bool result = Prompts().ExecModal(dialog) == TModalResult::Ok;
    dialog.FormDestroy();
    return result;
}
