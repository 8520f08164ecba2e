// The settings hive: keys and values, names ignoring case, writes from two
// processes at once, a broken file kept aside, a folder that cannot be made.
#include "platform/Hive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class HiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        THive::TakeStartupNotice();  // notices of earlier tests
    }
    QString File(const QString& name = QStringLiteral("settings.db")) const { return Dir.filePath(name); }
    std::shared_ptr<THive> OpenFresh() {
        auto hive = THive::Open(File());
        EXPECT_TRUE(hive->IsOpen()) << hive->LastError().toStdString();
        return hive;
    }
    QTemporaryDir Dir;
};

QByteArray ReadAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& file, const QByteArray& data) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(data), data.size());
}

TEST(HiveKeys, NormaliseKeyDropsEmptyParts) {
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        {"", ""},
        {"\\", ""},
        {"\\\\\\", ""},
        {"\\Software\\Quillmont\\Framewhisk\\", "Software\\Quillmont\\Framewhisk"},
        {"Software\\\\Quillmont", "Software\\Quillmont"},
        {"Recent files\\", "Recent files"},
        {" a b \\c", " a b \\c"},  // blanks are part of names
    };
    for (const auto& c : cases)
        EXPECT_EQ(THive::NormaliseKey(QString::fromLatin1(c.In)), QString::fromLatin1(c.Out)) << c.In;
}

TEST_F(HiveTest, SameFileSharesOneInstance) {
    auto a = THive::Open(File());
    auto b = THive::Open(Dir.path() + QStringLiteral("/./settings.db"));
    EXPECT_EQ(a.get(), b.get());
}

TEST_F(HiveTest, UserHiveFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(Dir.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(Dir.path() + "/cfg"));
    EXPECT_EQ(THive::UserHiveFileName(), Dir.path() + "/cfg/framewhisk/settings.db");
    qputenv("XDG_CONFIG_HOME", "relative/cfg");  // ignored, as the XDG rules say
    EXPECT_EQ(THive::UserHiveFileName(), Dir.path() + "/.config/framewhisk/settings.db");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(THive::UserHiveFileName(), Dir.path() + "/.config/framewhisk/settings.db");
    qputenv("HOME", savedHome);
    qputenv("XDG_CONFIG_HOME", saved);
}

TEST_F(HiveTest, CreatesKeysWithParentsAndListsThem) {
    auto hive = OpenFresh();
    EXPECT_TRUE(hive->KeyExists(""));
    EXPECT_FALSE(hive->KeyExists("\\Software\\Quillmont"));
    ASSERT_TRUE(hive->CreateKey("\\Software\\Quillmont\\Framewhisk\\Recent files\\"));
    EXPECT_TRUE(hive->KeyExists("Software"));
    EXPECT_TRUE(hive->KeyExists("software\\QUILLMONT\\framewhisk"));
    ASSERT_TRUE(hive->CreateKey("Software\\Quillmont\\Framewhisk\\Preference"));
    EXPECT_EQ(hive->SubKeyNames("\\Software\\Quillmont\\Framewhisk\\"),
              (QStringList{"Preference", "Recent files"}));
    EXPECT_EQ(hive->SubKeyNames(""), QStringList{"Software"});
    EXPECT_TRUE(hive->SubKeyNames("Software\\Missing").isEmpty());
}

TEST_F(HiveTest, NamesIgnoreCaseAndKeepTheirWrittenCase) {
    auto hive = OpenFresh();
    ASSERT_TRUE(hive->CreateKey("Root\\Last settings"));
    ASSERT_TRUE(hive->CreateKey("ROOT\\LAST SETTINGS\\Deeper"));  // the existing key, not a twin
    EXPECT_EQ(hive->SubKeyNames("root"), QStringList{"Last settings"});
    EXPECT_EQ(hive->SubKeyNames("root\\last settings"), QStringList{"Deeper"});

    ASSERT_TRUE(hive->WriteText("Root\\Last settings", "Video Height", "240"));
    ASSERT_TRUE(hive->WriteText("root\\last settings", "VIDEO HEIGHT", "480"));
    EXPECT_EQ(hive->ValueNames("ROOT\\Last Settings"), QStringList{"Video Height"});
    EXPECT_EQ(hive->ReadText("Root\\Last settings", "video height"), QString("480"));
    // Only ASCII letters fold: these are two names.
    ASSERT_TRUE(hive->WriteText("Root", QString::fromUtf8("Größe"), "1"));
    ASSERT_TRUE(hive->WriteText("Root", QString::fromUtf8("GRÖSSE"), "2"));
    EXPECT_EQ(hive->ValueNames("Root").size(), 2);
}

