// The help bundle: the pages of one help "file", their table of contents,
// their index and the context numbers that lead to a page.
//
// A help file name such as "Framewhisk.chm" names the bundle "Framewhisk",
// compiled into the program as Qt resources below ":/help/Framewhisk/". The
// bundle's "toc.txt" lists one topic a line:
//     context|page.html|Title|keyword; keyword; ...
// Lines starting with "#" and blank lines are ignored. The first topic is the
// contents page. Qt Core only.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <vector>

struct THelpTopic {
    int Context = 0;        // the context number that opens this page (0: none)
    QString Page;           // file name inside the bundle
    QString Title;
    QStringList Keywords;   // index entries leading to this page
};

struct THelpIndexEntry {
    QString Keyword;
    int Topic = 0;          // index into Topics()
};

class THelpBundle {
public:
    // The bundle's name from a help file name: the bare file name without
    // folder and extension ("Framewhisk.chm" -> "Framewhisk").
    static QString BundleName(const QString& helpFile);

    // Loads the bundle named by the help file; false when it is missing or
    // lists no topic (the bundle is then empty).
    bool Load(const QString& helpFile);
    bool Empty() const { return FTopics.empty(); }

    const QString& Name() const { return FName; }
    const std::vector<THelpTopic>& Topics() const { return FTopics; }
    // Every keyword of every topic, sorted without regard to letter case.
    const std::vector<THelpIndexEntry>& Index() const { return FIndex; }

    // The topic opened by a context number; -1 when no topic has it.
    int TopicForContext(int context) const;
    // The address of a topic's page (qrc:).
    QUrl PageUrl(int topic) const;

private:
    QString FName;
    std::vector<THelpTopic> FTopics;
    std::vector<THelpIndexEntry> FIndex;
};
