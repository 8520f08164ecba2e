#include "help/MyBaseForm.h"

#include "help/HelpViewer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QShortcut>
#include <QVariant>

TD6MainForm::TD6MainForm(QWidget* parent) : QMainWindow(parent) {
    FHtmlHelpAvailable = HelpBundleAvailable(ApplicationHelpFile());
    // F1 belongs to this window only: dialogs are windows of their own and
    // carry no help, so F1 there does nothing.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::WindowShortcut);
    connect(f1, &QShortcut::activated, this, [this] {
        bool passOn = false;
        HandleHelpCommand(HELP_CONTEXT, 0, passOn);
    });
}

TD6MainForm::~TD6MainForm() {
    ReleaseHelpWindows();
}

void TD6MainForm::ShowHelpContents() {
    if (FHtmlHelpAvailable)
        HtmlHelp(ApplicationHelpFile(), HH_DISPLAY_TOC, 0);
}

void TD6MainForm::ShowHelpIndex() {
    if (FHtmlHelpAvailable)
        HtmlHelp(ApplicationHelpFile(), HH_DISPLAY_INDEX, 0);
}

bool TD6MainForm::HandleHelpCommand(uint16_t command, uint32_t data, bool& passOn) {
    passOn = false;
    switch (command) {
    case HELP_CONTEXT: {
        int context = 0;
        for (QWidget* w = QApplication::focusWidget(); w && context == 0; w = w->parentWidget()) {
            if (w == this)
                context = FHelpContext;
            else
                context = w->property(kHelpContextProperty).toInt();
        }
        if (context == 0 && !QApplication::focusWidget())
            context = FHelpContext;  // nothing focused: the window itself
        if (context == 0 || !FHtmlHelpAvailable)
            break;
        if (context == -1)
            ShowHelpContents();
        else
            HtmlHelp(ApplicationHelpFile(), HH_HELP_CONTEXT, context);
        break;
    }
    case HELP_CONTENTS:
    case HELP_CONTEXTPOPUP:
    case HELP_SETPOPUP_POS:
    case HELP_KEY:
        break;
    default:
        passOn = true;
        break;
    }
    return true;
}

void TD6MainForm::CloseHelpWindows() {
    if (!FHtmlHelpAvailable)
        return;
    HtmlHelp(QString(), HH_CLOSE_ALL, 0);
    QApplication::processEvents();
}

bool TD6MainForm::WMClose() {
    CloseHelpWindows();
    return close();
}

void TD6MainForm::closeEvent(QCloseEvent* event) {
    if (event->spontaneous())
        CloseHelpWindows();
    QMainWindow::closeEvent(event);
}
