// The main window's menus: their items and separators, the keys of hidden
// items, the enabled state of items (kept also for hidden ones) and the
// switch that enables or disables every command of a menu or of the window.
#include "app/Main.h"

#include "support/SupportInfo.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QSlider>
#include <QToolButton>
#include <QVariant>

void TMainForm::CreateMenus() {
    auto item = [this](QMenu* menu, const char* name, const QString& caption, auto handler) {
        auto* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, [this, handler] { RunCommand([this, handler] { (this->*handler)(); }); });
        return a;
    };
    auto separator = [](QMenu* menu, const char* name) {
        auto* a = menu->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };

    Files1 = menuBar()->addMenu(QStringLiteral("&Files"));
    Files1->setObjectName(QStringLiteral("Files1"));
    Open1 = item(Files1, "Open1", QStringLiteral("Open movie"), &TMainForm::Open1Click);
    Browsesourcefolder1 = item(Files1, "Browsesourcefolder1", QStringLiteral("Browse last source folder"),
                               &TMainForm::Browsesourcefolder1Click);
    sepJobs = separator(Files1, "sepJobs");
    Capturethisframe1 = item(Files1, "Capturethisframe1", QStringLiteral("Capture this frame"),
                             &TMainForm::Capturethisframe1Click);
    Capturethisframe1->setVisible(false);
    SetItemEnabled(Capturethisframe1, false);
    AddHiddenShortcut(Capturethisframe1, QKeySequence(Qt::Key_F8));
    Startclipping1 = item(Files1, "Startclipping1", QStringLiteral("Start converting"), &TMainForm::Startclipping1Click);
    Startclipping1->setShortcut(QKeySequence(Qt::Key_F9));
    SetItemEnabled(Startclipping1, false);
    Startcapturingframes1 = item(Files1, "Startcapturingframes1", QStringLiteral("Start capturing images"),
                                 &TMainForm::Startcapturingframes1Click);
    Startcapturingframes1->setVisible(false);
    SetItemEnabled(Startcapturingframes1, false);
    AddHiddenShortcut(Startcapturingframes1, QKeySequence(Qt::Key_F10));
    sepVideoFolder = separator(Files1, "sepVideoFolder");
    Selectcapturedvideofolder1 = item(Files1, "Selectcapturedvideofolder1", QStringLiteral("Select captured video folder"),
                                      &TMainForm::Selectcapturedvideofolder1Click);
    Browsevideofolder1 = item(Files1, "Browsevideofolder1", QStringLiteral("Browse captured video folder"),
                              &TMainForm::Browsevideofolder1Click);
    Browsevideofolder1->setShortcut(QKeySequence(Qt::Key_F5));
    sepImageFolder = separator(Files1, "sepImageFolder");
    sepImageFolder->setVisible(false);
    SelectImageFolder1 = item(Files1, "SelectImageFolder1", QStringLiteral("Select captured image folder"),
                              &TMainForm::SelectImageFolder1Click);
    SelectImageFolder1->setVisible(false);
    BrowseImageFolder1 = item(Files1, "BrowseImageFolder1", QStringLiteral("Browse captured image folder"),
                              &TMainForm::BrowseImageFolder1Click);
    BrowseImageFolder1->setVisible(false);
    AddHiddenShortcut(BrowseImageFolder1, QKeySequence(Qt::Key_F6));
    sepExit = separator(Files1, "sepExit");
    Exit2 = item(Files1, "Exit2", QStringLiteral("Exit"), &TMainForm::Exit2Click);

    Edit1 = menuBar()->addMenu(QStringLiteral("&Edit"));
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->menuAction()->setVisible(false);
    Positionunit1 = Edit1->addMenu(QStringLiteral("Position unit..."));
    Positionunit1->setObjectName(QStringLiteral("Positionunit1"));
    Positionunit1->menuAction()->setVisible(false);
    FrameNumber1 = Positionunit1->addAction(QStringLiteral("Frame number"));
    FrameNumber1->setObjectName(QStringLiteral("FrameNumber1"));
    Timecode1 = Positionunit1->addAction(QStringLiteral("Time code"));
    Timecode1->setObjectName(QStringLiteral("Timecode1"));
    for (QAction* unit : {FrameNumber1, Timecode1}) {
        unit->setCheckable(true);
        // The click handler decides the check marks itself: undo Qt's toggle first.
        connect(unit, &QAction::triggered, this, [this, unit](bool checked) {
            unit->setChecked(!checked);
            RunCommand([this, unit] { Timecode1Click(unit); });
        });
    }
    Timecode1->setChecked(true);
    ShowPreview1 = Edit1->addAction(QStringLiteral("Show preview when clipping"));
    ShowPreview1->setObjectName(QStringLiteral("ShowPreview1"));
    ShowPreview1->setCheckable(true);
    ShowPreview1->setChecked(true);
    connect(ShowPreview1, &QAction::triggered, this, [this](bool checked) {
        ShowPreview1->setChecked(!checked);
        ShowPreview1Click();
    });
    AddHiddenShortcut(ShowPreview1, QKeySequence(Qt::Key_F7));
    Showresultwhenready1 = Edit1->addAction(QStringLiteral("Show result when ready"));
    Showresultwhenready1->setObjectName(QStringLiteral("Showresultwhenready1"));
    Showresultwhenready1->setCheckable(true);
    Showresultwhenready1->setChecked(true);

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Contents1 = item(Help1, "Contents1", QStringLiteral("Help contents"), &TMainForm::Contents1Click);
    Index1 = item(Help1, "Index1", QStringLiteral("Help index"), &TMainForm::Index1Click);
    Checkupdateautomatically1 = item(Help1, "Checkupdateautomatically1", QStringLiteral("Automatic update check"),
                                     &TMainForm::Checkupdateautomatically1Click);
    Checkupdateautomatically1->setCheckable(true);
    Checkupdate1 = item(Help1, "Checkupdate1", QStringLiteral("Check update"), &TMainForm::Checkupdate1Click);
    Emailsupport1 = item(Help1, "Emailsupport1", QStringLiteral("E-mail support"), &TMainForm::Emailsupport1Click);
    Website1 = item(Help1, "Website1", ::WebsiteCaption(), &TMainForm::Website1Click);
    sepAbout = separator(Help1, "sepAbout");
    About1 = item(Help1, "About1", QStringLiteral("About"), &TMainForm::About1Click);

    actSelStart = new QAction(QStringLiteral("Range start"), this);
    actSelStart->setObjectName(QStringLiteral("actSelStart"));
    actSelStart->setShortcut(QKeySequence(Qt::Key_F2));
    connect(actSelStart, &QAction::triggered, this, [this] { actSelStartExecute(); });
    actSelEnd = new QAction(QStringLiteral("Range end"), this);
    actSelEnd->setObjectName(QStringLiteral("actSelEnd"));
    actSelEnd->setShortcut(QKeySequence(Qt::Key_F3));
    connect(actSelEnd, &QAction::triggered, this, [this] { actSelEndExecute(); });
    addAction(actSelStart);
    addAction(actSelEnd);
}

