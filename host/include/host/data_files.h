// The files host blocks read and write: opening them with messages that say
// what went wrong, the column lists of data files, and CSV lines of values.
#pragma once

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mrv/datatypes.h"

namespace mrvhost {

// `file` taken relative to `base` unless it is absolute.
std::string resolve_path(const std::string& base, const std::string& file);

// Opens a regular file into `in`; otherwise says why not ("No such file or
// directory", "it is a directory", "it is a character device, not a file").
// "" when it is open.
std::string open_regular_file(std::ifstream& in, const std::string& path);
// Whether two paths name the same file, whether or not it exists yet.
bool same_file(const std::string& a, const std::string& b);

// The file a write to `path` lands in: symbolic links are followed, so the
// file a link points to is written and the link stays. Throws
// std::runtime_error "cannot write "PATH": REASON" when that file exists and
// is not a regular file (a folder, a device, a FIFO, a socket): a writer
// never replaces one, nor waits for a FIFO's reader.
std::string write_target(const std::string& path);
// Throws std::runtime_error naming the folder when `path`'s folder is not
// there, or saying why `path` is no file to write (as write_target), so a
// writer fails before its work rather than at its end.
void check_output_file(const std::string& path);
// Writes a whole file beside the target of `path` and renames it over the
// target, so that a reader sees the old file or the new one, never half of
// one. `fill` writes the content and throws when it cannot; nothing is left
// behind on failure.
void replace_file(const std::string& path, const std::function<void(std::FILE*)>& fill);

// Zero-based column indices from a list such as "0,2,4-6", each checked
// against the `width` of the table before any range is expanded; an empty
// list keeps every column. Throws std::invalid_argument.
std::vector<int> parse_column_list(const std::string& text, int width);
// The fields of a data line, into `fields` (views into `line`): separated
// by a comma, a semicolon or a tab (with blanks around it, or not) or by
// blanks alone; none for a line of white space. A field left empty between
// two separators, or before the first or after the last, throws
// std::invalid_argument "column N is empty" (N from 0).
void split_fields(std::string_view line, std::vector<std::string_view>& fields);

// A data file read a line at a time through a buffer of its own, so that a
// file of any length takes the memory of its longest line and 64 KiB. The
// file must keep its size while it is read: one cut short or grown under a
// running patch throws std::runtime_error ""PATH" changed size while it was
// read (...)" rather than giving a torn row or one that was not there.
class LineReader {
public:
    // Throws std::runtime_error "cannot open "PATH": REASON" (the reasons of
    // open_regular_file).
    explicit LineReader(std::string path);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    // The next line, without its line break, valid until the next call;
    // false after the last.
    bool next(std::string_view& line);
    // The number of the line next() gave last, from 1.
    long number() const { return number_; }
    std::uintmax_t size() const { return size_; }
    const std::string& path() const { return path_; }
    // Back to the first line.
    void rewind();

private:
    // Reads on after the lines not yet given; false at the end of the file.
    bool fill();
    std::string path_;
    int fd_ = -1;
    std::uintmax_t size_ = 0, read_ = 0;
    std::vector<char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    long number_ = 0;
};

// The class ids a CSV sink writes.
bool is_csv_writable(const std::string& class_id);
// Appends the lines (without the tick) that one value of such a class
// becomes to `out`, each after `first` and a comma (none before an empty
// line) and with its line break; returns how many. A double matrix, which a
// sink may get a million times, goes straight to `out`.
std::size_t append_csv_lines(std::string& out, const std::string& first, const Mrv::IDatatype& value);
// A text field, quoted when it holds a separator, a quote or a line break.
std::string csv_field(const std::string& text);

// A file written a tick at a time: each write() hands the whole text to the
// system in one piece, so the file never ends in a torn line.
class TickWriter {
public:
    // Creates or empties the file (the target of a symbolic link); throws
    // std::runtime_error "cannot write "PATH": REASON", also for a target
    // that is not a regular file.
    explicit TickWriter(std::string path);
    ~TickWriter();
    TickWriter(const TickWriter&) = delete;
    TickWriter& operator=(const TickWriter&) = delete;
    // Throws std::runtime_error naming the file and the reason.
    void write(const std::string& text);
    void close();
    const std::string& path() const { return path_; }

private:
    [[noreturn]] void fail(int error) const;
    std::string path_;
    int fd_ = -1;
};

}  // namespace mrvhost
