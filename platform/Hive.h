// The per-user settings hive: a tree of keys, each holding named, typed
// values, kept in one SQLite file:
//
//   $XDG_CONFIG_HOME/framewhisk/settings.db   (default ~/.config/framewhisk/)
//
// Keys are addressed by backslash paths ("\Software\Quillmont\Framewhisk\Recent files\");
// leading, trailing and doubled backslashes are ignored, so "" and "\" both name
// the top of the hive. Key and value names compare ignoring ASCII case and keep
// the case they were first written with.
//
// There is no cache: every call reads or writes the file, and every write is
// committed before the call returns. The file is opened in WAL mode with a
// busy timeout so that two running copies of the program share it; the last
// write of a value wins.
//
// Failures never throw: reads of anything missing or unreadable give an empty
// result, writes give false (LastError() says why). A hive whose folder cannot
// be created is "not open": reads give nothing, writes fail.
//
// Table layout (for inspection with the sqlite3 shell):
//   keys(path TEXT PRIMARY KEY COLLATE NOCASE)       -- "Software\Quillmont\Framewhisk"
//   vals(key TEXT COLLATE NOCASE, name TEXT COLLATE NOCASE,
//        type INTEGER, data BLOB, PRIMARY KEY(key, name))
//   type: 1 text, 2 expandable text, 3 binary, 4 32-bit number; text data is
//   UTF-8 without a terminating NUL, numbers are 4 bytes little-endian.
//
// Thread safety: each THive serialises its own calls; it may be shared.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <mutex>
#include <chrono>
#include <optional>

struct sqlite3;

enum class THiveValueType : int32_t {
    Text = 1,        // a string value
    ExpandText = 2,  // a string value that may hold $VARIABLES (stored as is)
    Binary = 3,      // raw bytes
    Number = 4,      // a 32-bit number, 4 bytes little-endian
};

struct THiveValue {
    THiveValueType Type = THiveValueType::Binary;
    QByteArray Data;
};

class THive {
public:
    // The hive of the current user (file from $XDG_CONFIG_HOME at the time of
    // the call). Every caller asking for the same file shares one instance.
    static std::shared_ptr<THive> UserHive();
    // The hive in a given file (created with its folder when missing); shared
    // per file like UserHive().
    static std::shared_ptr<THive> Open(const QString& fileName);
    // $XDG_CONFIG_HOME/framewhisk/settings.db, or ~/.config/framewhisk/settings.db.
    static QString UserHiveFileName();

    // A message for the user about something that happened while opening a
    // hive (a broken file renamed aside), or empty. Returns each notice once.
    static QString TakeStartupNotice();

    // "\a\\b\" -> "a\b": the form keys are stored and compared in.
    static QString NormaliseKey(const QString& path);

private:
    struct TPassKey {
        explicit TPassKey() = default;
    };

public:
    THive(TPassKey, QString fileName);  // through Open() only
    ~THive();
    THive(const THive&) = delete;
    THive& operator=(const THive&) = delete;

    const QString& FileName() const { return FFileName; }
    // False when the file could not be opened or created.
    bool IsOpen() const { return FDb != nullptr; }
    // Why the last failed call failed (English, for diagnostics).
    QString LastError() const;

    // The top of the hive ("") always exists while the hive is open.
    bool KeyExists(const QString& key);
    // Creates the key and any missing parents; true when it exists afterwards.
    bool CreateKey(const QString& key);
    // Deletes the key with its values and every key below it; true when it
    // does not exist afterwards. The top of the hive cannot be deleted.
    bool DeleteKey(const QString& key);

    // The value, or nothing when the key or the value is missing.
    std::optional<THiveValue> ReadValue(const QString& key, const QString& name);
    // Writes (creating the key and its parents when missing) and commits.
    bool WriteValue(const QString& key, const QString& name, THiveValueType type, const QByteArray& data);
    // True when the value does not exist afterwards.
    bool DeleteValue(const QString& key, const QString& name);
    bool ValueExists(const QString& key, const QString& name);

    // Names as written, sorted ignoring case; empty for a missing key.
    QStringList ValueNames(const QString& key);
    // Names of the keys directly below `key` (last path part only).
    QStringList SubKeyNames(const QString& key);

    // Text convenience: reads a text or expandable text value up to its first
    // NUL (nothing for a missing value or another type); writes a Text value.
    std::optional<QString> ReadText(const QString& key, const QString& name);
    bool WriteText(const QString& key, const QString& name, const QString& text);

private:
    struct TDbCloser {
        void operator()(sqlite3* db) const;
    };

    void OpenFile();
    bool TryOpen(bool& broken, bool& busy, std::unique_ptr<sqlite3, TDbCloser>& out);
    static bool OpenMemory(std::unique_ptr<sqlite3, TDbCloser>& out);
    // While another program holds the file the settings live in memory;
    // this tries to write them into the file and go on there.
    void SavePendingLocked(bool force);
    // After a write failed with `failure` because another program holds the
    // file: switches to a copy in memory (true) so that the write can be made.
    bool KeepInMemoryWhenBusyLocked(int failure);
    bool SetAside(const QString& why);
    bool Exec(const char* sql);
    bool CreateKeyLocked(const QString& normalised);
    bool KeyExistsLocked(const QString& normalised);
    void SetError(const QString& what);

    QString FFileName;
    std::unique_ptr<sqlite3, TDbCloser> FDb;
    QString FLastError;
    bool FPending = false;  // the settings are in memory, not yet in the file
    std::optional<std::chrono::steady_clock::time_point> FLastTry;
    mutable std::recursive_mutex FLock;
};
