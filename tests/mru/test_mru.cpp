// The recent-files list: order, limits, menu items, clicks and storage.
#include "mru/MruUnit.h"

#include "ScriptedPrompts.h"
#include "TestMovie.h"
#include "platform/Hive.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <gtest/gtest.h>
#include <functional>
#include <memory>

namespace {

class MruTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        RegPath = QStringLiteral("\\Software\\Quillmont\\FramewhiskTest\\%1\\Recent files\\")
                      .arg(QString::fromLatin1(info->name()));
        Hive = THive::UserHive();
        ASSERT_TRUE(Hive && Hive->IsOpen());
        Hive->DeleteKey(RegPath);
        Dir = QString::fromStdString(testmovie::MakeTempDir("mru"));
        Open = Menu.addAction(QStringLiteral("Open movie"));
        Menu.addSeparator();
        Exit = Menu.addAction(QStringLiteral("Exit"));
    }
    void TearDown() override { QDir(Dir).removeRecursively(); }

    // A list set up as the main window sets it up.
    std::unique_ptr<TMostRecentFiles> MakeList() {
        auto list = std::make_unique<TMostRecentFiles>();
        list->SetRegPath(RegPath);
        list->SetShowFullPath(true);
        list->SetMenuPosition(0x7fffffff);
        list->SetOwnerMenuItem(&Menu);
        list->OnMenuClick = [this](QObject*, const QString& name) { Clicked << name; };
        return list;
    }

    QString MakeFile(const QString& name) {
        const QString path = Dir + QLatin1Char('/') + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        return path;
    }

    QStringList Captions() const {
        QStringList out;
        for (QAction* a : Menu.actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    }

    QAction* Item(const QString& caption) const {
        for (QAction* a : Menu.actions())
            if (a->text() == caption)
                return a;
        return nullptr;
    }

    QStringList Stored() {
        QStringList out;
        for (const QString& name : Hive->ValueNames(RegPath))
            out << name + QLatin1Char('=') + Hive->ReadText(RegPath, name).value_or(QString());
        return out;
    }

    QString RegPath;
    std::shared_ptr<THive> Hive;
    QString Dir;
    QMenu Menu;
    QAction* Open = nullptr;
    QAction* Exit = nullptr;
    QStringList Clicked;
    TScriptedPromptsInstaller Prompts;
};

TEST_F(MruTest, FirstRunShowsNoItemsAndNoSeparator) {
    auto list = MakeList();
    EXPECT_TRUE(list->Files().isEmpty());
    EXPECT_EQ(Captions(), (QStringList{"Open movie", "-", "Exit"}));
}

TEST_F(MruTest, TenthFileDropsTheOldestAndNineAreStored) {
    {
        auto list = MakeList();
        for (int i = 1; i <= 10; ++i)
            list->AddFile(QStringLiteral("/movies/m%1.avi").arg(i));
        ASSERT_EQ(list->Files().size(), 9);
        EXPECT_EQ(list->Files().front(), QStringLiteral("/movies/m10.avi"));
        EXPECT_EQ(list->Files().back(), QStringLiteral("/movies/m2.avi"));
        const QStringList captions = Captions();
        ASSERT_EQ(captions.size(), 3 + 1 + 9);
        EXPECT_EQ(captions[3], QStringLiteral("-"));
        EXPECT_EQ(captions[4], QStringLiteral("&1  /movies/m10.avi"));
        EXPECT_EQ(captions[12], QStringLiteral("&9  /movies/m2.avi"));
    }  // destruction stores the list
    QStringList expected;
    for (int k = 1; k <= 9; ++k)
        expected << QStringLiteral("MRU%1=/movies/m%2.avi").arg(k).arg(11 - k);
    QStringList stored = Stored();
    stored.sort();
    expected.sort();
    EXPECT_EQ(stored, expected);

    // And they come back in the same order.
    Menu.clear();
    Menu.addAction(QStringLiteral("Exit"));
    auto again = MakeList();
    EXPECT_EQ(again->Files().size(), 9);
    EXPECT_EQ(again->Files().front(), QStringLiteral("/movies/m10.avi"));
}

