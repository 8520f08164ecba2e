#include "help/HelpViewer.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <map>
#include <memory>

namespace {

QString& HelpFileName() {
    static QString name;
    return name;
}

// One window per bundle. Closing it by hand only hides it for reuse;
// HH_CLOSE_ALL and ReleaseHelpWindows() destroy them.
std::map<QString, std::unique_ptr<THelpWindow>>& HelpWindows() {
    static std::map<QString, std::unique_ptr<THelpWindow>> windows;
    return windows;
}

}  // namespace

THelpWindow::THelpWindow(const THelpBundle& bundle) : QWidget(nullptr, Qt::Window), FBundle(bundle) {
    // A help window left open never keeps the program running.
    setAttribute(Qt::WA_QuitOnClose, false);
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(FBundle.Topics().empty() ? FBundle.Name() : FBundle.Topics().front().Title + QStringLiteral(" Help"));
    resize(760, 520);

    auto* split = new QSplitter(this);
    FTabs = new QTabWidget(split);
    FContents = new QTreeWidget(FTabs);
    FContents->setHeaderHidden(true);
    for (int i = 0; i < static_cast<int>(FBundle.Topics().size()); ++i) {
        auto* item = new QTreeWidgetItem(FContents, QStringList{FBundle.Topics()[i].Title});
        item->setData(0, Qt::UserRole, i);
    }
    FTabs->addTab(FContents, tr("Contents"));

    auto* indexPage = new QWidget(FTabs);
    auto* indexLayout = new QVBoxLayout(indexPage);
    indexLayout->setContentsMargins(2, 2, 2, 2);
    FIndexFilter = new QLineEdit(indexPage);
    FIndexFilter->setPlaceholderText(tr("Type the keyword to find"));
    FIndexList = new QListWidget(indexPage);
    indexLayout->addWidget(FIndexFilter);
    indexLayout->addWidget(FIndexList);
    FTabs->addTab(indexPage, tr("Index"));
    FillIndex({});

    FBrowser = new QTextBrowser(split);
    FBrowser->setOpenLinks(true);
    FBrowser->setOpenExternalLinks(false);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({220, 540});

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    connect(FContents, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        ShowTopic(item->data(0, Qt::UserRole).toInt());
    });
    connect(FContents, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        ShowTopic(item->data(0, Qt::UserRole).toInt());
    });
    connect(FIndexFilter, &QLineEdit::textChanged, this, &THelpWindow::FillIndex);
    connect(FIndexList, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        ShowTopic(item->data(Qt::UserRole).toInt());
    });
    connect(FIndexList, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        ShowTopic(item->data(Qt::UserRole).toInt());
    });
    // Links between pages keep the contents selection in step.
    connect(FBrowser, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
        for (int i = 0; i < static_cast<int>(FBundle.Topics().size()); ++i) {
            if (FBundle.PageUrl(i).path() == url.path()) {
                FCurrentTopic = i;
                if (auto* item = FContents->topLevelItem(i))
                    FContents->setCurrentItem(item);
            }
        }
    });
}

void THelpWindow::FillIndex(const QString& filter) {
    FIndexList->clear();
    for (const THelpIndexEntry& e : FBundle.Index()) {
        if (!filter.isEmpty() && !e.Keyword.startsWith(filter, Qt::CaseInsensitive))
            continue;
        auto* item = new QListWidgetItem(e.Keyword, FIndexList);
        item->setData(Qt::UserRole, e.Topic);
    }
}

void THelpWindow::Raise() {
    show();
    raise();
    activateWindow();
}

void THelpWindow::ShowContents() {
    FTabs->setCurrentIndex(0);
    if (FCurrentTopic < 0)
        ShowTopic(0);
    Raise();
}

void THelpWindow::ShowIndex() {
    FTabs->setCurrentIndex(1);
    if (FCurrentTopic < 0)
        ShowTopic(0);
    Raise();
    FIndexFilter->setFocus();
}

void THelpWindow::ShowTopic(int topic) {
    const QUrl url = FBundle.PageUrl(topic);
    if (url.isEmpty())
        return;
    FCurrentTopic = topic;
    FBrowser->setSource(url);
    if (auto* item = FContents->topLevelItem(topic))
        FContents->setCurrentItem(item);
    Raise();
}

bool THelpWindow::IndexTabShown() const { return FTabs->currentIndex() == 1; }

void SetApplicationHelpFile(const QString& helpFile) { HelpFileName() = helpFile; }
QString ApplicationHelpFile() { return HelpFileName(); }

bool HelpBundleAvailable(const QString& helpFile) {
    THelpBundle bundle;
    return bundle.Load(helpFile);
}

THelpWindow* HelpWindowFor(const QString& helpFile) {
    auto& windows = HelpWindows();
    auto it = windows.find(THelpBundle::BundleName(helpFile).toLower());
    return it == windows.end() ? nullptr : it->second.get();
}

int VisibleHelpWindowCount() {
    int n = 0;
    for (auto& [name, w] : HelpWindows()) {
        if (w->isVisible())
            ++n;
    }
    return n;
}

bool HtmlHelp(const QString& helpFile, int command, int data) {
    auto& windows = HelpWindows();
    if (command == HH_CLOSE_ALL) {
        ReleaseHelpWindows();
        return true;
    }
    if (command != HH_DISPLAY_TOC && command != HH_DISPLAY_INDEX && command != HH_HELP_CONTEXT)
        return false;

    const QString key = THelpBundle::BundleName(helpFile).toLower();
    THelpWindow* window = HelpWindowFor(helpFile);
    if (!window) {
        THelpBundle bundle;
        if (!bundle.Load(helpFile))
            return false;
        if (command == HH_HELP_CONTEXT && bundle.TopicForContext(data) < 0)
            return false;
        auto created = std::make_unique<THelpWindow>(bundle);
        window = created.get();
        windows[key] = std::move(created);
    }
    switch (command) {
    case HH_DISPLAY_TOC:
        window->ShowContents();
        return true;
    case HH_DISPLAY_INDEX:
        window->ShowIndex();
        return true;
    default: {
        const int topic = window->Bundle().TopicForContext(data);
        if (topic < 0)
            return false;
        window->Tabs()->setCurrentIndex(0);
        window->ShowTopic(topic);
        return true;
    }
    }
}

void ReleaseHelpWindows() {
    // Moved out first: destroying a window must not meet a half-cleared map.
    auto windows = std::move(HelpWindows());
    HelpWindows().clear();
    for (auto& [name, w] : windows)
        w->hide();
    windows.clear();
}
