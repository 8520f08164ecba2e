#include "support/About.h"

#include "common/MyCommonParams.h"
#include "common/Prompts.h"
#include "support/DialogFonts.h"
#include "support/SupportInfo.h"
#include "support/SupportPictures.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <memory>

namespace {

QLabel* AboutLabel(QWidget* parent, const QString& text, int x, int y, const QFont& font, const QColor& colour) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setTextFormat(Qt::PlainText);
    label->move(x, y);
    label->adjustSize();
    return label;
}

const char* const CreditsText =
    "Copyright (C) 2004-2024 Quillmont Software.\n"
    "All rights reserved.\n"
    "\n"
    "Built with Qt, FFmpeg, SQLite, libjpeg-turbo, libpng, zlib, giflib and libcurl; "
    "thanks to their authors.";

}  // namespace

TAboutForm::TAboutForm(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setFixedSize(332, 239);

    Panel1 = new QWidget(this);
    Panel1->setGeometry(0, 0, 332, 239);
    Panel1->setAutoFillBackground(true);
    QPalette panelColours = Panel1->palette();
    panelColours.setColor(QPalette::Window, QColor(0, 128, 192));
    Panel1->setPalette(panelColours);

    const QString description = "Convert video to uploadable format";
    // Later labels are drawn over earlier ones: the red copies show as shadows.
    Label2 = AboutLabel(Panel1, description, 18, 65, ComicFont(16, true), Qt::red);
    Label1 = AboutLabel(Panel1, description, 20, 66, ComicFont(16, true), Qt::white);
    lbVersion = AboutLabel(Panel1, "Version", 24, 104, ArialFont(13, true), Qt::black);
    Label3 = AboutLabel(Panel1, ProgramName, 17, 21, ComicFont(32, true), Qt::red);
    Label4 = AboutLabel(Panel1, ProgramName, 19, 22, ComicFont(32, true), Qt::white);

    Image1 = new QLabel(Panel1);
    Image1->setGeometry(264, 18, 32, 32);
    Image1->setAttribute(Qt::WA_TranslucentBackground);
    Image1->setPixmap(ProgramIconPicture());

    QFont linkFont = SansSerifFont(11);
    linkFont.setUnderline(true);
    Label12 = AboutLabel(Panel1, QString("Email: ") + SupportAddress, 16, 127, linkFont, Qt::white);
    Label12->setCursor(Qt::PointingHandCursor);
    Label13 = AboutLabel(Panel1, QString("Website: ") + WebsiteAddress, 16, 143, linkFont, Qt::white);
    Label13->setCursor(Qt::PointingHandCursor);
    // Room up to the speed label on the right and the panel's edge.
    FitLabelWidth(*Label12, 192 - 16 - 4);
    FitLabelWidth(*Label13, 332 - 16 - 4);
    for (QLabel* title : {Label1, Label2})
        FitLabelWidth(*title, 332 - 20 - 2);
    lbCPUSpeed = AboutLabel(Panel1, "???", 192, 128, ArialFont(11), Qt::white);

    Memo1 = new QPlainTextEdit(Panel1);
    Memo1->setGeometry(16, 168, 305, 65);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setFont(SansSerifFont(11));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(CreditsText);
    Memo1->setFocus();

    // Presses on these close the box; the links, the speed and the memo keep
    // theirs instead of passing them on to the panel.
    for (QWidget* closer : {static_cast<QWidget*>(Panel1), static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                            static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label4),
                            static_cast<QWidget*>(lbVersion), static_cast<QWidget*>(Image1)})
        closer->installEventFilter(this);
    for (QWidget* keeper : {static_cast<QWidget*>(Label12), static_cast<QWidget*>(Label13),
                            static_cast<QWidget*>(lbCPUSpeed), static_cast<QWidget*>(Memo1)}) {
        keeper->setAttribute(Qt::WA_NoMousePropagation);
        keeper->installEventFilter(this);
    }
}

void TAboutForm::FormShow() {
    lbVersion->setText(QString("Version ") + ProgramVersion);
    lbVersion->adjustSize();
    lbCPUSpeed->setText("CPU speed:" + CpuSpeedText());
    FitLabelWidth(*lbCPUSpeed, 332 - 192 - 4);
}

void TAboutForm::Label12Click() {
    ShellOpen(QString("mailto:") + SupportAddress);
}

void TAboutForm::Label13Click() {
    ShellOpen(QString::fromLatin1(WebsiteAddress));
}

void TAboutForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TAboutForm::keyPressEvent(QKeyEvent* event) {
    // Keys the memo uses (scrolling, copying) never get here.
    event->accept();
    reject();
}

void TAboutForm::mousePressEvent(QMouseEvent* event) {
    event->accept();
    reject();
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton && widget->rect().contains(mouse->position().toPoint())) {
            if (watched == Label12)
                Label12Click();
            else if (watched == Label13)
                Label13Click();
        }
        return false;
    }
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
        return false;
    if (watched == Label12 || watched == Label13 || watched == lbCPUSpeed || watched == Memo1)
        return false;
    reject();
    return true;
}

void ShowAbout(QWidget* owner) {
    auto box = std::make_unique<TAboutForm>(owner);
    Prompts().ExecModal(*box);
}