TEST_F(MruTest, EveryChangeIsStoredAtOnce) {
    // The list stays alive throughout: what the store holds after each step
    // is what a killed process would leave behind.
    auto list = MakeList();
    const QString a = MakeFile("a.avi"), b = MakeFile("b.avi"), c = MakeFile("c.avi");
    list->OnFileNotExist = [](QObject*, const QString&) {};
    auto click = [this](int number, const QString& file) {
        QAction* item = Item(QStringLiteral("&%1  %2").arg(number).arg(file));
        ASSERT_NE(item, nullptr) << number << " " << file.toStdString();
        item->trigger();
    };
    const struct {
        const char* Step;
        std::function<void()> Change;
        QStringList Expected;  // MRU1, MRU2, ... in order
    } steps[] = {
        {"add a", [&] { list->AddFile(a); }, {a}},
        {"add b", [&] { list->AddFile(b); }, {b, a}},
        {"add c", [&] { list->AddFile(c); }, {c, b, a}},
        {"add a again", [&] { list->AddFile(a); }, {a, c, b}},
        {"click the third", [&] { click(3, b); }, {b, a, c}},
        {"click a missing file", [&] { QFile::remove(a); click(2, a); }, {b, c}},
        {"lower MaxFiles", [&] { list->SetMaxFiles(1); }, {b}},
        {"raise MaxFiles", [&] { list->SetMaxFiles(9); }, {b, c}},
    };
    for (const auto& s : steps) {
        s.Change();
        QStringList expected;
        for (int k = 0; k < s.Expected.size(); ++k)
            expected << QStringLiteral("MRU%1=%2").arg(k + 1).arg(s.Expected[k]);
        EXPECT_EQ(Stored(), expected) << s.Step;
    }

    // The same for an ini file.
    const QString ini = Dir + QStringLiteral("/recent.ini");
    TMostRecentFiles inList;
    inList.SetIniFile(ini);
    inList.SetOwnerMenuItem(&Menu);
    inList.AddFile(QStringLiteral("/m/x.avi"));
    inList.AddFile(QStringLiteral("/m/y.avi"));
    QSettings stored(ini, QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("MRU List/1")).toString(), QStringLiteral("/m/y.avi"));
    EXPECT_EQ(stored.value(QStringLiteral("MRU List/2")).toString(), QStringLiteral("/m/x.avi"));
}

TEST_F(MruTest, SameFileInAnotherCaseMovesUpWithTheNewSpelling) {
    auto list = MakeList();
    list->AddFile(QStringLiteral("/m/Alpha.avi"));
    list->AddFile(QStringLiteral("/m/beta.avi"));
    list->AddFile(QStringLiteral("/m/gamma.avi"));
    list->AddFile(QStringLiteral("/M/ALPHA.AVI"));
    EXPECT_EQ(list->Files(), (QStringList{"/M/ALPHA.AVI", "/m/gamma.avi", "/m/beta.avi"}));

    // The top entry again: nothing changes, the menu is not rebuilt.
    const QList<QAction*> before = Menu.actions();
    list->AddFile(QStringLiteral("/m/alpha.avi"));
    EXPECT_EQ(list->Files().front(), QStringLiteral("/M/ALPHA.AVI"));
    EXPECT_EQ(Menu.actions(), before);
}

TEST_F(MruTest, NoMenuMeansAddFileDoesNothing) {
    TMostRecentFiles list;
    list.SetRegPath(RegPath);
    list.AddFile(QStringLiteral("/m/a.avi"));
    EXPECT_TRUE(list.Files().isEmpty());
    // A destroyed menu is forgotten.
    auto menu = std::make_unique<QMenu>();
    list.SetOwnerMenuItem(menu.get());
    list.AddFile(QStringLiteral("/m/a.avi"));
    menu.reset();
    EXPECT_EQ(list.OwnerMenuItem(), nullptr);
    list.AddFile(QStringLiteral("/m/b.avi"));
    EXPECT_EQ(list.Files(), QStringList{"/m/a.avi"});
}

