// The help bundle, the help viewer and the base main window's help routing.
#include "help/HelpBundle.h"
#include "help/HelpViewer.h"
#include "help/MyBaseForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

class HelpTest : public ::testing::Test {
protected:
    void SetUp() override { SetApplicationHelpFile(QStringLiteral("Framewhisk.chm")); }
    void TearDown() override { ReleaseHelpWindows(); }

    // A base window with one focusable child, shown and active.
    struct TWindow {
        TD6MainForm form;
        QLineEdit* edit = nullptr;
        TWindow() {
            auto* central = new QWidget(&form);
            auto* layout = new QVBoxLayout(central);
            edit = new QLineEdit(central);
            layout->addWidget(edit);
            form.setCentralWidget(central);
            form.show();
            QApplication::setActiveWindow(&form);
            EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
            edit->setFocus();
        }
    };

    static QString ShownPage() {
        THelpWindow* w = HelpWindowFor(ApplicationHelpFile());
        return w ? w->Browser()->source().fileName() : QString();
    }
};

TEST_F(HelpTest, BundleListsEveryPageWithItsContext) {
    THelpBundle bundle;
    ASSERT_TRUE(bundle.Load(QStringLiteral("Framewhisk.chm")));
    EXPECT_EQ(bundle.Name(), QStringLiteral("Framewhisk"));
    ASSERT_GE(bundle.Topics().size(), 8u);
    EXPECT_EQ(bundle.Topics().front().Page, QStringLiteral("index.html"));

    const struct {
        int Context;
        const char* Page;
    } cases[] = {{1, "index.html"},  {10, "opening.html"},     {20, "range.html"}, {22, "playback.html"}, {25, "timeline.html"}, {27, "segments.html"},
                 {30, "modes.html"}, {35, "copy.html"},        {40, "output.html"}, {50, "captures.html"},
                 {60, "preferences.html"}, {70, "troubleshooting.html"}};
    for (const auto& c : cases) {
        const int topic = bundle.TopicForContext(c.Context);
        ASSERT_GE(topic, 0) << c.Context;
        EXPECT_EQ(bundle.Topics()[topic].Page, QString::fromLatin1(c.Page));
        EXPECT_EQ(bundle.PageUrl(topic).scheme(), QStringLiteral("qrc"));
    }
    EXPECT_EQ(bundle.TopicForContext(0), -1);
    EXPECT_EQ(bundle.TopicForContext(12345), -1);

    // The index is sorted without regard to case and leads to real topics.
    const auto& index = bundle.Index();
    ASSERT_FALSE(index.empty());
    for (std::size_t i = 1; i < index.size(); ++i)
        EXPECT_LE(index[i - 1].Keyword.compare(index[i].Keyword, Qt::CaseInsensitive), 0);
}

TEST_F(HelpTest, MissingBundleMeansNoHelpAndTheCommandsDoNothing) {
    EXPECT_FALSE(HelpBundleAvailable(QStringLiteral("Nothing.chm")));
    EXPECT_FALSE(HelpBundleAvailable(QString()));
    SetApplicationHelpFile(QStringLiteral("Nothing.chm"));
    TWindow w;
    EXPECT_FALSE(w.form.HtmlHelpAvailable());
    w.form.ShowHelpContents();
    w.form.ShowHelpIndex();
    QTest::keyClick(w.edit, Qt::Key_F1);
    EXPECT_EQ(VisibleHelpWindowCount(), 0);
    // Closing from the frame still works.
    w.form.windowHandle()->close();
    EXPECT_FALSE(w.form.isVisible());
}

TEST_F(HelpTest, F1OnTheWindowOpensTheContents) {
    TWindow w;
    ASSERT_TRUE(w.form.HtmlHelpAvailable());
    EXPECT_EQ(w.form.HelpContext(), -1);
    QTest::keyClick(w.edit, Qt::Key_F1);
    THelpWindow* help = HelpWindowFor(ApplicationHelpFile());
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_FALSE(help->IndexTabShown());
    EXPECT_EQ(ShownPage(), QStringLiteral("index.html"));
    EXPECT_TRUE(help->Browser()->toPlainText().contains(QStringLiteral("Framewhisk")));
}