TEST_F(HiveTest, ValuesKeepTypeAndBytes) {
    auto hive = OpenFresh();
    const QByteArray nul("a\0b", 3);
    const struct {
        const char* Name;
        THiveValueType Type;
        QByteArray Data;
    } cases[] = {
        {"Text", THiveValueType::Text, QByteArray("Cinepak by Radius")},
        {"Empty text", THiveValueType::Text, QByteArray()},
        {"With NUL", THiveValueType::Text, nul},
        {"Unicode", THiveValueType::ExpandText, QString::fromUtf8("$HOME/Vidéo").toUtf8()},
        {"Binary", THiveValueType::Binary, QByteArray("\x00\x01\xff\x80", 4)},
        {"Empty binary", THiveValueType::Binary, QByteArray()},
        {"Number", THiveValueType::Number, QByteArray("\x40\x01\x00\x00", 4)},
    };
    for (const auto& c : cases)
        ASSERT_TRUE(hive->WriteValue("K", c.Name, c.Type, c.Data)) << c.Name;
    for (const auto& c : cases) {
        const auto value = hive->ReadValue("\\K\\", c.Name);
        ASSERT_TRUE(value.has_value()) << c.Name;
        EXPECT_EQ(value->Type, c.Type) << c.Name;
        EXPECT_EQ(value->Data, c.Data) << c.Name;
    }
    EXPECT_EQ(hive->ReadText("K", "With NUL"), QString("a"));
    EXPECT_FALSE(hive->ReadText("K", "Binary").has_value());
    EXPECT_FALSE(hive->ReadValue("K", "Missing").has_value());
    EXPECT_FALSE(hive->ReadValue("Missing key", "Text").has_value());
    // Overwriting changes the type too.
    ASSERT_TRUE(hive->WriteValue("K", "Text", THiveValueType::Number, QByteArray(4, '\0')));
    EXPECT_EQ(hive->ReadValue("K", "Text")->Type, THiveValueType::Number);
}

TEST_F(HiveTest, DeletesValuesAndWholeSubtrees) {
    auto hive = OpenFresh();
    ASSERT_TRUE(hive->WriteText("App\\Recent files", "MRU1", "/a.avi"));
    ASSERT_TRUE(hive->WriteText("App\\Recent files", "MRU2", "/b.avi"));
    ASSERT_TRUE(hive->WriteText("App\\Recent files\\Sub", "x", "1"));
    ASSERT_TRUE(hive->WriteText("App\\Recent", "keep", "1"));         // a name that is a prefix
    ASSERT_TRUE(hive->WriteText("App\\Recent filesX", "keep", "1"));  // and one that extends it

    EXPECT_TRUE(hive->DeleteValue("App\\Recent files", "mru2"));
    EXPECT_EQ(hive->ValueNames("App\\Recent files"), QStringList{"MRU1"});
    EXPECT_TRUE(hive->DeleteValue("App\\Recent files", "never there"));

    EXPECT_TRUE(hive->DeleteKey("APP\\RECENT FILES"));
    EXPECT_FALSE(hive->KeyExists("App\\Recent files"));
    EXPECT_FALSE(hive->KeyExists("App\\Recent files\\Sub"));
    EXPECT_FALSE(hive->ReadValue("App\\Recent files", "MRU1").has_value());
    EXPECT_FALSE(hive->ReadValue("App\\Recent files\\Sub", "x").has_value());
    EXPECT_EQ(hive->ReadText("App\\Recent", "keep"), QString("1"));
    EXPECT_EQ(hive->ReadText("App\\Recent filesX", "keep"), QString("1"));
    EXPECT_EQ(hive->SubKeyNames("App"), (QStringList{"Recent", "Recent filesX"}));
    EXPECT_FALSE(hive->DeleteKey("\\"));
    EXPECT_TRUE(hive->KeyExists(""));
}

TEST_F(HiveTest, WritesAreInTheFileWhenTheCallReturns) {
    auto hive = OpenFresh();
    ASSERT_TRUE(hive->WriteText("K", "Name", "kept"));
    // Another connection (a second copy of the program) sees it at once.
    QFile::link(Dir.path(), Dir.path() + "-link");
    auto other = THive::Open(Dir.path() + "-link/settings.db");
    ASSERT_NE(other.get(), hive.get());
    EXPECT_EQ(other->ReadText("k", "name"), QString("kept"));
    ASSERT_TRUE(other->WriteText("K", "Name", "changed"));
    EXPECT_EQ(hive->ReadText("K", "Name"), QString("changed"));  // no cache
    QFile::remove(Dir.path() + "-link");
}

