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

    Image1 = new QLabel(this);
    Image1->setGeometry(15, 16, 41, 41);
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QuestionPicture());

    Image2 = new QLabel(this);
    Image2->setGeometry(0, 0, 33, 33);
    Image2->setPixmap(InformationPicture());
    Image2->hide();

    Memo1 = new QPlainTextEdit(this);
    Memo1->setGeometry(56, 8, 297, 81);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setFocusPolicy(Qt::NoFocus);
    // A plain message area, like a label: lines wrap at the memo's width and
    // no scroll bars eat into the few lines there is room for.
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->document()->setDocumentMargin(1);
    QPalette memoColours = Memo1->palette();
    memoColours.setColor(QPalette::Base, palette().color(QPalette::Window));
    Memo1->setPalette(memoColours);

    Panel1 = new QWidget(this);
    Panel1->setGeometry(0, height() - 33, width(), 33);

    cbNoMore = new QCheckBox("Don't show this message again", Panel1);
    // Wider than designed only when this desktop's font needs it; never under the OK button.
    cbNoMore->setGeometry(8, 8, std::clamp(cbNoMore->sizeHint().width(), 177, 184), 17);

    bOK = new QPushButton("OK", Panel1);
    bOK->setGeometry(192, 0, 75, 25);
    bOK->setDefault(true);
    connect(bOK, &QPushButton::clicked, this, &QDialog::accept);

    bCancel = new QPushButton("Cancel", Panel1);
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
    Memo1->clear();
    for (const QString& line : FLines)
        Memo1->appendPlainText(line);
    if (FLines.size() < 3)
        Memo1->setGeometry(Memo1->x(), 50, Memo1->width(), 50);
    if (kind == 2) {
        setWindowTitle("Information");
        bCancel->hide();
        bOK->move(bCancel->x(), bOK->y());
        Image1->setPixmap(Image2->pixmap());
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
