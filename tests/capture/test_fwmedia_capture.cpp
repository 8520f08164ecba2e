// `fwmedia capture`: the batch without a window, run as a user would.
#include "ImageReaders.h"
#include "tests/fixtures/TestMovie.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int RunCapture(const std::string& args, const std::string& prefix = "", const std::string& errFile = "/dev/null") {
    const std::string command = prefix + std::string(FW_FWMEDIA) + " capture " + args + " >/dev/null 2>" + errFile;
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

class FwmediaCapture : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = testmovie::MakeTempDir("fw-fwmedia-capture");
        Movie = Dir + "/count.mpg";
        testmovie::TMovieSpec spec;
        spec.Container = "mpeg";
        spec.VideoCodec = "mpeg1video";
        spec.Frames = 60;
        testmovie::MakeTestMovie(Movie, spec);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(Dir);
    }
    std::string Dir, Movie;
};

}  // namespace

TEST_F(FwmediaCapture, WritesTheBatchWithItsNames) {
    const std::string out = Dir + "/out folder";
    ASSERT_EQ(RunCapture(Quoted(Movie) + " " + Quoted(out) + " 10 50 4 --type png --png-step 0"), 0);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names, (std::vector<std::string>{"B00000001.png", "B00000002.png", "B00000003.png", "B00000004.png"}));
    for (int i = 0; i < 4; ++i) {
        const TDecodedImage img = ReadPng(out + "/" + names[i]);
        ASSERT_EQ(img.Error, "");
        EXPECT_EQ(img.Width, 160);
        EXPECT_EQ(testmovie::ReadFrameNumber(img.Rgb.data(), img.Width, img.Height), 10 + 10 * i);
    }
}

TEST_F(FwmediaCapture, RefusesWrongUseAndBadInput) {
    const std::string out = Quoted(Dir + "/o");
    const std::string m = Quoted(Movie);
    struct { const char* Why; std::string Args; int Code; } cases[] = {
        {"no type", m + " " + out + " 0 10 3", 2},
        {"unknown type", m + " " + out + " 0 10 3 --type tif", 2},
        {"end before start", m + " " + out + " 10 5 3 --type jpg", 2},
        {"zero count", m + " " + out + " 0 10 0 --type jpg", 2},
        {"jpeg step too large", m + " " + out + " 0 10 3 --type jpg --jpeg-step 25", 2},
        {"not a number", m + " " + out + " 0 1x 3 --type jpg", 2},
        {"missing movie", Quoted(Dir + "/none.avi") + " " + out + " 0 10 3 --type jpg", 1},
        {"folder below a file", m + " " + Quoted(Movie + "/sub") + " 0 10 3 --type jpg", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(RunCapture(c.Args), c.Code) << c.Why;
    EXPECT_FALSE(fs::exists(Dir + "/o"));
}

// Another user's file in a shared folder (sticky bit) cannot be deleted: the
// message names it, its number is skipped, the next samples are written.
// Run as "nobody", since root may delete anything.
TEST_F(FwmediaCapture, FileOfAnotherUserIsSkippedWithItsMessage) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
    const std::string shared = Dir + "/shared";
    fs::create_directory(shared);
    fs::permissions(Dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(Movie, fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    std::ofstream(shared + "/B00000002.bmp") << "root's file";
    const std::string err = Dir + "/stderr.txt";
    const int code = RunCapture(Quoted(Movie) + " " + Quoted(shared) + " 0 30 3 --type bmp",
                                "setpriv --reuid=nobody --regid=nogroup --clear-groups ", err);
    EXPECT_EQ(code, 1);  // a sample was skipped
    std::ifstream in(err);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("Can not delete file " + shared + "/B00000002.bmp"), std::string::npos) << text;
    EXPECT_EQ(ReadBytes(shared + "/B00000002.bmp").size(), 11u);
    const TDecodedImage third = ReadPicture(shared + "/B00000003.bmp");
    ASSERT_EQ(third.Error, "");
    EXPECT_EQ(testmovie::ReadFrameNumber(third.Rgb.data(), third.Width, third.Height), 20);
    EXPECT_TRUE(fs::exists(shared + "/B00000001.bmp"));
}

// A movie cut right after its first picture began opens but gives no picture:
// the batch writes nothing and says why. A file whose first video streams
// are empty (a recorder's leftovers) is captured from the one that has
// pictures.
TEST_F(FwmediaCapture, NothingTakenSaysWhyAndEmptyStreamsAreSkipped) {
    testmovie::TMovieSpec spec;
    spec.Container = "avi";
    spec.VideoCodec = "mjpeg";
    spec.Frames = 20;
    const std::string whole = Dir + "/whole.avi", cut = Dir + "/cut.avi";
    testmovie::MakeTestMovie(whole, spec);
    std::ifstream in(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::size_t movi = bytes.find("movi");
    ASSERT_NE(movi, std::string::npos);
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, movi + 4 + 8 + 200);
    const std::string err = Dir + "/err.txt";
    EXPECT_EQ(RunCapture(Quoted(cut) + " " + Quoted(Dir + "/c") + " 0 10 3 --type bmp", "", err), 1);
    std::ifstream e(err);
    const std::string text((std::istreambuf_iterator<char>(e)), {});
    EXPECT_NE(text.find("No picture could be taken from the movie: "), std::string::npos) << text;

    const std::string sample = std::string(FW_MEDIA_SAMPLES) + "/hach_matrix_ping_pong.wmv";
    if (!fs::exists(sample)) GTEST_SKIP() << "sample missing";
    EXPECT_EQ(RunCapture(Quoted(sample) + " " + Quoted(Dir + "/h") + " 0 10 3 --type bmp"), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir + "/h"), fs::directory_iterator()), 3);
}
