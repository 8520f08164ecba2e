#include "mru/MruUnit.h"

#include "common/Prompts.h"
#include "platform/Hive.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMenu>
#include <QRegularExpression>
#include <QSettings>
#include <algorithm>

namespace {

constexpr const char* kIniSection = "MRU List";

bool IsOwnItem(const QAction* a) {
    return a->data().isValid() && a->data().toInt() == TMostRecentFiles::kItemTag;
}

QString DisplayName(const QString& entry, bool fullPath) {
    if (fullPath)
        return entry;
    // What follows the last path separator (or a drive colon).
    const int cut = std::max({entry.lastIndexOf(QLatin1Char('/')), entry.lastIndexOf(QLatin1Char('\\')),
                              entry.lastIndexOf(QLatin1Char(':'))});
    return entry.mid(cut + 1);
}

int IndexOfIgnoringCase(const QStringList& list, const QString& name) {
    for (int i = 0; i < list.size(); ++i) {
        if (list[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

}  // namespace

TMostRecentFiles::TMostRecentFiles(QObject* owner) : QObject(owner) {}

TMostRecentFiles::~TMostRecentFiles() { SaveQuietly(); }

void TMostRecentFiles::SaveQuietly() {
    try {
        Save();
    } catch (...) {
        // A list that cannot be saved is simply not kept.
    }
}

void TMostRecentFiles::Changed() {
    // Stored at once, so that a crash or a killed process loses nothing.
    SaveQuietly();
    RebuildMenu();
}

void TMostRecentFiles::SetMaxFiles(uint32_t value) {
    value = std::clamp<uint32_t>(value, 1, 20);
    if (value == FMaxFiles)
        return;
    FMaxFiles = value;
    Changed();
}

void TMostRecentFiles::SetShowFullPath(bool value) {
    if (value == FShowFullPath)
        return;
    FShowFullPath = value;
    RebuildMenu();
}

void TMostRecentFiles::SetOwnerMenuItem(QMenu* menu) {
    FOwnerMenuItem = menu;
    RebuildMenu();
}

void TMostRecentFiles::SetIniFile(const QString& value) {
    FIniFile = value;
    if (FRegPath.isEmpty())
        LoadFromIniFile();
}

void TMostRecentFiles::SetRegPath(const QString& value) {
    FRegPath = value;
    Load();
}

void TMostRecentFiles::Load() {
    if (!FRegPath.isEmpty())
        LoadFromRegistry();
    else
        LoadFromIniFile();
}

void TMostRecentFiles::Save() {
    if (!FRegPath.isEmpty())
        SaveToRegistry();
    else
        SaveToIniFile();
}

QString TMostRecentFiles::IniFileName() const {
    if (!FIniFile.isEmpty()) {
        if (FIniFile.contains(QLatin1Char('/')))
            return FIniFile;
        return QCoreApplication::applicationDirPath() + QLatin1Char('/') + FIniFile;
    }
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    return exe.path() + QLatin1Char('/') + exe.completeBaseName() + QStringLiteral(".ini");
}

void TMostRecentFiles::LoadFromRegistry() {
    FFiles.clear();
    auto hive = THive::UserHive();
    if (hive && hive->KeyExists(FRegPath)) {
        for (uint32_t k = 1; k <= FMaxFiles; ++k) {
            const auto value = hive->ReadText(FRegPath, QStringLiteral("MRU%1").arg(k));
            if (!value)
                break;
            FFiles << *value;
        }
    }
    RebuildMenu();
}

void TMostRecentFiles::LoadFromIniFile() {
    FFiles.clear();
    const QString file = IniFileName();
    if (QFileInfo::exists(file)) {
        QSettings ini(file, QSettings::IniFormat);
        ini.beginGroup(QString::fromLatin1(kIniSection));
        for (uint32_t k = 1; k <= FMaxFiles; ++k) {
            const QString value = ini.value(QString::number(k)).toString();
            if (value.isEmpty())
                break;
            FFiles << value;
        }
    }
    RebuildMenu();
}

bool TMostRecentFiles::SaveToRegistry() {
    auto hive = THive::UserHive();
    if (!hive || !hive->CreateKey(FRegPath))
        return false;
    const int n = std::min<int>(FFiles.size(), static_cast<int>(FMaxFiles));
    bool ok = true;
    for (int k = 1; k <= n; ++k)
        ok = hive->WriteText(FRegPath, QStringLiteral("MRU%1").arg(k), FFiles[k - 1]) && ok;
    // Values above the list's length would bring removed entries back at the
    // next start: they go.
    static const QRegularExpression mruName(QStringLiteral("^MRU(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    for (const QString& name : hive->ValueNames(FRegPath)) {
        const auto m = mruName.match(name);
        if (m.hasMatch() && m.captured(1).toLongLong() > n)
            ok = hive->DeleteValue(FRegPath, name) && ok;
    }
    return ok;
}

bool TMostRecentFiles::SaveToIniFile() {
    QSettings ini(IniFileName(), QSettings::IniFormat);
    ini.beginGroup(QString::fromLatin1(kIniSection));
    const int n = std::min<int>(FFiles.size(), static_cast<int>(FMaxFiles));
    for (int k = 1; k <= n; ++k)
        ini.setValue(QString::number(k), FFiles[k - 1]);
    for (const QString& key : ini.childKeys()) {
        bool isNumber = false;
        if (key.toLongLong(&isNumber) > n && isNumber)
            ini.remove(key);
    }
    ini.endGroup();
    ini.sync();
    return ini.status() == QSettings::NoError;
}

void TMostRecentFiles::AddFile(const QString& fileName) {
    if (!FOwnerMenuItem)
        return;
    const int at = IndexOfIgnoringCase(FFiles, fileName);
    if (at == 0)
        return;
    if (at > 0)
        FFiles.removeAt(at);
    FFiles.insert(0, fileName);
    while (FFiles.size() > static_cast<int>(FMaxFiles))
        FFiles.removeAt(static_cast<int>(FMaxFiles));
    Changed();
}

void TMostRecentFiles::RebuildMenu() {
    QMenu* menu = FOwnerMenuItem.data();
    if (!menu)
        return;
    const QList<QAction*> existing = menu->actions();
    for (auto it = existing.crbegin(); it != existing.crend(); ++it) {
        if (IsOwnItem(*it)) {
            menu->removeAction(*it);
            (*it)->deleteLater();
        }
    }
    if (FFiles.isEmpty())
        return;

    auto makeSeparator = [this, menu] {
        auto* sep = new QAction(menu);
        sep->setSeparator(true);
        sep->setData(kItemTag);
        return sep;
    };
    auto insertAt = [menu](int index, QAction* action) {
        const QList<QAction*> items = menu->actions();
        menu->insertAction(index < items.size() ? items[index] : nullptr, action);
    };

    int count = menu->actions().size();
    int i = FMenuPosition < static_cast<uint32_t>(count) ? static_cast<int>(FMenuPosition) : count;
    if (i > 0 && !menu->actions()[i - 1]->isSeparator()) {
        insertAt(i, makeSeparator());
        ++i;
    }
    for (int k = 0; k < FFiles.size(); ++k) {
        if (FFiles[k].trimmed().isEmpty())
            continue;
        auto* item = new QAction(QStringLiteral("&%1  %2").arg(k + 1).arg(DisplayName(FFiles[k], FShowFullPath)), menu);
        item->setData(kItemTag);
        connect(item, &QAction::triggered, this, [this, item] { MenuItemClick(item); });
        insertAt(i, item);
        ++i;
    }
    count = menu->actions().size();
    if (i < count && !menu->actions()[i]->isSeparator())
        insertAt(i, makeSeparator());
}

void TMostRecentFiles::MenuItemClick(QObject* sender) {
    auto* clicked = qobject_cast<QAction*>(sender);
    QMenu* menu = FOwnerMenuItem.data();
    if (!clicked || !OnMenuClick || !menu)
        return;
    // The clicked item's place among our file items, matched to the
    // non-blank entries in list order.
    int place = -1;
    int n = 0;
    for (QAction* a : menu->actions()) {
        if (!IsOwnItem(a) || a->isSeparator())
            continue;
        if (a == clicked) {
            place = n;
            break;
        }
        ++n;
    }
    if (place < 0)
        return;
    int entry = -1;
    for (int k = 0, seen = 0; k < FFiles.size(); ++k) {
        if (FFiles[k].trimmed().isEmpty())
            continue;
        if (seen++ == place) {
            entry = k;
            break;
        }
    }
    if (entry < 0)
        return;

    const QString fileName = FFiles[entry];
    if (QFileInfo::exists(fileName)) {
        if (entry != 0) {
            FFiles.move(entry, 0);
            Changed();
        }
        OnMenuClick(clicked, fileName);
        return;
    }
    if (OnFileNotExist)
        OnFileNotExist(clicked, fileName);
    else
        MessageDlg(QStringLiteral("\"%1\"\nno longer exists.").arg(fileName), TMsgDlgType::Information, mbOK);
    // The callback may have changed the list; drop the entry by name.
    const int at = FFiles.indexOf(fileName);
    if (at >= 0)
        FFiles.removeAt(at);
    Changed();
}
