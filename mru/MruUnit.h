// The recent-files list: the most recently opened files, shown as numbered
// items inside a menu, kept in the settings hive (or an ini file when no hive
// key is given) from one run to the next. Every change of the list is
// written to its store at once (a killed process loses none of it).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>


#include <QMenu>

// Callback of a clicked item: the clicked menu item and the file name.
using TMRUMenuEvent = std::function<void(QObject* sender, const QString& fileName)>;

class TMostRecentFiles : public QObject {
    Q_OBJECT
public:
    // Every menu item the list makes carries this tag (QAction::data()).
    static constexpr int kItemTag = 0x0BAD1DEA;

    // Empty list, MaxFiles 9, ShowFullPath false, MenuPosition 0, no menu, no paths.
    explicit TMostRecentFiles(QObject* owner = nullptr);
    // Saves the list (errors are ignored). The menu items stay with the menu.
    ~TMostRecentFiles() override;

    uint32_t MaxFiles() const { return FMaxFiles; }
    // Clamped to 1..20; a change rebuilds the menu and stores the list (at
    // most MaxFiles entries). Lowering it shortens the list in memory at the
    // next AddFile.
    void SetMaxFiles(uint32_t value);

    bool ShowFullPath() const { return FShowFullPath; }
    void SetShowFullPath(bool value);

    QMenu* OwnerMenuItem() const { return FOwnerMenuItem.data(); }
    // The menu whose items the list manages; forgotten when the menu is destroyed.
    void SetOwnerMenuItem(QMenu* menu);

    // Index in the menu where the items start; at or beyond the item count
    // means after the last item. Takes effect at the next rebuild.
    uint32_t MenuPosition() const { return FMenuPosition; }
    void SetMenuPosition(uint32_t value) { FMenuPosition = value; }

    // Ini file (name or path), used only while RegPath is empty; loads.
    const QString& IniFile() const { return FIniFile; }
    void SetIniFile(const QString& value);
    // Key path in the user's hive ("\Software\...\Recent files\"); loads.
    const QString& RegPath() const { return FRegPath; }
    void SetRegPath(const QString& value);

    TMRUMenuEvent OnMenuClick;
    TMRUMenuEvent OnFileNotExist;

    // The list, most recent first.
    const QStringList& Files() const { return FFiles; }

    // Puts the file at the top of the list and stores it (nothing without a menu).
    void AddFile(const QString& fileName);
    void RebuildMenu();
    // The click handler of every file item: an existing file moves to the
    // top, a missing one leaves the list; either change is stored.
    void MenuItemClick(QObject* sender);

    void LoadFromRegistry();
    void LoadFromIniFile();
    // Writes MRU1..MRUn and removes stored values numbered above n; false
    // when the key cannot be written.
    bool SaveToRegistry();
    bool SaveToIniFile();

    // The ini file in use: IniFile when it has a folder, else the program's
    // folder + IniFile, else the program's path with the extension ".ini".
    QString IniFileName() const;

private:
    void Load();
    void Save();
    // Save() with every error ignored.
    void SaveQuietly();
    // After a change of the list or its length: stores it, rebuilds the menu.
    void Changed();

    QStringList FFiles;
    uint32_t FMaxFiles = 9;
    bool FShowFullPath = false;
    QPointer<QMenu> FOwnerMenuItem;
    uint32_t FMenuPosition = 0;
    QString FIniFile;
    QString FRegPath;
};