TEST_F(MruTest, ClickingAnItemMovesItUpAndReportsIt) {
    auto list = MakeList();
    const QString a = MakeFile("a.avi"), b = MakeFile("b.avi"), c = MakeFile("c.avi");
    list->AddFile(a);
    list->AddFile(b);
    list->AddFile(c);  // c, b, a
    QAction* third = Item(QStringLiteral("&3  ") + a);
    ASSERT_NE(third, nullptr);
    third->trigger();
    EXPECT_EQ(Clicked, QStringList{a});
    EXPECT_EQ(list->Files(), (QStringList{a, c, b}));
    EXPECT_NE(Item(QStringLiteral("&1  ") + a), nullptr);
    EXPECT_NE(Item(QStringLiteral("&3  ") + b), nullptr);
    EXPECT_TRUE(Prompts->Records.empty());
}

TEST_F(MruTest, ClickingAMissingFileSaysSoAndDropsIt) {
    auto list = MakeList();
    const QString a = MakeFile("a.avi"), b = MakeFile("b.avi"), c = MakeFile("c.avi");
    list->AddFile(a);
    list->AddFile(b);
    list->AddFile(c);  // c, b, a
    QFile::remove(b);
    Prompts->DefaultAnswer = TModalResult::Ok;
    Item(QStringLiteral("&2  ") + b)->trigger();
    EXPECT_TRUE(Clicked.isEmpty());
    EXPECT_EQ(Prompts->Texts(), QStringList{QStringLiteral("\"%1\"\nno longer exists.").arg(b)});
    EXPECT_EQ(list->Files(), (QStringList{c, a}));
    EXPECT_NE(Item(QStringLiteral("&2  ") + a), nullptr);
    EXPECT_EQ(Item(QStringLiteral("&3  ") + a), nullptr);

    // OnFileNotExist replaces the message.
    QStringList missing;
    list->OnFileNotExist = [&](QObject*, const QString& name) { missing << name; };
    QFile::remove(a);
    Item(QStringLiteral("&2  ") + a)->trigger();
    EXPECT_EQ(missing, QStringList{a});
    EXPECT_EQ(Prompts->Texts().size(), 1);
    EXPECT_EQ(list->Files(), QStringList{c});
}

TEST_F(MruTest, SavingRemovesValuesAboveTheListsLength) {
    for (int k = 1; k <= 4; ++k)
        Hive->WriteText(RegPath, QStringLiteral("MRU%1").arg(k), Dir + QStringLiteral("/gone%1.avi").arg(k));
    {
        auto list = MakeList();
        ASSERT_EQ(list->Files().size(), 4);
        list->OnFileNotExist = [](QObject*, const QString&) {};
        Item(QStringLiteral("&4  ") + Dir + QStringLiteral("/gone4.avi"))->trigger();
        Item(QStringLiteral("&3  ") + Dir + QStringLiteral("/gone3.avi"))->trigger();
    }
    QStringList stored = Stored();
    stored.sort();
    EXPECT_EQ(stored, (QStringList{"MRU1=" + Dir + "/gone1.avi", "MRU2=" + Dir + "/gone2.avi"}));
}

TEST_F(MruTest, BlankEntriesGetNoItemAndSkipANumber) {
    const QString c = MakeFile("c.avi");
    Hive->WriteText(RegPath, QStringLiteral("MRU1"), QStringLiteral("/m/a.avi"));
    Hive->WriteText(RegPath, QStringLiteral("MRU2"), QStringLiteral("   "));
    Hive->WriteText(RegPath, QStringLiteral("MRU3"), c);
    auto list = MakeList();
    EXPECT_EQ(Captions(), (QStringList{"Open movie", "-", "Exit", "-", "&1  /m/a.avi", "&3  " + c}));
    Item(QStringLiteral("&3  ") + c)->trigger();
    EXPECT_EQ(Clicked, QStringList{c});
    EXPECT_EQ(list->Files().front(), c);
}