QShortcut* TMainForm::AddHiddenShortcut(QAction* action, const QKeySequence& key) {
    // Qt switches off the shortcut of a hidden action (and of one in a hidden
    // menu), while these commands must still answer their keys: the window
    // carries the key itself and runs the item when it is reachable. The
    // item shows the key but never matches it on its own.
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetShortcut);
    auto* shortcut = new QShortcut(key, this);
    shortcut->setObjectName(action->objectName() + QStringLiteral("Key"));
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, action] {
        if (ShortcutReachable(action))
            action->trigger();
    });
    return shortcut;
}

namespace {
constexpr const char* kItemEnabledProperty = "fwItemEnabled";
}

void TMainForm::SetItemEnabled(QAction* item, bool enabled) {
    item->setProperty(kItemEnabledProperty, enabled);
    item->setEnabled(enabled);
}

bool TMainForm::ItemEnabled(const QAction* item) {
    if (item->isVisible())
        return item->isEnabled();
    const QVariant kept = item->property(kItemEnabledProperty);
    return kept.isValid() ? kept.toBool() : true;
}

bool TMainForm::ShortcutReachable(QAction* action) const {
    if (!action || !ItemEnabled(action))
        return false;
    // Climb through the menus above the item.
    for (QAction* a = action; a;) {
        QMenu* parentMenu = nullptr;
        for (QObject* o : a->associatedObjects()) {
            if (auto* m = qobject_cast<QMenu*>(o)) {
                parentMenu = m;
                break;
            }
        }
        if (!parentMenu)
            break;
        if (!ItemEnabled(parentMenu->menuAction()))
            return false;
        a = parentMenu->menuAction();
    }
    return true;
}

// ---------------------------------------------------------------- command switch

void TMainForm::SetCommandsEnabled(QObject* component, bool enabled) {
    if (auto* menu = qobject_cast<QMenu*>(component)) {
        for (QAction* a : menu->actions()) {
            SetItemEnabled(a, enabled);
            if (a->menu())
                SetCommandsEnabled(a->menu(), enabled);
        }
        return;
    }
    if (!component)
        return;
    // Speed buttons, drop-down lists and track bars of the window; Qt's own
    // inner widgets (unnamed or "qt_") are not commands.
    auto ours = [](QObject* o) { return !o->objectName().isEmpty() && !o->objectName().startsWith(QLatin1String("qt_")); };
    for (auto* b : component->findChildren<QToolButton*>())
        if (ours(b)) b->setEnabled(enabled);
    for (auto* c : component->findChildren<QComboBox*>())
        if (ours(c)) c->setEnabled(enabled);
    for (auto* t : component->findChildren<QSlider*>())
        if (ours(t)) t->setEnabled(enabled);
}
