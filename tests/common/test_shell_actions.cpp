// Shell actions through the desktop seam: what reaches xdg-open and what is
// refused.
#include "common/MyCommonParams.h"
#include "platform/DesktopOpener.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class ShellActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        auto recording = std::make_unique<TRecordingDesktopOpener>();
        Opener = recording.get();
        Previous = SetDesktopOpener(std::move(recording));
    }
    void TearDown() override { SetDesktopOpener(std::move(Previous)); }

    QString Path(const QString& name) const { return Dir.filePath(name); }
    void MakeFile(const QString& name, const QByteArray& data, QFileDevice::Permissions permissions) {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        f.close();
        ASSERT_TRUE(f.setPermissions(permissions));
    }
    std::vector<QString> Targets() const {
        std::vector<QString> targets;
        for (const auto& r : Opener->Requests)
            targets.push_back(r.Target);
        return targets;
    }

    QTemporaryDir Dir;
    TRecordingDesktopOpener* Opener = nullptr;
    std::unique_ptr<TDesktopOpener> Previous;
};

TEST_F(ShellActionsTest, ExploreFolderShortensToAnExistingFolder) {
    ASSERT_TRUE(QDir().mkpath(Path("Video")));
    const struct {
        QString In;
        QString Explored;  // empty: nothing
    } cases[] = {
        {Path("Video/"), Path("Video/")},
        {Path("Video/Clips/"), Path("Video/")},
        {Path("Videos/"), Path("Video")},  // one character at a time, not one folder
        {"", ""},
        {"q", ""},
        {"qq-nothing/zz/", ""},  // relative and missing all the way down
    };
    for (const auto& c : cases) {
        Opener->Requests.clear();
        ExploreFolder(c.In);
        if (c.Explored.isEmpty()) {
            EXPECT_TRUE(Opener->Requests.empty()) << c.In.toStdString();
        } else {
            ASSERT_EQ(Opener->Requests.size(), 1u) << c.In.toStdString();
            EXPECT_EQ(Opener->Requests[0].Action, TDesktopAction::Explore);
            EXPECT_EQ(Opener->Requests[0].Target, c.Explored);
        }
    }
}

TEST_F(ShellActionsTest, PlayHandsTheFileToThePlayer) {
    PlayInMediaPlayer(Path("result clip.wmv"));
    ASSERT_EQ(Opener->Requests.size(), 1u);
    EXPECT_EQ(Opener->Requests[0].Action, TDesktopAction::Play);
    EXPECT_EQ(Opener->Requests[0].Target, Path("result clip.wmv"));
}

TEST_F(ShellActionsTest, ShellOpenPassesDocumentsFoldersWebAndMail) {
    const auto document = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther;
    MakeFile("readme.txt", "hello", document);
    MakeFile("clip.avi", "RIFF....AVI ", document);
    ASSERT_TRUE(QDir().mkpath(Path("folder")));
    const struct {
        QString In;
        QString Handed;
    } cases[] = {
        {Path("readme.txt"), Path("readme.txt")},
        {Path("clip.avi"), Path("clip.avi")},
        {Path("folder"), Path("folder")},
        {QUrl::fromLocalFile(Path("readme.txt")).toString(), Path("readme.txt")},
        {"http://www.example.com/UpdateInfo.php?currentversion=1.3&id=x",
         "http://www.example.com/UpdateInfo.php?currentversion=1.3&id=x"},
        {"HTTPS://example.com/download", "https://example.com/download"},
        {"mailto:support@example.com", "mailto:support@example.com"},
        {"mailto:support@example.com?subject=Error report&body=It broke",
         "mailto:support@example.com?subject=Error%20report&body=It%20broke"},
    };
    for (const auto& c : cases) {
        Opener->Requests.clear();
        EXPECT_TRUE(ShellOpen(c.In)) << c.In.toStdString();
        ASSERT_EQ(Opener->Requests.size(), 1u) << c.In.toStdString();
        EXPECT_EQ(Opener->Requests[0].Action, TDesktopAction::Open);
        EXPECT_EQ(Opener->Requests[0].Target, c.Handed);
    }
    // A relative name is handed on absolute, so it can never read as an option.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(Dir.path());
    MakeFile("-h.txt", "x", document);
    Opener->Requests.clear();
    EXPECT_TRUE(ShellOpen("-h.txt"));
    QDir::setCurrent(cwd);
    ASSERT_EQ(Opener->Requests.size(), 1u);
    EXPECT_EQ(Opener->Requests[0].Target, Path("-h.txt"));

    Opener->Result = false;  // the desktop refused
    EXPECT_FALSE(ShellOpen(Path("readme.txt")));
}

TEST_F(ShellActionsTest, ShellOpenRefusesEverythingElse) {
    const auto document = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    MakeFile("tool", "#!/bin/sh\necho hi\n", document | QFileDevice::ExeOwner);
    MakeFile("group-exec.txt", "text", document | QFileDevice::ExeGroup);
    MakeFile("script.sh", "#!/bin/sh\necho hi\n", document);  // would run in a terminal
    MakeFile("launcher.desktop", "[Desktop Entry]\nType=Application\nExec=sh -c id\n", document);
    QFile elf(QStringLiteral("/bin/true"));
    ASSERT_TRUE(elf.open(QIODevice::ReadOnly));
    MakeFile("program.dat", elf.readAll(), document);  // an executable by its content
    MakeFile("setup.exe", "MZ\x90\x00", document);
    ASSERT_EQ(mkfifo(Path("pipe").toLocal8Bit().constData(), 0600), 0);

    const QString refused[] = {
        "",
        Path("missing.avi"),
        Path("tool"),
        Path("group-exec.txt"),
        Path("script.sh"),
        Path("launcher.desktop"),
        Path("program.dat"),
        Path("setup.exe"),
        Path("pipe"),
        "/dev/null",
        "javascript:alert(1)",
        "ftp://example.com/file",
        "smb://server/share",
        "data:text/html,<script>alert(1)</script>",
        "http://",
        "http:///nohost",
        "http://example.com/\nrm -rf /",
        QUrl::fromLocalFile(Path("missing.avi")).toString(),
        QUrl::fromLocalFile(Path("tool")).toString(),
        "file://otherhost/etc/passwd",
        "-missing-option",
    };
    for (const QString& target : refused)
        EXPECT_FALSE(ShellOpen(target)) << target.toStdString();
    EXPECT_TRUE(Opener->Requests.empty()) << Opener->Requests.front().Target.toStdString();
}

}  // namespace
