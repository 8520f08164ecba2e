// The segment list's edits, undo and redo over a scripted sequence, overlaps,
// and the memory per movie: kept across a restart of the hive, never handed
// to a changed file or another file of the same name.
#include "convert/Segments.h"

#include "media/FileIdentity.h"
#include "platform/Hive.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using media::TFrameRange;

TSegmentState State(std::vector<TFrameRange> segments, TFrameRange marked) { return {std::move(segments), marked}; }

// Each step's edit, whether it changes anything, and the state after it;
// undo walks the states back one by one, redo forward again.
TEST(SegmentList, UndoAndRedoRetraceAScriptedSequence) {
    struct TStep {
        const char* What;
        std::function<bool(TSegmentList&)> Edit;
        bool Changes;
        TSegmentState After;
    };
    const std::vector<TStep> steps = {
        {"mark", [](TSegmentList& l) { return l.Mark({10, 40}); }, true, State({}, {10, 40})},
        {"add", [](TSegmentList& l) { return l.Add(); }, true, State({{10, 40}}, {10, 40})},
        {"mark again", [](TSegmentList& l) { return l.Mark({30, 60}); }, true, State({{10, 40}}, {30, 60})},
        {"add", [](TSegmentList& l) { return l.Add(); }, true, State({{10, 40}, {30, 60}}, {30, 60})},
        {"mark the same", [](TSegmentList& l) { return l.Mark({30, 60}); }, false, State({{10, 40}, {30, 60}}, {30, 60})},
        {"mark", [](TSegmentList& l) { return l.Mark({100, 120}); }, true, State({{10, 40}, {30, 60}}, {100, 120})},
        {"add", [](TSegmentList& l) { return l.Add(); }, true, State({{10, 40}, {30, 60}, {100, 120}}, {100, 120})},
        {"move up", [](TSegmentList& l) { return l.MoveUp(2); }, true, State({{10, 40}, {100, 120}, {30, 60}}, {100, 120})},
        {"move the first up", [](TSegmentList& l) { return l.MoveUp(0); }, false,
         State({{10, 40}, {100, 120}, {30, 60}}, {100, 120})},
        {"move down", [](TSegmentList& l) { return l.MoveDown(0); }, true, State({{100, 120}, {10, 40}, {30, 60}}, {100, 120})},
        {"mark", [](TSegmentList& l) { return l.Mark({5, 8}); }, true, State({{100, 120}, {10, 40}, {30, 60}}, {5, 8})},
        {"update", [](TSegmentList& l) { return l.Update(1); }, true, State({{100, 120}, {5, 8}, {30, 60}}, {5, 8})},
        {"update past the end", [](TSegmentList& l) { return l.Update(3); }, false,
         State({{100, 120}, {5, 8}, {30, 60}}, {5, 8})},
        {"remove", [](TSegmentList& l) { return l.Remove(0); }, true, State({{5, 8}, {30, 60}}, {5, 8})},
        {"mark nothing", [](TSegmentList& l) { return l.Mark({9, 9}); }, true, State({{5, 8}, {30, 60}}, {9, 9})},
        {"add an empty range", [](TSegmentList& l) { return l.Add(); }, false, State({{5, 8}, {30, 60}}, {9, 9})},
        {"clear", [](TSegmentList& l) { return l.Clear(); }, true, State({}, {9, 9})},
    };
    TSegmentList list;
    list.Reset();
    EXPECT_FALSE(list.CanUndo());
    std::vector<TSegmentState> history{list.State()};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.What);
        EXPECT_EQ(s.Edit(list), s.Changes);
        EXPECT_EQ(list.State(), s.After);
        if (s.Changes) history.push_back(list.State());
    }
    for (size_t i = history.size() - 1; i-- > 0;) {
        ASSERT_TRUE(list.Undo());
        EXPECT_EQ(list.State(), history[i]) << "undo to step " << i;
    }
    EXPECT_FALSE(list.Undo());
    for (size_t i = 1; i < history.size(); ++i) {
        ASSERT_TRUE(list.Redo());
        EXPECT_EQ(list.State(), history[i]) << "redo to step " << i;
    }
    EXPECT_FALSE(list.Redo());
    // An edit after undoing drops what could be redone.
    ASSERT_TRUE(list.Undo());
    ASSERT_TRUE(list.Mark({1, 2}));
    EXPECT_FALSE(list.CanRedo());
    // A newly opened movie: nothing to undo.
    list.Reset(State({{1, 2}}, {}));
    EXPECT_FALSE(list.CanUndo());
}

