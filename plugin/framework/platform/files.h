// Opening the files a block is told to read or write, in place of the
// Windows file API. Only regular files are read or written: a device, a
// FIFO, a socket or a folder named where a file is expected is refused
// with the reason, never opened (a FIFO with no peer would hang the host's
// thread, /dev/zero would fill memory, /dev/full would swallow a model).
// Symbolic links are followed: what counts is the file they lead to.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace Mrv {
namespace platform {

// Why `path` cannot take a written file: empty when nothing exists there
// yet or a regular file does, else a reason such as "it is a FIFO".
std::string why_not_writable(const std::string& path);

// Opens `path` for writing as fopen does with "w" (append false) or "a"
// (append true), but only a regular file or a new one; null otherwise,
// with the reason in `reason` (empty when the system gave none beyond a
// failed open).
std::FILE* open_for_writing(const std::string& path, bool append, std::string* reason);

// A regular file opened for reading, of at most `most_bytes` bytes; a
// FIFO is opened without waiting for a writer and then refused.
class readable_file {
public:
    readable_file(const std::string& path, std::uint64_t most_bytes);
    ~readable_file();
    readable_file(const readable_file&) = delete;
    readable_file& operator=(const readable_file&) = delete;

    bool is_open() const { return descriptor_ >= 0; }
    // Nothing has that name (a typing slip rather than a wrong kind of file).
    bool missing() const { return missing_; }
    // Why the file was refused: "it is a folder", "it is a FIFO", ...
    const std::string& reason() const { return reason_; }
    // A name under which this very file can be opened again, whatever the
    // original name leads to by then (libraries that take a file name).
    std::string reopen_name() const;

private:
    int descriptor_ = -1;
    bool missing_ = false;
    std::string reason_;
};

}  // namespace platform
}  // namespace Mrv