TEST_F(HelpTest, F1OnAControlWithAContextOpensThatTopic) {
    TWindow w;
    w.edit->setProperty(kHelpContextProperty, 20);
    QTest::keyClick(w.edit, Qt::Key_F1);
    EXPECT_EQ(ShownPage(), QStringLiteral("range.html"));
    // The window's own context is found by climbing from a control without one.
    w.edit->setProperty(kHelpContextProperty, 0);
    w.form.SetHelpContext(50);
    QTest::keyClick(w.edit, Qt::Key_F1);
    EXPECT_EQ(ShownPage(), QStringLiteral("captures.html"));
}

TEST_F(HelpTest, F1InADialogShowsNothing) {
    TWindow w;
    QDialog dialog(&w.form);
    auto* edit = new QLineEdit(&dialog);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_F1);
    EXPECT_EQ(VisibleHelpWindowCount(), 0);
}

TEST_F(HelpTest, ContentsAndIndexCommands) {
    TWindow w;
    w.form.ShowHelpIndex();
    THelpWindow* help = HelpWindowFor(ApplicationHelpFile());
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->IndexTabShown());
    EXPECT_GT(help->IndexList()->count(), 8);
    // Typing narrows the index; choosing an entry shows its page.
    help->IndexFilter()->setText(QStringLiteral("snapshot"));
    ASSERT_EQ(help->IndexList()->count(), 1);
    emit help->IndexList()->itemActivated(help->IndexList()->item(0));
    EXPECT_EQ(ShownPage(), QStringLiteral("captures.html"));

    w.form.ShowHelpContents();
    EXPECT_EQ(HelpWindowFor(ApplicationHelpFile()), help);  // the one window is reused
    EXPECT_FALSE(help->IndexTabShown());
}

TEST_F(HelpTest, CommandsThatShowNothingAndCommandsPassedOn) {
    TWindow w;
    const struct {
        uint16_t Command;
        bool PassOn;
    } cases[] = {{HELP_CONTENTS, false}, {HELP_CONTEXTPOPUP, false}, {HELP_SETPOPUP_POS, false},
                 {HELP_KEY, false},      {2, true},                  {0x105, true}};
    for (const auto& c : cases) {
        bool passOn = !c.PassOn;
        EXPECT_TRUE(w.form.HandleHelpCommand(c.Command, 0, passOn));
        EXPECT_EQ(passOn, c.PassOn) << c.Command;
    }
    EXPECT_EQ(VisibleHelpWindowCount(), 0);
    EXPECT_FALSE(HtmlHelp(ApplicationHelpFile(), HH_HELP_CONTEXT, 999));
    EXPECT_FALSE(HtmlHelp(ApplicationHelpFile(), 77, 0));
}

TEST_F(HelpTest, CloseFromTheFrameClosesEveryHelpWindowButAProgramCloseDoesNot) {
    {
        TWindow w;
        w.form.ShowHelpContents();
        ASSERT_EQ(VisibleHelpWindowCount(), 1);
        w.form.close();  // the program's own close (the Exit command)
        EXPECT_EQ(VisibleHelpWindowCount(), 1);
    }
    ReleaseHelpWindows();
    TWindow w;
    w.form.ShowHelpContents();
    ASSERT_EQ(VisibleHelpWindowCount(), 1);
    EXPECT_TRUE(w.form.WMClose());  // the window frame's close box
    EXPECT_FALSE(w.form.isVisible());
    EXPECT_EQ(VisibleHelpWindowCount(), 0);
    EXPECT_EQ(HelpWindowFor(ApplicationHelpFile()), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    ReleaseHelpWindows();
    return rc;
}
