#include "platform/Hive.h"

#include <QDateTime>
#include <QDir>
#include <chrono>
#include <QFile>
#include <QFileInfo>
#include <map>
#include <sqlite3.h>

namespace {

struct TStmtFinalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using TStmt = std::unique_ptr<sqlite3_stmt, TStmtFinalizer>;

TStmt Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return nullptr;
    }
    return TStmt(raw);
}

void BindText(sqlite3_stmt* stmt, int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

void BindData(sqlite3_stmt* stmt, int index, THiveValueType type, const QByteArray& data) {
    // Text values go in as SQLite text so that the sqlite3 shell shows them
    // readably; everything else as a blob. An empty QByteArray has no data
    // pointer and would bind as NULL, hence the explicit empty forms.
    if (type == THiveValueType::Text || type == THiveValueType::ExpandText)
        sqlite3_bind_text(stmt, index, data.isEmpty() ? "" : data.constData(), int(data.size()), SQLITE_TRANSIENT);
    else if (data.isEmpty())
        sqlite3_bind_zeroblob(stmt, index, 0);
    else
        sqlite3_bind_blob(stmt, index, data.constData(), int(data.size()), SQLITE_TRANSIENT);
}

QString ColumnText(sqlite3_stmt* stmt, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(stmt, column)) : QString();
}

bool IsBrokenFile(int rc) {
    rc &= 0xff;
    return rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT || rc == SQLITE_FORMAT;
}

std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}

std::map<QString, std::weak_ptr<THive>>& OpenHives() {
    static std::map<QString, std::weak_ptr<THive>> hives;
    return hives;
}

QString& PendingNotice() {
    static QString notice;
    return notice;
}

void AddNotice(const QString& text) {
    std::lock_guard guard(RegistryLock());
    QString& notice = PendingNotice();
    if (!notice.isEmpty())
        notice += QLatin1Char('\n');
    notice += text;
}

const char* const SchemaSql =
    "CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY COLLATE NOCASE) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS vals(key TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO keys(path) VALUES('');";

// Writes a value; the name keeps the case it was first written with, type
// and data change.
const char* const UpsertValueSql =
    "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
    " ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data";

