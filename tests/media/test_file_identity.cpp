// A file's identity follows its content, size and time, and refuses what is
// not a regular file.
#include "media/FileIdentity.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path TempDir() {
    fs::path d = fs::temp_directory_path() / ("fw-identity-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
}

void WriteBytes(const fs::path& p, size_t n, char fill) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    std::string block(n, fill);
    f.write(block.data(), std::streamsize(block.size()));
}

// Overwrites one byte at offset, keeping the size, and puts the modification time back.
void PatchByte(const fs::path& p, size_t offset, char value) {
    struct stat before {};
    ASSERT_EQ(::stat(p.c_str(), &before), 0);
    {
        std::fstream f(p, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(std::streamoff(offset));
        f.put(value);
    }
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

}  // namespace

TEST(FileIdentity, SameFileSameKeyAndAnEmptyFileHasOne) {
    const fs::path d = TempDir();
    WriteBytes(d / "a.bin", 3 << 20, 'a');
    auto one = media::IdentifyFile((d / "a.bin").string());
    auto two = media::IdentifyFile((d / "a.bin").string());
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->Key(), two->Key());
    EXPECT_EQ(one->Size, 3u << 20);
    EXPECT_EQ(one->ContentHash.size(), 64u);

    WriteBytes(d / "empty.bin", 0, 'x');
    auto empty = media::IdentifyFile((d / "empty.bin").string());
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->Size, 0u);
    EXPECT_NE(empty->Key(), one->Key());
    fs::remove_all(d);
}

// A change in the head or the tail is seen even with the same size and time;
// the middle of a large file is not read (that is what keeps identifying cheap).
TEST(FileIdentity, ContentInTheEdgesChangesTheKey) {
    const fs::path d = TempDir();
    const fs::path p = d / "m.bin";
    struct TCase {
        const char* Name;
        size_t Offset;
        bool Seen;
    } cases[] = {
        {"first byte", 0, true},
        {"last byte of the head", (1 << 20) - 1, true},
        {"middle", (5 << 20) / 2, false},
        {"last byte", (5 << 20) - 1, true},
    };
    for (const TCase& c : cases) {
        WriteBytes(p, 5 << 20, 'm');
        auto before = media::IdentifyFile(p.string());
        PatchByte(p, c.Offset, 'z');
        auto after = media::IdentifyFile(p.string());
        ASSERT_TRUE(before && after) << c.Name;
        EXPECT_EQ(before->ModifiedNs, after->ModifiedNs) << c.Name;
        EXPECT_EQ(before->Key() != after->Key(), c.Seen) << c.Name;
    }
    fs::remove_all(d);
}

TEST(FileIdentity, TimeAndSizeAreParts) {
    const fs::path d = TempDir();
    const fs::path p = d / "t.bin";
    WriteBytes(p, 1000, 't');
    auto before = media::IdentifyFile(p.string());
    struct timespec times[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    auto touched = media::IdentifyFile(p.string());
    ASSERT_TRUE(before && touched);
    EXPECT_NE(before->Key(), touched->Key());
    EXPECT_EQ(before->ContentHash, touched->ContentHash);
    fs::remove_all(d);
}

TEST(FileIdentity, RefusesWhatIsNotARegularFile) {
    const fs::path d = TempDir();
    const fs::path fifo = d / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Must return at once: a FIFO without a writer would block a plain open.
    EXPECT_FALSE(media::IdentifyFile(fifo.string()));
    EXPECT_FALSE(media::IdentifyFile(d.string()));
    EXPECT_FALSE(media::IdentifyFile((d / "missing").string()));
    EXPECT_FALSE(media::IdentifyFile("/dev/zero"));
    fs::remove_all(d);
}
