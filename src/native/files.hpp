// The native code's one way to touch the file system: a regular file read
// whole, a file written whole or not at all. Both run without the GIL and
// report failures as values, for the caller to raise once it holds the GIL.
#pragma once

#include <cstddef>
#include <string>

namespace orvane {

struct FileText {
    std::string text;
    int err = 0;          // an errno (OSError naming the file), or 0
    std::string refused;  // or why the file is not read (not a regular file, too large)
};

// The bytes of `path`, which must be a regular file of at most `limit` bytes:
// a pipe, a device or a socket is refused without blocking on it or reading
// it (a FIFO would wait for a writer forever, /dev/zero never ends).
FileText read_regular_file(const std::string& path, std::size_t limit);

// Writes `text` to `path` under a unique temporary name in the same folder
// (mkstemps: concurrent writers of one path never share a file), with the
// permissions a new file gets, then renames it onto `path`: a reader sees the
// old file or the whole new one. On failure only that temporary file is
// removed. Returns 0 or the errno. Not fsynced: its callers write derived,
// reproducible files in batches, where a sync per file would dominate.
int write_whole(const std::string& path, const std::string& text);

}  // namespace orvane
