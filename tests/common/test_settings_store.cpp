// TMyRegistry over the hive: section reads and writes, their encodings, the
// root date and the store's error texts.
#include "common/MyCommonParams.h"
#include "platform/Hive.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString Root = QStringLiteral("\\Software\\Quillmont\\FramewhiskStoreTest\\");

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The test's own settings folder outlives a run: start each test clean.
        THive::UserHive()->DeleteKey(Root);
        Store = std::make_unique<TMyRegistry>(Root);
        Hive = Store->Hive();
        ASSERT_NE(Hive, nullptr);
        ASSERT_TRUE(Hive->IsOpen()) << Hive->LastError().toStdString();
    }
    QString Key(const QString& section) const { return Root + section; }
    std::unique_ptr<TMyRegistry> Store;
    THive* Hive = nullptr;
};

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ERegistryException& e) {
        return e.what();
    }
    return "(no error)";
}

TEST_F(SettingsStoreTest, CreationTrimsThePathAndCreatesTheKey) {
    THive::UserHive()->DeleteKey(Root);
    TMyRegistry store(QStringLiteral(" \t\r\n") + Root + QStringLiteral("  \x01"));
    EXPECT_EQ(store.RootPath(), Root);
    EXPECT_TRUE(store.Hive()->KeyExists(Root));

    TMyRegistry empty(QStringLiteral(" \t "));
    EXPECT_TRUE(empty.RootPath().isEmpty());
    EXPECT_EQ(empty.ReadString("Preference", "VideoFolder", "def"), "def");
}

TEST_F(SettingsStoreTest, MissingSectionOrValueGivesTheDefaultAndCreatesNothing) {
    EXPECT_EQ(Store->ReadString("Preference", "VideoFolder", "/video/"), "/video/");
    EXPECT_EQ(Store->ReadInteger("Last settings", "Video width", 320), 320);
    EXPECT_TRUE(Store->ReadBool("Preference", "Show Preview", true));
    EXPECT_FALSE(Store->ReadBool("Preference", "Show Preview", false));
    EXPECT_FALSE(Hive->KeyExists(Key("Preference")));
    EXPECT_FALSE(Hive->KeyExists(Key("Last settings")));

    Store->WriteString("Preference", "Other", "x");
    EXPECT_EQ(Store->ReadString("Preference", "VideoFolder", "/video/"), "/video/");
}

TEST_F(SettingsStoreTest, WritesStoreTextInTheirEncodings) {
    Store->WriteString("Last settings", "AVI video encoder", "Cinepak by Radius");
    Store->WriteInteger("Last settings", "Video width", 320);
    Store->WriteInteger("Last settings", "Negative", -2147483647 - 1);
    Store->WriteBool("Preference", "Show Preview", true);
    Store->WriteBool("Preference", "Show Result", false);
    const struct {
        const char* Section;
        const char* Name;
        const char* Stored;
    } cases[] = {
        {"Last settings", "AVI video encoder", "Cinepak by Radius"},
        {"Last settings", "Video width", "320"},
        {"Last settings", "Negative", "-2147483648"},
        {"Preference", "Show Preview", "1"},
        {"Preference", "Show Result", "0"},
    };
    for (const auto& c : cases) {
        const auto value = Hive->ReadValue(Key(c.Section), c.Name);
        ASSERT_TRUE(value.has_value()) << c.Name;
        EXPECT_EQ(value->Type, THiveValueType::Text) << c.Name;
        EXPECT_EQ(value->Data, QByteArray(c.Stored)) << c.Name;
    }
    EXPECT_EQ(Store->ReadInteger("Last settings", "Negative", 0), -2147483647 - 1);
    EXPECT_EQ(Store->ReadString("Last settings", "AVI video encoder", ""), "Cinepak by Radius");
}

// How stored text reads back as text, integer and boolean.
TEST_F(SettingsStoreTest, StoredTextReadsBackByType) {
    const struct {
        QByteArray Stored;
        QString AsText;
        int32_t AsInteger;  // default 7
        bool AsBoolTrue;    // default true
        bool AsBoolFalse;   // default false
    } cases[] = {
        {"", "", 7, true, false},  // empty text is text, but no number
        {"320", "320", 320, true, true},
        {"-5", "-5", -5, true, true},
        {"0", "0", 0, false, false},
        {"1", "1", 1, true, true},
        {"2", "2", 2, true, true},
        {"yes", "yes", 7, true, false},
        {" 12", " 12", 12, true, true},
        {"12 ", "12 ", 7, true, false},
        {"2147483647", "2147483647", 2147483647, true, true},
        {"2147483648", "2147483648", 7, true, false},
        {"-2147483649", "-2147483649", 7, true, false},
        {QByteArray("12\0" "99", 5), "12", 12, true, true},  // text ends at its first NUL
        {QByteArray("\0" "5", 2), "", 7, true, false},
        {QString::fromUtf8("Vidéo/").toUtf8(), QString::fromUtf8("Vidéo/"), 7, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Stored.toStdString());
        ASSERT_TRUE(Hive->WriteValue(Key("Section"), "Value", THiveValueType::Text, c.Stored));
        EXPECT_EQ(Store->ReadString("Section", "Value", "default"), c.AsText);
        EXPECT_EQ(Store->ReadInteger("Section", "Value", 7), c.AsInteger);
        EXPECT_EQ(Store->ReadBool("Section", "Value", true), c.AsBoolTrue);
        EXPECT_EQ(Store->ReadBool("Section", "Value", false), c.AsBoolFalse);
    }
    ASSERT_TRUE(Hive->WriteValue(Key("Section"), "Expand", THiveValueType::ExpandText, "$HOME"));
    EXPECT_EQ(Store->ReadString("Section", "Expand", ""), "$HOME");
}

