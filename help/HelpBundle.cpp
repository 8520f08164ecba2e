#include "help/HelpBundle.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>

QString THelpBundle::BundleName(const QString& helpFile) {
    return QFileInfo(helpFile).completeBaseName();
}

bool THelpBundle::Load(const QString& helpFile) {
    FName = BundleName(helpFile);
    FTopics.clear();
    FIndex.clear();
    if (FName.isEmpty())
        return false;
    QFile toc(QStringLiteral(":/help/%1/toc.txt").arg(FName));
    if (!toc.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&toc);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList f = line.split(QLatin1Char('|'));
        if (f.size() < 3 || f[1].trimmed().isEmpty())
            continue;
        THelpTopic t;
        bool ok = false;
        t.Context = f[0].trimmed().toInt(&ok);
        if (!ok)
            t.Context = 0;
        t.Page = f[1].trimmed();
        t.Title = f[2].trimmed();
        if (f.size() > 3) {
            for (const QString& k : f[3].split(QLatin1Char(';'))) {
                if (!k.trimmed().isEmpty())
                    t.Keywords << k.trimmed();
            }
        }
        // A page listed but not bundled would open blank: leave it out.
        if (!QFile::exists(QStringLiteral(":/help/%1/%2").arg(FName, t.Page)))
            continue;
        FTopics.push_back(t);
    }
    for (int i = 0; i < static_cast<int>(FTopics.size()); ++i) {
        FIndex.push_back({FTopics[i].Title, i});
        for (const QString& k : FTopics[i].Keywords)
            FIndex.push_back({k, i});
    }
    std::stable_sort(FIndex.begin(), FIndex.end(), [](const THelpIndexEntry& a, const THelpIndexEntry& b) {
        return a.Keyword.compare(b.Keyword, Qt::CaseInsensitive) < 0;
    });
    return !FTopics.empty();
}

int THelpBundle::TopicForContext(int context) const {
    if (context == 0)
        return -1;
    for (int i = 0; i < static_cast<int>(FTopics.size()); ++i) {
        if (FTopics[i].Context == context)
            return i;
    }
    return -1;
}

QUrl THelpBundle::PageUrl(int topic) const {
    if (topic < 0 || topic >= static_cast<int>(FTopics.size()))
        return {};
    return QUrl(QStringLiteral("qrc:/help/%1/%2").arg(FName, FTopics[topic].Page));
}