// Each child opens its own connection and writes its own values and one
// shared value, all at the same time. Nothing may be lost.
TEST_F(HiveTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int Writers = 2;
    constexpr int PerWriter = 150;
    const QString file = File("shared.db");  // not opened by this process before the children run
    pid_t children[Writers];
    for (int w = 0; w < Writers; ++w) {
        children[w] = fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            int failures = 0;
            {
                auto hive = THive::Open(file);
                for (int i = 0; i < PerWriter; ++i) {
                    const QString name = QStringLiteral("W%1-%2").arg(w).arg(i);
                    failures += !hive->WriteText(QStringLiteral("Shared\\Writer %1").arg(w), name, name);
                    failures += !hive->WriteText("Shared", "Last", QString::number(w));
                }
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer reported a failed write";
    }
    auto hive = THive::Open(file);
    ASSERT_TRUE(hive->IsOpen());
    for (int w = 0; w < Writers; ++w) {
        const QString key = QStringLiteral("Shared\\Writer %1").arg(w);
        EXPECT_EQ(hive->ValueNames(key).size(), PerWriter);
        for (int i = 0; i < PerWriter; ++i) {
            const QString name = QStringLiteral("W%1-%2").arg(w).arg(i);
            EXPECT_EQ(hive->ReadText(key, name), name);
        }
    }
    const auto last = hive->ReadText("Shared", "Last");
    ASSERT_TRUE(last.has_value());
    EXPECT_TRUE(*last == "0" || *last == "1");
    EXPECT_EQ(hive->ValueNames("Shared").size(), 1);
}

QByteArray ValidHiveBytes(const QString& file) {
    {
        auto hive = THive::Open(file);
        for (int i = 0; i < 400; ++i)
            hive->WriteText(QStringLiteral("K%1").arg(i), "v", QString(200, QLatin1Char('x')));
    }
    // Fold the journal into the main file so that the bytes are the whole hive.
    QFile::remove(file + "-wal");
    QFile::remove(file + "-shm");
    return ReadAll(file);
}

TEST_F(HiveTest, BrokenFileIsKeptAsideAndAFreshOneStarts) {
    const QByteArray valid = ValidHiveBytes(File("template.db"));
    ASSERT_GT(valid.size(), 8192);
    const struct {
        const char* What;
        QByteArray Bytes;
    } cases[] = {
        {"text, not a database", QByteArray("[Preference]\nVideoFolder=/tmp\n")},
        {"zeros", QByteArray(4096, '\0')},
        {"a database cut short", valid.left(valid.size() / 2)},
        {"a damaged header", QByteArray("SQLite format 3\0", 16) + QByteArray(200, '\x7f')},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const QString folder = Dir.filePath(QStringLiteral("case%1").arg(n++));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString file = folder + "/settings.db";
        WriteAll(file, c.Bytes);
        {
            auto hive = THive::Open(file);
            ASSERT_TRUE(hive->IsOpen()) << hive->LastError().toStdString();
            ASSERT_TRUE(hive->WriteText("Software\\Quillmont\\Framewhisk\\Main", "GUID", "{X}"));
            EXPECT_EQ(hive->ReadText("Software\\Quillmont\\Framewhisk\\Main", "GUID"), QString("{X}"));
        }
        const QStringList aside = QDir(folder).entryList({"settings.db.broken-*"}, QDir::Files);
        ASSERT_EQ(aside.size(), 1) << QDir(folder).entryList().join(' ').toStdString();
        EXPECT_EQ(ReadAll(folder + "/" + aside.first()), c.Bytes);  // kept byte for byte
        const QString notice = THive::TakeStartupNotice();
        EXPECT_TRUE(notice.contains(aside.first())) << notice.toStdString();
        EXPECT_TRUE(THive::TakeStartupNotice().isEmpty());  // told once
        // The fresh hive is a proper one: it opens again without complaint.
        auto again = THive::Open(file);
        EXPECT_EQ(again->ReadText("Software\\Quillmont\\Framewhisk\\Main", "GUID"), QString("{X}"));
        EXPECT_TRUE(THive::TakeStartupNotice().isEmpty());
    }
}

TEST_F(HiveTest, HealthyAndEmptyFilesAreNotSetAside) {
    WriteAll(File(), QByteArray());  // an empty file is an empty database
    auto hive = OpenFresh();
    EXPECT_TRUE(hive->WriteText("K", "v", "1"));
    EXPECT_TRUE(THive::TakeStartupNotice().isEmpty());
    EXPECT_EQ(QDir(Dir.path()).entryList({"*.broken-*"}, QDir::Files).size(), 0);
}

TEST_F(HiveTest, FolderThatCannotBeMadeGivesEmptyReadsAndFailedWrites) {
    WriteAll(File("plain-file"), "not a folder");
    auto hive = THive::Open(File("plain-file") + "/framewhisk/settings.db");
    EXPECT_FALSE(hive->IsOpen());
    EXPECT_FALSE(THive::TakeStartupNotice().isEmpty());
    EXPECT_FALSE(hive->KeyExists(""));
    EXPECT_FALSE(hive->ReadValue("K", "v").has_value());
    EXPECT_TRUE(hive->ValueNames("K").isEmpty());
    EXPECT_TRUE(hive->SubKeyNames("").isEmpty());
    EXPECT_FALSE(hive->CreateKey("K"));
    EXPECT_FALSE(hive->WriteText("K", "v", "1"));
    EXPECT_FALSE(hive->DeleteKey("K"));
    EXPECT_FALSE(hive->LastError().isEmpty());
    EXPECT_EQ(ReadAll(File("plain-file")), QByteArray("not a folder"));
}

}  // namespace

