// The real desktop opener: what it makes of xdg-open's exit code. A stand-in
// xdg-open on PATH ends as the real one does when it finds no program (3) or
// succeeds (0).
#include "platform/DesktopOpener.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace {

class RealOpenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Bin.isValid());
        SavedPath = qgetenv("PATH");
        qputenv("PATH", (Bin.path() + QLatin1Char(':') + QString::fromLocal8Bit(SavedPath)).toLocal8Bit());
        Previous = SetDesktopOpener(nullptr);  // the real one
        PreviousHandler = SetDesktopFailureHandler([this](const TDesktopRequest& r) { Failed.push_back(r); });
    }
    void TearDown() override {
        SetDesktopFailureHandler(std::move(PreviousHandler));
        SetDesktopOpener(std::move(Previous));
        qputenv("PATH", SavedPath);
    }

    // A stand-in xdg-open that notes its argument and ends with `exitCode`.
    void StandIn(int exitCode) {
        QFile script(Bin.filePath(QStringLiteral("xdg-open")));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(QStringLiteral("#!/bin/sh\nprintf '%s' \"$1\" > '%1'\nexit %2\n")
                         .arg(Bin.filePath(QStringLiteral("arg")))
                         .arg(exitCode)
                         .toLocal8Bit());
        script.close();
        ASSERT_TRUE(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QFile::remove(Bin.filePath(QStringLiteral("arg")));
    }

    QString HandedArgument() const {
        QFile f(Bin.filePath(QStringLiteral("arg")));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QStringLiteral("<none>");
    }

    // Runs the event loop until every xdg-open started has ended and its
    // outcome is in (the opener frees each process when it has finished).
    void Settle() {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000 && !qApp->findChildren<QProcess*>().isEmpty())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(qApp->findChildren<QProcess*>().isEmpty());
    }

    QTemporaryDir Bin;
    QByteArray SavedPath;
    std::unique_ptr<TDesktopOpener> Previous;
    TDesktopFailureHandler PreviousHandler;
    std::vector<TDesktopRequest> Failed;
};

TEST_F(RealOpenerTest, ExitCodeOtherThanZeroIsReportedLater) {
    const struct {
        int ExitCode;
        bool Reported;
    } cases[] = {{0, false}, {3, true}, {4, true}};
    for (const auto& c : cases) {
        StandIn(c.ExitCode);
        Failed.clear();
        const TDesktopRequest request{TDesktopAction::Play, QStringLiteral("/tmp/result clip.wmv")};
        EXPECT_TRUE(LaunchOnDesktop(request)) << c.ExitCode;  // handed on; the outcome comes later
        EXPECT_TRUE(Failed.empty()) << c.ExitCode;
        Settle();
        EXPECT_EQ(HandedArgument(), request.Target) << c.ExitCode;
        ASSERT_EQ(Failed.size(), c.Reported ? 1u : 0u) << c.ExitCode;
        if (c.Reported) {
            EXPECT_EQ(Failed[0].Action, TDesktopAction::Play);
            EXPECT_EQ(Failed[0].Target, request.Target);
        }
    }
}

TEST_F(RealOpenerTest, NameStartingWithADashIsNoOption) {
    StandIn(0);
    EXPECT_TRUE(LaunchOnDesktop({TDesktopAction::Open, QStringLiteral("-h.txt")}));
    Settle();
    EXPECT_EQ(HandedArgument(), QStringLiteral("./-h.txt"));
}

TEST_F(RealOpenerTest, MissingXdgOpenIsAFailureAtOnce) {
    qputenv("PATH", Bin.path().toLocal8Bit());  // holds no xdg-open
    const TDesktopRequest request{TDesktopAction::Explore, QStringLiteral("/tmp")};
    EXPECT_FALSE(LaunchOnDesktop(request));
    ASSERT_EQ(Failed.size(), 1u);
    EXPECT_EQ(Failed[0].Target, QStringLiteral("/tmp"));
    // An empty target is refused without asking anybody, and said so.
    Failed.clear();
    EXPECT_FALSE(LaunchOnDesktop({TDesktopAction::Open, QString()}));
    EXPECT_EQ(Failed.size(), 1u);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