// Holds a write transaction; rolls back unless committed.
class TWriteTransaction {
public:
    explicit TWriteTransaction(sqlite3* db) : FDb(db) {
        FActive = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~TWriteTransaction() {
        if (FActive)
            sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool Active() const { return FActive; }
    bool Commit() {
        if (!FActive)
            return false;
        if (sqlite3_exec(FDb, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            return false;  // the destructor rolls back what is left
        FActive = false;
        return true;
    }

private:
    sqlite3* FDb;
    bool FActive = false;
};

}  // namespace

void THive::TDbCloser::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

// ---------------------------------------------------------------- opening

QString THive::UserHiveFileName() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The XDG rules say a relative value is to be ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/framewhisk/settings.db");
}

std::shared_ptr<THive> THive::UserHive() { return Open(UserHiveFileName()); }

std::shared_ptr<THive> THive::Open(const QString& fileName) {
    const QString path = QFileInfo(fileName).absoluteFilePath();
    {
        std::lock_guard guard(RegistryLock());
        if (auto existing = OpenHives()[path].lock())
            return existing;
    }
    // Opened outside the registry lock: opening may add a startup notice.
    auto hive = std::make_shared<THive>(TPassKey(), path);
    std::lock_guard guard(RegistryLock());
    if (auto existing = OpenHives()[path].lock())
        return existing;  // another thread won the race; ours closes again
    OpenHives()[path] = hive;
    return hive;
}

QString THive::TakeStartupNotice() {
    std::lock_guard guard(RegistryLock());
    QString notice;
    notice.swap(PendingNotice());
    return notice;
}

THive::THive(TPassKey, QString fileName) : FFileName(std::move(fileName)) { OpenFile(); }

THive::~THive() {
    std::lock_guard guard(FLock);
    SavePendingLocked(true);
}

void THive::OpenFile() {
    const QFileInfo info(FFileName);
    if (!QDir().mkpath(info.absolutePath())) {
        SetError(QStringLiteral("Cannot create the folder %1").arg(info.absolutePath()));
        AddNotice(QStringLiteral("The settings folder %1 cannot be created. Settings will not be kept.")
                      .arg(QDir::toNativeSeparators(info.absolutePath())));
        return;
    }
    bool broken = false;
    bool busy = false;
    if (TryOpen(broken, busy, FDb))
        return;
    if (busy) {
        // Another program holds the file: start at once on settings kept in
        // memory, and save them to the file once it is free.
        const QString why = FLastError;
        std::unique_ptr<sqlite3, TDbCloser> memory;
        if (OpenMemory(memory)) {
            FDb = std::move(memory);
            FPending = true;
            AddNotice(QStringLiteral("The settings file %1 is in use by another program (%2). Settings are kept "
                                     "while the program runs and saved to the file once it is free.")
                          .arg(FFileName, why));
            return;
        }
    }
    if (!broken) {
        AddNotice(QStringLiteral("The settings file %1 cannot be opened (%2). Settings will not be kept.")
                      .arg(FFileName, FLastError));
        return;
    }
    // Not a database we can read: keep it for the user, start a fresh one.
    const QString why = FLastError;
    if (!SetAside(why))
        return;
    if (!TryOpen(broken, busy, FDb))
        AddNotice(QStringLiteral("The settings file %1 cannot be opened (%2). Settings will not be kept.")
                      .arg(FFileName, FLastError));
}

bool THive::OpenMemory(std::unique_ptr<sqlite3, TDbCloser>& out) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr);
    std::unique_ptr<sqlite3, TDbCloser> db(raw);
    if (rc != SQLITE_OK || sqlite3_exec(raw, SchemaSql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    out = std::move(db);
    return true;
}

void THive::SavePendingLocked(bool force) {
    if (!FPending)
        return;
    // At most one try every two seconds: each may wait a moment for the lock.
    const auto now = std::chrono::steady_clock::now();
    if (!force && FLastTry && now - *FLastTry < std::chrono::seconds(2))
        return;
    FLastTry = now;
    bool broken = false, busy = false;
    std::unique_ptr<sqlite3, TDbCloser> file;
    const QString error = FLastError;
    if (!TryOpen(broken, busy, file)) {
        FLastError = error;
        return;
    }
    // What this session wrote goes into the file over what it holds.
    TWriteTransaction tx(file.get());
    TStmt keysIn = Prepare(FDb.get(), "SELECT path FROM keys");
    TStmt valsIn = Prepare(FDb.get(), "SELECT key, name, type, data FROM vals");
    TStmt keyOut = Prepare(file.get(), "INSERT OR IGNORE INTO keys(path) VALUES(?1)");
    TStmt valOut = Prepare(file.get(), UpsertValueSql);
    bool ok = tx.Active() && keysIn && valsIn && keyOut && valOut;
    while (ok && sqlite3_step(keysIn.get()) == SQLITE_ROW) {
        sqlite3_reset(keyOut.get());
        sqlite3_bind_value(keyOut.get(), 1, sqlite3_column_value(keysIn.get(), 0));
        ok = sqlite3_step(keyOut.get()) == SQLITE_DONE;
    }
    while (ok && sqlite3_step(valsIn.get()) == SQLITE_ROW) {
        sqlite3_reset(valOut.get());
        for (int i = 0; i < 4; ++i)
            sqlite3_bind_value(valOut.get(), i + 1, sqlite3_column_value(valsIn.get(), i));
        ok = sqlite3_step(valOut.get()) == SQLITE_DONE;
    }
    if (!ok || !tx.Commit())
        return;
    // The statements on the memory copy end before it is closed.
    keysIn.reset();
    valsIn.reset();
    keyOut.reset();
    valOut.reset();
    FDb = std::move(file);
    FPending = false;
}

bool THive::KeepInMemoryWhenBusyLocked(int failure) {
    if (FPending || !FDb)
        return false;
    const int code = failure & 0xff;
    if (code != SQLITE_BUSY && code != SQLITE_LOCKED)
        return false;
    // Another program holds the file for writing: carry on with a copy of
    // it in memory, saved into the file once it is free.
    std::unique_ptr<sqlite3, TDbCloser> memory;
    if (!OpenMemory(memory))
        return false;
    sqlite3_backup* copy = sqlite3_backup_init(memory.get(), "main", FDb.get(), "main");
    if (!copy)
        return false;
    const int rc = sqlite3_backup_step(copy, -1);
    sqlite3_backup_finish(copy);
    if (rc != SQLITE_DONE)
        return false;
    FDb = std::move(memory);
    FPending = true;
    FLastTry = std::chrono::steady_clock::now();
    return true;
}

bool THive::TryOpen(bool& broken, bool& busy, std::unique_ptr<sqlite3, TDbCloser>& out) {
    broken = false;
    busy = false;
    out.reset();
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(FFileName).constData(), &raw,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    std::unique_ptr<sqlite3, TDbCloser> db(raw);
    if (rc != SQLITE_OK) {
        FLastError = raw ? QString::fromUtf8(sqlite3_errmsg(raw)) : QStringLiteral("out of memory");
        broken = IsBrokenFile(rc);
        return false;
    }
    sqlite3_extended_result_codes(raw, 1);
    // Opening waits for a lock a short moment only (another copy of the
    // program starting at the same time holds it briefly); a file held for
    // longer is left for later rather than keeping the window from showing.
    sqlite3_busy_timeout(raw, 150);

    auto fail = [&](int code) {
        FLastError = QString::fromUtf8(sqlite3_errmsg(raw));
        broken = IsBrokenFile(code);
        busy = (code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED;
        return false;
    };

    // Switching to WAL needs a moment of exclusive access.
    for (int attempt = 0;; ++attempt) {
        rc = sqlite3_exec(raw, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if ((rc & 0xff) != SQLITE_BUSY || attempt >= 2)
            break;
        sqlite3_sleep(50);
    }
    if (rc != SQLITE_OK)
        return fail(rc);
    if ((rc = sqlite3_exec(raw, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr)) != SQLITE_OK)
        return fail(rc);

    // A truncated or damaged file can pass the header check; look deeper.
    {
        TStmt check = Prepare(raw, "PRAGMA quick_check");
        if (!check)
            return fail(sqlite3_errcode(raw));
        rc = sqlite3_step(check.get());
        if (rc != SQLITE_ROW)
            return fail(rc);
        const QString verdict = ColumnText(check.get(), 0);
        if (verdict != QLatin1String("ok")) {
            FLastError = verdict;
            broken = true;
            return false;
        }
    }
    // The tables are made once; a file that has them is only read here, so
    // that a writer of another program does not keep it from opening.
    const bool hasSchema = Prepare(raw, "SELECT path FROM keys LIMIT 0") &&
                           Prepare(raw, "SELECT key, name, type, data FROM vals LIMIT 0");
    if (!hasSchema) {
        TWriteTransaction tx(raw);
        if (!tx.Active())
            return fail(sqlite3_errcode(raw));
        if ((rc = sqlite3_exec(raw, SchemaSql, nullptr, nullptr, nullptr)) != SQLITE_OK)
            return fail(rc);
        if (!tx.Commit())
            return fail(sqlite3_errcode(raw));
    }
    // A database of someone else's making with tables of our names.
    if (!Prepare(raw, "SELECT path FROM keys LIMIT 0") ||
        !Prepare(raw, "SELECT key, name, type, data FROM vals LIMIT 0")) {
        FLastError = QStringLiteral("the tables are not those of a settings file");
        broken = true;
        return false;
    }
    // Later writes wait half a second at most for another program's lock.
    sqlite3_busy_timeout(raw, 500);
    out = std::move(db);
    return true;
}

bool THive::SetAside(const QString& why) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = FFileName + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = FFileName + QStringLiteral(".broken-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(FFileName, aside)) {
        SetError(QStringLiteral("Cannot rename the broken settings file %1").arg(FFileName));
        AddNotice(QStringLiteral("The settings file %1 is damaged (%2) and cannot be moved aside. "
                                 "Settings will not be kept.")
                      .arg(FFileName, why));
        return false;
    }
    // The journal files belong to the broken file; they go with it.
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString side = FFileName + QLatin1String(suffix);
        if (QFileInfo::exists(side))
            QFile::rename(side, aside + QLatin1String(suffix));
    }
    AddNotice(QStringLiteral("The settings file %1 could not be read (%2). It was kept as %3, "
                             "and the program starts with default settings.")
                  .arg(FFileName, why, aside));
    return true;
}

// ---------------------------------------------------------------- helpers

QString THive::NormaliseKey(const QString& path) {
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts).join(QLatin1Char('\\'));
}

QString THive::LastError() const {
    std::lock_guard guard(FLock);
    return FLastError;
}

void THive::SetError(const QString& what) {
    FLastError = FDb ? what + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(FDb.get())) : what;
}