TEST_F(SettingsStoreTest, ValueOfAnotherTypeIsReportedByName) {
    ASSERT_TRUE(Hive->WriteValue(Key("Last settings"), "Video width", THiveValueType::Number,
                                 QByteArray("\x40\x01\x00\x00", 4)));
    ASSERT_TRUE(Hive->WriteValue(Key("Last settings"), "Blob", THiveValueType::Binary, "320"));
    const char* expected = "Invalid data type for 'Video width'";
    EXPECT_EQ(ErrorOf([&] { Store->ReadString("Last settings", "Video width", ""); }), expected);
    EXPECT_EQ(ErrorOf([&] { Store->ReadInteger("Last settings", "Video width", 0); }), expected);
    EXPECT_EQ(ErrorOf([&] { Store->ReadBool("Last settings", "video WIDTH", false); }),
              "Invalid data type for 'video WIDTH'");
    EXPECT_EQ(ErrorOf([&] { Store->ReadString("Last settings", "Blob", ""); }), "Invalid data type for 'Blob'");
    // Empty data is empty text whatever its type.
    ASSERT_TRUE(Hive->WriteValue(Key("Last settings"), "Empty", THiveValueType::Binary, QByteArray()));
    EXPECT_EQ(Store->ReadString("Last settings", "Empty", "def"), "");
    EXPECT_EQ(Store->ReadInteger("Last settings", "Empty", 3), 3);
    // Writing text over it mends it.
    Store->WriteInteger("Last settings", "Video width", 640);
    EXPECT_EQ(Store->ReadInteger("Last settings", "Video width", 0), 640);
}

TEST_F(SettingsStoreTest, NamesIgnoreCaseAndKeepTheFirstWrittenCase) {
    Store->WriteInteger("Last settings", "Video Height", 240);
    Store->WriteInteger("LAST SETTINGS", "video height", 480);
    EXPECT_EQ(Store->ReadInteger("last settings", "VIDEO HEIGHT", 0), 480);
    EXPECT_EQ(Hive->SubKeyNames(Root), QStringList{"Last settings"});
    EXPECT_EQ(Hive->ValueNames(Key("Last settings")), QStringList{"Video Height"});
}

TEST_F(SettingsStoreTest, EveryReadGoesToTheHive) {
    Store->WriteString("Preference", "VideoFolder", "/a/");
    ASSERT_TRUE(Hive->WriteText(Key("Preference"), "VideoFolder", "/b/"));  // another copy of the program
    EXPECT_EQ(Store->ReadString("Preference", "VideoFolder", ""), "/b/");
    ASSERT_TRUE(Hive->DeleteValue(Key("Preference"), "VideoFolder"));
    EXPECT_EQ(Store->ReadString("Preference", "VideoFolder", "/kept/"), "/kept/");
}

TEST_F(SettingsStoreTest, RootDateIsEightLittleEndianBytes) {
    const double date = 45292.75;  // 2024-01-01 18:00
    Store->WriteRootDate("Last update check", date);
    const auto value = Hive->ReadValue(Root, "Last update check");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->Type, THiveValueType::Binary);
    EXPECT_EQ(value->Data.toHex(), QByteArray("00000000981de640"));
    EXPECT_EQ(Store->ReadRootDate("last update CHECK"), date);
}

TEST_F(SettingsStoreTest, RootDateErrors) {
    const struct {
        const char* Name;
        std::optional<THiveValueType> Type;  // nothing: no value stored
        QByteArray Data;
        const char* Error;
    } cases[] = {
        {"Missing", std::nullopt, {}, "Failed to get data for 'Missing'"},
        {"Nine bytes", THiveValueType::Binary, QByteArray(9, '\1'), "Failed to get data for 'Nine bytes'"},
        {"Four bytes", THiveValueType::Binary, QByteArray(4, '\1'), "Invalid data type for 'Four bytes'"},
        {"Empty", THiveValueType::Binary, QByteArray(), "Invalid data type for 'Empty'"},
        {"As text", THiveValueType::Text, QByteArray("12345678"), "Invalid data type for 'As text'"},
    };
    for (const auto& c : cases) {
        if (c.Type) {
            ASSERT_TRUE(Hive->WriteValue(Root, c.Name, *c.Type, c.Data));
        }
        EXPECT_EQ(ErrorOf([&] { Store->ReadRootDate(c.Name); }), c.Error);
    }
}

// A config folder that cannot be made: defaults come back, writes raise the
// store's errors, nothing crashes.
TEST(SettingsStoreWithoutFolder, ReadsGiveDefaultsAndWritesRaise) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("file/config")));
    {
        TMyRegistry store(Root);
        EXPECT_EQ(store.ReadString("Preference", "VideoFolder", "/v/"), "/v/");
        EXPECT_EQ(store.ReadInteger("Last settings", "PCM Mode", 0), 0);
        EXPECT_EQ(ErrorOf([&] { store.WriteString("Preference", "VideoFolder", "/x/"); }),
                  "Failed to create key Preference");
        EXPECT_EQ(ErrorOf([&] { store.WriteBool("Dialogs", "AutoUpdateCheck", true); }),
                  "Failed to create key Dialogs");
        EXPECT_EQ(ErrorOf([&] { store.WriteRootDate("Last update check", 1.0); }),
                  "Failed to set data for 'Last update check'");
        EXPECT_EQ(ErrorOf([&] { store.ReadRootDate("Last update check"); }),
                  "Failed to get data for 'Last update check'");
    }
    qputenv("XDG_CONFIG_HOME", saved);
    THive::TakeStartupNotice();
}

}  // namespace
