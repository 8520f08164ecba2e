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

    pAbout = new QWidget(this);
    pAbout->setGeometry(0, 0, 332, 239);
    pAbout->setAutoFillBackground(true);
    QPalette panelColours = pAbout->palette();
    panelColours.setColor(QPalette::Window, QColor(0, 128, 192));
    pAbout->setPalette(panelColours);

    const QString description = "Convert video to uploadable format";
    // Later labels are drawn over earlier ones: the red copies show as shadows.
    lbDescriptionShadow = AboutLabel(pAbout, description, 18, 65, ComicFont(16, true), Qt::red);
    lbDescription = AboutLabel(pAbout, description, 20, 66, ComicFont(16, true), Qt::white);
    lbVersion = AboutLabel(pAbout, "Version", 24, 104, ArialFont(13, true), Qt::black);
    lbProgramNameShadow = AboutLabel(pAbout, ProgramName, 17, 21, ComicFont(32, true), Qt::red);
    lbProgramName = AboutLabel(pAbout, ProgramName, 19, 22, ComicFont(32, true), Qt::white);

    imIcon = new QLabel(pAbout);
    imIcon->setGeometry(264, 18, 32, 32);
    imIcon->setAttribute(Qt::WA_TranslucentBackground);
    imIcon->setPixmap(ProgramIconPicture());

    QFont linkFont = SansSerifFont(11);
    linkFont.setUnderline(true);
    lbEmail = AboutLabel(pAbout, QString("Email: ") + SupportAddress, 16, 127, linkFont, Qt::white);
    lbEmail->setCursor(Qt::PointingHandCursor);
    lbWebsite = AboutLabel(pAbout, QString("Website: ") + WebsiteAddress, 16, 143, linkFont, Qt::white);
    lbWebsite->setCursor(Qt::PointingHandCursor);
    // Room up to the speed label on the right and the panel's edge.
    FitLabelWidth(*lbEmail, 192 - 16 - 4);
    FitLabelWidth(*lbWebsite, 332 - 16 - 4);
    for (QLabel* title : {lbDescription, lbDescriptionShadow})
        FitLabelWidth(*title, 332 - 20 - 2);
    lbCPUSpeed = AboutLabel(pAbout, "???", 192, 128, ArialFont(11), Qt::white);

    mmCredits = new QPlainTextEdit(pAbout);
    mmCredits->setGeometry(16, 168, 305, 65);
    mmCredits->setReadOnly(true);
    mmCredits->setFrameShape(QFrame::NoFrame);
    mmCredits->setFont(SansSerifFont(11));
    mmCredits->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmCredits->setPlainText(CreditsText);
    mmCredits->setFocus();

    // Presses on these close the box; the links, the speed and the memo keep
    // theirs instead of passing them on to the panel.
    for (QWidget* closer : {static_cast<QWidget*>(pAbout), static_cast<QWidget*>(lbDescription), static_cast<QWidget*>(lbDescriptionShadow),
                            static_cast<QWidget*>(lbProgramNameShadow), static_cast<QWidget*>(lbProgramName),
                            static_cast<QWidget*>(lbVersion), static_cast<QWidget*>(imIcon)})
        closer->installEventFilter(this);
    for (QWidget* keeper : {static_cast<QWidget*>(lbEmail), static_cast<QWidget*>(lbWebsite),
                            static_cast<QWidget*>(lbCPUSpeed), static_cast<QWidget*>(mmCredits)}) {
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

void TAboutForm::lbEmailClick() {
    ShellOpen(QString("mailto:") + SupportAddress);
}

void TAboutForm::lbWebsiteClick() {
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
            if (watched == lbEmail)
                lbEmailClick();
            else if (watched == lbWebsite)
                lbWebsiteClick();
        }
        return false;
    }
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
        return false;
    if (watched == lbEmail || watched == lbWebsite || watched == lbCPUSpeed || watched == mmCredits)
        return false;
    reject();
    return true;
}

void ShowAbout(QWidget* owner) {
    auto box = std::make_unique<TAboutForm>(owner);
    Prompts().ExecModal(*box);
}
