// The in-program help viewer: a window per help bundle with a contents tab,
// an index tab and the page, plus the one call through which the program asks
// for help (the HtmlHelp-style command set).
#pragma once

#include "help/HelpBundle.h"

#include <QString>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;

// Commands of HtmlHelp().
enum THtmlHelpCommand : int {
    HH_DISPLAY_TOC = 1,
    HH_DISPLAY_INDEX = 2,
    HH_HELP_CONTEXT = 15,
    HH_CLOSE_ALL = 18,
};

// One help window showing one bundle. Top-level, owned by the help system;
// closing it by hand hides it for reuse.
class THelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit THelpWindow(const THelpBundle& bundle);

    const THelpBundle& Bundle() const { return FBundle; }
    void ShowContents();
    void ShowIndex();
    void ShowTopic(int topic);

    // What is on show, for callers and tests.
    int CurrentTopic() const { return FCurrentTopic; }
    bool IndexTabShown() const;
    QTextBrowser* Browser() const { return FBrowser; }
    QTabWidget* Tabs() const { return FTabs; }
    QListWidget* IndexList() const { return FIndexList; }
    QLineEdit* IndexFilter() const { return FIndexFilter; }

private:
    void FillIndex(const QString& filter);
    void Raise();

    THelpBundle FBundle;
    QTabWidget* FTabs = nullptr;
    QTreeWidget* FContents = nullptr;
    QLineEdit* FIndexFilter = nullptr;
    QListWidget* FIndexList = nullptr;
    QTextBrowser* FBrowser = nullptr;
    int FCurrentTopic = -1;
};

// The help file the application uses, a bare name like "Framewhisk.chm".
void SetApplicationHelpFile(const QString& helpFile);
QString ApplicationHelpFile();

// True when the bundle named by the help file exists in the program.
bool HelpBundleAvailable(const QString& helpFile);

// The HtmlHelp-style call: HH_DISPLAY_TOC, HH_DISPLAY_INDEX, HH_HELP_CONTEXT
// (data = the context number) open or reuse the bundle's window;
// HH_CLOSE_ALL (helpFile may be empty) closes every help window.
// False when the bundle is missing, the context is unknown or the command is
// not one of these.
bool HtmlHelp(const QString& helpFile, int command, int data);

// The open help window of a bundle, nullptr when none is open.
THelpWindow* HelpWindowFor(const QString& helpFile);
// Number of help windows on screen.
int VisibleHelpWindowCount();
// Closes and destroys every help window (HH_CLOSE_ALL; also at program end,
// before the application object goes).
void ReleaseHelpWindows();