namespace {

// Another program's connection to a settings file, holding a transaction
// open until it is let go (as `sqlite3 FILE` with "BEGIN; ..." would).
class TOtherProgram {
public:
    TOtherProgram(const QString& file, const char* journalMode, const char* hold) {
        sqlite3_open(QFile::encodeName(file).constData(), &FDb);
        Exec((std::string("PRAGMA journal_mode=") + journalMode).c_str());
        Exec("CREATE TABLE IF NOT EXISTS other(x)");
        Exec(hold);
    }
    ~TOtherProgram() { sqlite3_close(FDb); }
    void Exec(const char* sql) { EXPECT_EQ(sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql; }
    void LetGo() { Exec("COMMIT"); }

private:
    sqlite3* FDb = nullptr;
};

}  // namespace

// Another program holding the settings file does not keep the settings from
// working: they are kept in memory (with a notice where the file could not
// even be opened) and saved into the file once it is free, over what the
// file holds.
TEST_F(HiveTest, FileHeldByAnotherProgramKeepsSettingsAndSavesThemLater) {
    struct {
        const char* Why;
        const char* Journal;
        const char* Hold;
        bool Notice;
    } cases[] = {
        // A reader in the classic journal mode: the switch to WAL must wait.
        {"reader, rollback journal", "DELETE", "BEGIN; SELECT count(*) FROM other;", true},
        // A writer on a WAL file: reading goes on, writing must wait.
        {"writer, WAL", "WAL", "BEGIN IMMEDIATE; INSERT INTO other VALUES(1);", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        const QString file = File(QString::fromLatin1(c.Journal) + ".db");
        {
            auto first = THive::Open(file);
            ASSERT_TRUE(first->WriteText("Software\\Kept", "Old", "from before"));
        }
        if (QString::fromLatin1(c.Journal) == "DELETE") {
            sqlite3* db = nullptr;
            sqlite3_open(QFile::encodeName(file).constData(), &db);
            sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        THive::TakeStartupNotice();
        auto other = std::make_unique<TOtherProgram>(file, c.Journal, c.Hold);
        {
            auto hive = THive::Open(file);
            ASSERT_TRUE(hive->IsOpen());
            const QString notice = THive::TakeStartupNotice();
            EXPECT_EQ(notice.contains("is in use by another program"), c.Notice) << notice.toStdString();
            EXPECT_TRUE(hive->WriteText("Software\\New", "Value", "written while held"));
            EXPECT_EQ(hive->ReadText("Software\\New", "Value"), QString("written while held"));
            other->LetGo();
            other.reset();
            // The next write (or closing) saves into the file.
        }
        auto again = THive::Open(file);
        EXPECT_EQ(again->ReadText("Software\\New", "Value"), QString("written while held"));
        EXPECT_EQ(again->ReadText("Software\\Kept", "Old"), QString("from before"));
        EXPECT_TRUE(THive::TakeStartupNotice().isEmpty());
    }
}
