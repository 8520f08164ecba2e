// A file written under a temporary name beside its target and renamed over
// the target only once it is whole, so that an old file of that name stays
// untouched until then, and a failure, a cancel or a killed process never
// leaves a broken file under the target's name.
//
// The temporary name is ".NAME.fwpart-PID-N" in the target's folder. Leftovers
// of processes that no longer run (killed outright, power loss) are recognised
// by that shape and removed by the next staged file written into the folder.
//
// A target that is a device or a pipe (/dev/null, a FIFO) is written directly:
// there is nothing to lose there and nothing to rename.
#pragma once

#include <stdexcept>
#include <string>
#include <sys/types.h>

namespace media {

// A sentence for the user naming the target, and the system's error number
// behind it (0 when none).
class TStagedFileError : public std::runtime_error {
public:
    TStagedFileError(const std::string& sentence, int err) : std::runtime_error(sentence), Errno(err) {}
    int Errno;
};

// True when both paths name the same existing file: the same device and inode,
// through links, other spellings or hard links alike.
bool SameFile(const std::string& a, const std::string& b);

// Why `target` can not be replaced by a new file ("" when it can): a folder or
// another kind of entry that a rename would not replace.
std::string WhyNotReplaceable(const std::string& target);

// The leftovers of dead processes in `folder` that this removed (for tests
// and reports); called by every TStagedFile before it creates its own.
int RemoveStaleLeftovers(const std::string& folder);

// True for a name of the temporary files' shape.
bool IsLeftoverName(const std::string& fileName);

class TStagedFile {
public:
    TStagedFile() = default;
    // Creates the temporary file (mode 0666 less the umask, or the mode of the
    // file it will replace). Throws TStagedFileError with a sentence naming
    // `target` when the target can not be replaced or the file can not be made.
    explicit TStagedFile(const std::string& target);
    ~TStagedFile();  // removes the temporary file unless committed
    TStagedFile(TStagedFile&& other) noexcept;
    TStagedFile& operator=(TStagedFile&& other) noexcept;
    TStagedFile(const TStagedFile&) = delete;
    TStagedFile& operator=(const TStagedFile&) = delete;

    // Where to write: the temporary file (or the target itself when direct).
    const std::string& WritePath() const { return FWritePath; }
    const std::string& Target() const { return FTarget; }
    // An open descriptor of the file being written (-1 when direct).
    int Fd() const { return FFd; }
    bool Direct() const { return FDirect; }

    // Flushes the data to the disk and renames the file over the target.
    // Throws TStagedFileError with a sentence; the target is then untouched
    // and the temporary file removed.
    void Commit();
    // Removes the temporary file now (a failed or cancelled job).
    void Discard();

private:
    std::string FTarget;
    std::string FWritePath;
    int FFd = -1;
    bool FDirect = false;
    bool FPending = false;  // a temporary file of ours is on the disk
};

}  // namespace media
