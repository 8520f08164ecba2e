// The preview worker: the latest request wins, stand-ins come before the
// exact frame, and every exact picture is the frame of its position.
#include "tests/fixtures/TestMovie.h"

#include "source/PreviewWorker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 25;

struct TSeen {
    uint64_t Request;
    int Position;
    bool Exact;
    int Number;  // drawn frame number; -1 for no picture
    int Width;
};

class PreviewWorker : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = testmovie::MakeTempDir("fw-preview-worker");
        testmovie::TMovieSpec s;
        s.Container = "mp4";
        s.VideoCodec = "libx264";
        s.Frames = 300;
        s.GopSize = 100;  // a long group of pictures: jumps decode a long way
        s.MaxBFrames = 2;
        File = Dir + "/gop100.mp4";
        testmovie::MakeTestMovie(File, s);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(Dir); }

    void Deliver(TPreviewWorker::TResult&& r) {
        std::lock_guard<std::mutex> lock(Mutex);
        const int n = r.Picture.Empty() ? -1
                                        : testmovie::ReadFrameNumber(r.Picture.Rgb.data(), r.Picture.Width,
                                                                     r.Picture.Height);
        Seen.push_back({r.Request, r.Position, r.Exact, n, r.Picture.Width});
        Changed.notify_all();
    }
    // Waits until the exact result of request `id` has come.
    bool WaitExact(uint64_t id) {
        std::unique_lock<std::mutex> lock(Mutex);
        return Changed.wait_for(lock, std::chrono::seconds(60), [&] {
            for (const TSeen& s : Seen)
                if (s.Request == id && s.Exact) return true;
            return false;
        });
    }
    std::vector<TSeen> Snapshot() {
        std::lock_guard<std::mutex> lock(Mutex);
        return Seen;
    }
    uint64_t Ask(int position) { return Worker.Request(position, 160, 120); }

    static inline std::string Dir, File;
    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<TSeen> Seen;
    TPreviewWorker Worker{[this](TPreviewWorker::TResult&& r) { Deliver(std::move(r)); }};
};

TEST_F(PreviewWorker, ExactFrameOfEveryPositionWhicheverWayTheBarMoves) {
    Worker.Open(File);
    std::mt19937 rng(7);
    std::vector<int> positions = {0, 1, 2, 99, 100, 101, 250, 5, 299, 150, 149};
    for (int i = 0; i < 10; ++i) positions.push_back(int(rng() % 300));
    for (int p : positions) {
        const uint64_t id = Ask(p);
        ASSERT_TRUE(WaitExact(id)) << p;
    }
    for (const TSeen& s : Snapshot())
        if (s.Exact) EXPECT_EQ(s.Number, s.Position) << "request " << s.Request;
}

TEST_F(PreviewWorker, LatestRequestWinsAndOldOnesStopComing) {
    Worker.Open(File);
    uint64_t last = 0;
    // A drag faster than any decoder: each request replaces the one before.
    for (int p = 10; p < 290; p += 7) last = Ask(p);
    ASSERT_TRUE(WaitExact(last));
    const std::vector<TSeen> seen = Snapshot();
    uint64_t previous = 0;
    for (const TSeen& s : seen) {
        EXPECT_GE(s.Request, previous) << "a result of an older request came after a newer one";
        previous = s.Request;
        if (s.Exact) EXPECT_EQ(s.Number, s.Position);
    }
    EXPECT_EQ(seen.back().Request, last);
    EXPECT_TRUE(seen.back().Exact);
    EXPECT_EQ(seen.back().Number, 283);
    // Most of the drag's requests were dropped instead of decoded one by one.
    int exact = 0;
    for (const TSeen& s : seen) exact += s.Exact;
    EXPECT_LT(exact, 40);
}

TEST_F(PreviewWorker, AJumpShowsTheKeyFrameBeforeTheExactFrame) {
    Worker.Open(File);
    ASSERT_TRUE(WaitExact(Ask(3)));
    const uint64_t id = Ask(290);  // key frames lie between: a seek, then many frames on
    ASSERT_TRUE(WaitExact(id));
    std::vector<TSeen> jump;
    for (const TSeen& s : Snapshot())
        if (s.Request == id) jump.push_back(s);
    ASSERT_GE(jump.size(), 2u);
    EXPECT_FALSE(jump.front().Exact);
    EXPECT_GE(jump.front().Number, 200);  // the key frame the seek landed on
    EXPECT_LT(jump.front().Number, 290);
    for (std::size_t i = 1; i + 1 < jump.size(); ++i) {
        EXPECT_FALSE(jump[i].Exact);
        EXPECT_GT(jump[i].Number, jump[i - 1].Number);  // stand-ins only move on
    }
    EXPECT_TRUE(jump.back().Exact);
    EXPECT_EQ(jump.back().Number, 290);

    // Back, then into the same group of pictures again: the key frame's
    // stand-in is kept and shown again, at the size of each request.
    int back = 4;  // a frame not shown before, so the reader goes back there
    for (const auto& [w, h] : {std::pair{160, 120}, std::pair{96, 72}}) {
        ASSERT_TRUE(WaitExact(Ask(back++)));
        const uint64_t again = Worker.Request(285, w, h);
        ASSERT_TRUE(WaitExact(again));
        std::vector<TSeen> second;
        for (const TSeen& s : Snapshot())
            if (s.Request == again) second.push_back(s);
        ASSERT_GE(second.size(), 2u);
        EXPECT_FALSE(second.front().Exact);
        EXPECT_EQ(second.front().Number, jump.front().Number);
        EXPECT_EQ(second.front().Width, w);
        EXPECT_EQ(second.back().Number, 285);
        EXPECT_EQ(second.back().Width, w);
    }
}

TEST_F(PreviewWorker, AFrameShownBeforeComesFromTheCache) {
    Worker.Open(File);
    ASSERT_TRUE(WaitExact(Ask(250)));
    ASSERT_TRUE(WaitExact(Ask(20)));
    const auto before = Worker.Stats();
    ASSERT_TRUE(WaitExact(Ask(250)));
    const auto after = Worker.Stats();
    EXPECT_EQ(after.Seeks, before.Seeks);
    EXPECT_EQ(after.FramesDecoded, before.FramesDecoded);
    EXPECT_EQ(Snapshot().back().Number, 250);
}

TEST_F(PreviewWorker, AFileThatCannotBeReadGivesAnErrorNotAPicture) {
    Worker.Open(Dir + "/missing.mp4");
    const uint64_t id = Ask(0);
    ASSERT_TRUE(WaitExact(id));
    const TSeen s = Snapshot().back();
    EXPECT_EQ(s.Number, -1);
}

}  // namespace