bool THive::KeyExistsLocked(const QString& normalised) {
    TStmt stmt = Prepare(FDb.get(), "SELECT 1 FROM keys WHERE path = ?1");
    if (!stmt)
        return false;
    BindText(stmt.get(), 1, normalised);
    return sqlite3_step(stmt.get()) == SQLITE_ROW;
}

bool THive::CreateKeyLocked(const QString& normalised) {
    TStmt stmt = Prepare(FDb.get(), "INSERT OR IGNORE INTO keys(path) VALUES(?1)");
    if (!stmt)
        return false;
    // Every parent first, each keeping the case it was first written with.
    const QStringList parts = normalised.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    QString path;
    for (const QString& part : parts) {
        if (!path.isEmpty())
            path += QLatin1Char('\\');
        path += part;
        sqlite3_reset(stmt.get());
        BindText(stmt.get(), 1, path);
        if (sqlite3_step(stmt.get()) != SQLITE_DONE)
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- keys

bool THive::KeyExists(const QString& key) {
    std::lock_guard guard(FLock);
    return FDb && KeyExistsLocked(NormaliseKey(key));
}

bool THive::CreateKey(const QString& key) {
    std::lock_guard guard(FLock);
    SavePendingLocked(false);
    if (!FDb) {
        FLastError = QStringLiteral("The settings file is not open");
        return false;
    }
    const QString normalised = NormaliseKey(key);
    if (KeyExistsLocked(normalised))
        return true;
    for (int round = 0;; ++round) {
        int failure = SQLITE_OK;
        {
            TWriteTransaction tx(FDb.get());
            if (tx.Active() && CreateKeyLocked(normalised) && tx.Commit())
                return true;
            failure = sqlite3_errcode(FDb.get());
        }
        // Held by another program: once more, in memory.
        if (round > 0 || !KeepInMemoryWhenBusyLocked(failure))
            break;
    }
    SetError(QStringLiteral("Cannot create the key %1").arg(key));
    return false;
}

bool THive::DeleteKey(const QString& key) {
    std::lock_guard guard(FLock);
    SavePendingLocked(false);
    if (!FDb) {
        FLastError = QStringLiteral("The settings file is not open");
        return false;
    }
    const QString normalised = NormaliseKey(key);
    if (normalised.isEmpty()) {
        FLastError = QStringLiteral("The top of the hive cannot be deleted");
        return false;
    }
    TWriteTransaction tx(FDb.get());
    TStmt keys = Prepare(FDb.get(),
                         "DELETE FROM keys WHERE path = ?1 OR"
                         " (length(path) > length(?1) AND substr(path, 1, length(?1) + 1) = (?1 || '\\') COLLATE NOCASE)");
    TStmt vals = Prepare(FDb.get(),
                         "DELETE FROM vals WHERE key = ?1 OR"
                         " (length(key) > length(?1) AND substr(key, 1, length(?1) + 1) = (?1 || '\\') COLLATE NOCASE)");
    bool ok = tx.Active() && keys && vals;
    if (ok) {
        BindText(keys.get(), 1, normalised);
        BindText(vals.get(), 1, normalised);
        ok = sqlite3_step(vals.get()) == SQLITE_DONE && sqlite3_step(keys.get()) == SQLITE_DONE;
    }
    if (!ok || !tx.Commit()) {
        SetError(QStringLiteral("Cannot delete the key %1").arg(key));
        return false;
    }
    return true;
}

QStringList THive::SubKeyNames(const QString& key) {
    std::lock_guard guard(FLock);
    QStringList names;
    if (!FDb)
        return names;
    const QString normalised = NormaliseKey(key);
    TStmt stmt;
    if (normalised.isEmpty()) {
        stmt = Prepare(FDb.get(), "SELECT path FROM keys WHERE path <> '' AND instr(path, '\\') = 0"
                                  " ORDER BY path COLLATE NOCASE");
    } else {
        stmt = Prepare(FDb.get(),
                       "SELECT substr(path, length(?1) + 2) AS child FROM keys"
                       " WHERE length(path) > length(?1) + 1"
                       " AND substr(path, 1, length(?1) + 1) = (?1 || '\\') COLLATE NOCASE"
                       " AND instr(substr(path, length(?1) + 2), '\\') = 0"
                       " ORDER BY child COLLATE NOCASE");
        if (stmt)
            BindText(stmt.get(), 1, normalised);
    }
    if (!stmt)
        return names;
    while (sqlite3_step(stmt.get()) == SQLITE_ROW)
        names << ColumnText(stmt.get(), 0);
    return names;
}

// ---------------------------------------------------------------- values

std::optional<THiveValue> THive::ReadValue(const QString& key, const QString& name) {
    std::lock_guard guard(FLock);
    if (!FDb)
        return std::nullopt;
    TStmt stmt = Prepare(FDb.get(), "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
    if (!stmt)
        return std::nullopt;
    BindText(stmt.get(), 1, NormaliseKey(key));
    BindText(stmt.get(), 2, name);
    if (sqlite3_step(stmt.get()) != SQLITE_ROW)
        return std::nullopt;
    THiveValue value;
    value.Type = THiveValueType(sqlite3_column_int(stmt.get(), 0));
    const void* data = sqlite3_column_blob(stmt.get(), 1);
    const int size = sqlite3_column_bytes(stmt.get(), 1);
    if (data && size > 0)
        value.Data = QByteArray(static_cast<const char*>(data), size);
    return value;
}

bool THive::ValueExists(const QString& key, const QString& name) { return ReadValue(key, name).has_value(); }

bool THive::WriteValue(const QString& key, const QString& name, THiveValueType type, const QByteArray& data) {
    std::lock_guard guard(FLock);
    SavePendingLocked(false);
    if (!FDb) {
        FLastError = QStringLiteral("The settings file is not open");
        return false;
    }
    const QString normalised = NormaliseKey(key);
    for (int round = 0;; ++round) {
        int failure = SQLITE_OK;
        {
            TWriteTransaction tx(FDb.get());
            failure = sqlite3_errcode(FDb.get());
            TStmt stmt = Prepare(FDb.get(), UpsertValueSql);
            bool ok = tx.Active() && stmt && CreateKeyLocked(normalised);
            if (ok) {
                BindText(stmt.get(), 1, normalised);
                BindText(stmt.get(), 2, name);
                sqlite3_bind_int(stmt.get(), 3, int(type));
                BindData(stmt.get(), 4, type, data);
                ok = sqlite3_step(stmt.get()) == SQLITE_DONE;
            }
            stmt.reset();
            if (ok && tx.Commit())
                return true;
            if (tx.Active() || ok)
                failure = sqlite3_errcode(FDb.get());
        }
        // Held by another program: once more, in memory.
        if (round > 0 || !KeepInMemoryWhenBusyLocked(failure))
            break;
    }
    SetError(QStringLiteral("Cannot write the value %1 of %2").arg(name, key));
    return false;
}

bool THive::DeleteValue(const QString& key, const QString& name) {
    std::lock_guard guard(FLock);
    SavePendingLocked(false);
    if (!FDb) {
        FLastError = QStringLiteral("The settings file is not open");
        return false;
    }
    TStmt stmt = Prepare(FDb.get(), "DELETE FROM vals WHERE key = ?1 AND name = ?2");
    if (!stmt) {
        SetError(QStringLiteral("Cannot delete the value %1 of %2").arg(name, key));
        return false;
    }
    BindText(stmt.get(), 1, NormaliseKey(key));
    BindText(stmt.get(), 2, name);
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
        SetError(QStringLiteral("Cannot delete the value %1 of %2").arg(name, key));
        return false;
    }
    return true;
}

QStringList THive::ValueNames(const QString& key) {
    std::lock_guard guard(FLock);
    QStringList names;
    if (!FDb)
        return names;
    TStmt stmt = Prepare(FDb.get(), "SELECT name FROM vals WHERE key = ?1 ORDER BY name COLLATE NOCASE");
    if (!stmt)
        return names;
    BindText(stmt.get(), 1, NormaliseKey(key));
    while (sqlite3_step(stmt.get()) == SQLITE_ROW)
        names << ColumnText(stmt.get(), 0);
    return names;
}

std::optional<QString> THive::ReadText(const QString& key, const QString& name) {
    const auto value = ReadValue(key, name);
    if (!value || (value->Type != THiveValueType::Text && value->Type != THiveValueType::ExpandText))
        return std::nullopt;
    const qsizetype nul = value->Data.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? value->Data : value->Data.left(nul));
}

bool THive::WriteText(const QString& key, const QString& name, const QString& text) {
    return WriteValue(key, name, THiveValueType::Text, text.toUtf8());
}