TEST_F(MruTest, LoadingStopsAtTheFirstMissingNumber) {
    Hive->WriteText(RegPath, QStringLiteral("MRU1"), QStringLiteral("/m/a.avi"));
    Hive->WriteText(RegPath, QStringLiteral("MRU3"), QStringLiteral("/m/c.avi"));
    auto list = MakeList();
    EXPECT_EQ(list->Files(), QStringList{"/m/a.avi"});
}

TEST_F(MruTest, MaxFilesIsClampedAndShortensAtTheNextAdd) {
    TMostRecentFiles list;
    const struct {
        uint32_t Set, Read;
    } cases[] = {{0, 1}, {1, 1}, {9, 9}, {20, 20}, {21, 20}, {50, 20}};
    for (const auto& c : cases) {
        list.SetMaxFiles(c.Set);
        EXPECT_EQ(list.MaxFiles(), c.Read) << c.Set;
    }
    auto shown = MakeList();
    for (int i = 0; i < 5; ++i)
        shown->AddFile(QStringLiteral("/m/%1.avi").arg(i));
    shown->SetMaxFiles(2);
    EXPECT_EQ(shown->Files().size(), 5);
    shown->AddFile(QStringLiteral("/m/new.avi"));
    EXPECT_EQ(shown->Files(), (QStringList{"/m/new.avi", "/m/4.avi"}));
}

TEST_F(MruTest, ItemsInTheMiddleOfAMenuAndShortNames) {
    auto list = std::make_unique<TMostRecentFiles>();
    list->SetRegPath(RegPath);
    list->SetMenuPosition(1);
    list->SetOwnerMenuItem(&Menu);
    list->OnMenuClick = [](QObject*, const QString&) {};
    list->AddFile(QStringLiteral("/m/one & two.avi"));
    // Separator before (the item above is no separator); none after (one follows).
    EXPECT_EQ(Captions(), (QStringList{"Open movie", "-", "&1  one & two.avi", "-", "Exit"}));
    list->SetMenuPosition(0);
    list->RebuildMenu();
    EXPECT_EQ(Captions(), (QStringList{"&1  one & two.avi", "-", "Open movie", "-", "Exit"}));
}

TEST_F(MruTest, IniFileWhenNoHiveKeyIsGiven) {
    const QString ini = Dir + QStringLiteral("/recent.ini");
    {
        TMostRecentFiles list;
        list.SetIniFile(ini);
        list.SetOwnerMenuItem(&Menu);
        list.AddFile(QStringLiteral("/m/a.avi"));
        list.AddFile(QStringLiteral("/m/b.avi"));
    }
    QSettings stored(ini, QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("MRU List/1")).toString(), QStringLiteral("/m/b.avi"));
    EXPECT_EQ(stored.value(QStringLiteral("MRU List/2")).toString(), QStringLiteral("/m/a.avi"));
    EXPECT_TRUE(Hive->ValueNames(RegPath).isEmpty());

    TMostRecentFiles again;
    again.SetIniFile(ini);
    EXPECT_EQ(again.Files(), (QStringList{"/m/b.avi", "/m/a.avi"}));
    // A bare name lies beside the program.
    again.SetIniFile(QStringLiteral("x.ini"));
    EXPECT_EQ(again.IniFileName(), QCoreApplication::applicationDirPath() + QStringLiteral("/x.ini"));
    again.SetIniFile(QString());
    EXPECT_TRUE(again.IniFileName().endsWith(QStringLiteral("/test_mru.ini")));
}

TEST_F(MruTest, UnwritableIniFileLosesTheListQuietly) {
    // The ini file's folder lies below a regular file (root ignores
    // permissions): the list is not saved, and destruction does not throw.
    auto list = std::make_unique<TMostRecentFiles>();
    list->SetRegPath(QString());
    list->SetIniFile(Dir + QStringLiteral("/file.txt/below/recent.ini"));
    MakeFile("file.txt");
    list->SetOwnerMenuItem(&Menu);
    list->AddFile(QStringLiteral("/m/a.avi"));
    EXPECT_FALSE(list->SaveToIniFile());
    list.reset();
    SUCCEED();
}

}  // namespace

