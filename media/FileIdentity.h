// Who a movie file is, so that what we keep about it (a timeline cache, its
// segments) is found again when the same file is opened, and is not handed
// to a different or changed file that happens to have the same name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace media {

struct TFileIdentity {
    uint64_t Size = 0;
    int64_t ModifiedNs = 0;      // modification time, nanoseconds since the epoch
    std::string ContentHash;     // hex SHA-256 of the first and the last MiB (the whole file when smaller)

    // One printable key made of all three, fit for a file name or a database key.
    std::string Key() const;
    bool operator==(const TFileIdentity&) const = default;
};

// The identity of the regular file at path. Returns nothing for a file that
// cannot be read, or that is not a regular file (a FIFO or a device would be
// consumed or never end).
std::optional<TFileIdentity> IdentifyFile(const std::string& path);

}  // namespace media
