#pragma once

#include <sys/stat.h>

namespace image_store {

// Which file a name holds: a file renamed over it, or written anew under
// it, is another one.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
    static FileIdentity of(const struct stat& info) { return { info.st_dev, info.st_ino }; }
};

} // namespace image_store