TEST(SegmentList, OverlapsAreFlaggedBothWays) {
    TSegmentList list;
    list.Reset(State({{10, 40}, {40, 50}, {45, 60}, {100, 101}}, {}));
    const std::vector<bool> expected{false, true, true, false};
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(list.Overlaps(i), expected[i]) << i;
}

TEST(SegmentText, RoundTripsAndRefusesWhatIsNotIt) {
    for (const TSegmentState& s : {State({}, {}), State({{0, 1}}, {0, 0}), State({{10, 40}, {5, 9}}, {7, 300})})
        EXPECT_EQ(ParseSegmentState(SegmentStateText(s)), s) << SegmentStateText(s).toStdString();
    for (const char* bad : {"", "10:40", "10:40|", "10:5|0:0", "a:b|0:0", "10:40,,|0:0", "-1:4|0:0"})
        EXPECT_FALSE(ParseSegmentState(QString::fromLatin1(bad))) << bad;
}

class SegmentMemoryTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    std::string Movie(const char* name, const std::string& bytes) {
        const std::string path = Dir.path().toStdString() + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string Identity(const std::string& path) { return media::IdentifyFile(path)->Key(); }
    QString HiveFile() const { return Dir.path() + QStringLiteral("/settings.db"); }
};

// Saved, then read back by a hive opened afresh (a restart of the program).
TEST_F(SegmentMemoryTest, SegmentsSurviveARestart) {
    const std::string movie = Movie("a.mp4", std::string(5000, 'a'));
    const TSegmentState state = State({{10, 40}, {60, 95}}, {60, 95});
    {
        auto hive = THive::Open(HiveFile());
        TSegmentMemory memory(*hive, QStringLiteral("Software\\Test"));
        ASSERT_TRUE(memory.Save(Identity(movie), state));
    }
    auto hive = THive::Open(HiveFile());
    TSegmentMemory memory(*hive, QStringLiteral("Software\\Test"));
    EXPECT_EQ(memory.Load(Identity(movie)), state);
    // Forgotten: gone, also after another restart.
    ASSERT_TRUE(memory.Forget(Identity(movie)));
    EXPECT_FALSE(memory.Load(Identity(movie)));
}

// The same name with other contents (written over, or grown) is another file.
TEST_F(SegmentMemoryTest, AChangedFileDoesNotGetAnothersSegments) {
    auto hive = THive::Open(HiveFile());
    TSegmentMemory memory(*hive, QStringLiteral("Software\\Test"));
    const std::string movie = Movie("a.mp4", std::string(5000, 'a'));
    const std::string before = Identity(movie);
    ASSERT_TRUE(memory.Save(before, State({{1, 2}}, {})));
    Movie("a.mp4", std::string(5000, 'b'));  // same size, other bytes
    EXPECT_NE(Identity(movie), before);
    EXPECT_FALSE(memory.Load(Identity(movie)));
    Movie("a.mp4", std::string(6000, 'a'));
    EXPECT_FALSE(memory.Load(Identity(movie)));
    const std::string other = Movie("b.mp4", std::string(7000, 'c'));
    EXPECT_FALSE(memory.Load(Identity(other)));
    // Nothing to keep: the file is forgotten rather than given an empty entry.
    ASSERT_TRUE(memory.Save(before, State({}, {})));
    EXPECT_FALSE(memory.Load(before));
}

}  // namespace
