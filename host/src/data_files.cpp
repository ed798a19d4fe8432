#include "host/data_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include <boost/algorithm/string.hpp>

#include "host/datatypes.h"

namespace mrvhost {

namespace fs = std::filesystem;

std::string resolve_path(const std::string& base, const std::string& file) {
    if (file.empty() || file[0] == '/' || base.empty()) return file;
    return (fs::path(base) / file).lexically_normal().string();
}

namespace {

// Why something of this type is no file to read or write; "" for a file.
std::string not_a_file(fs::file_type type) {
    switch (type) {
    case fs::file_type::regular: return "";
    case fs::file_type::directory: return "it is a directory";
    case fs::file_type::character: return "it is a character device, not a file";
    case fs::file_type::block: return "it is a block device, not a file";
    case fs::file_type::fifo: return "it is a pipe, not a file";
    case fs::file_type::socket: return "it is a socket, not a file";
    default: return "it is not a file";
    }
}

fs::file_type type_of(const struct stat& status) {
    if (S_ISREG(status.st_mode)) return fs::file_type::regular;
    if (S_ISDIR(status.st_mode)) return fs::file_type::directory;
    if (S_ISCHR(status.st_mode)) return fs::file_type::character;
    if (S_ISBLK(status.st_mode)) return fs::file_type::block;
    if (S_ISFIFO(status.st_mode)) return fs::file_type::fifo;
    if (S_ISSOCK(status.st_mode)) return fs::file_type::socket;
    return fs::file_type::unknown;
}

[[noreturn]] void cannot_write(const std::string& path, const std::string& reason) {
    throw std::runtime_error("cannot write \"" + path + "\": " + reason);
}

}  // namespace

namespace {

// Why `path` is no file to read; "" for a regular file.
std::string not_readable(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    return error ? error.message() : not_a_file(status.type());
}

}  // namespace

std::string open_regular_file(std::ifstream& in, const std::string& path) {
    if (std::string reason = not_readable(path); !reason.empty()) return reason;
    errno = 0;
    in.open(path);
    return in ? "" : errno ? std::strerror(errno) : "unreadable";
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    if (fs::exists(a, error) && fs::exists(b, error)) return fs::equivalent(a, b, error);
    return fs::weakly_canonical(fs::absolute(a), error) == fs::weakly_canonical(fs::absolute(b), error);
}

std::string write_target(const std::string& path) {
    fs::path target = path;
    std::error_code error;
    // As the system follows links, at most 40 deep.
    for (int links = 0; fs::is_symlink(fs::symlink_status(target, error)); ++links) {
        if (links == 40) cannot_write(path, std::strerror(ELOOP));
        const fs::path next = fs::read_symlink(target, error);
        if (error) cannot_write(path, error.message());
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    const fs::file_status status = fs::symlink_status(target, error);
    if (fs::exists(status))
        if (std::string reason = not_a_file(status.type()); !reason.empty()) cannot_write(path, reason);
    return target.string();
}

void check_output_file(const std::string& path) {
    if (path.empty()) throw std::runtime_error("no output file given (File)");
    fs::path folder = fs::path(write_target(path)).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    if (!fs::is_directory(folder, error))
        throw std::runtime_error("cannot write \"" + path + "\": the folder \"" + folder.string() + "\" does not exist");
}

void replace_file(const std::string& path, const std::function<void(std::FILE*)>& fill) {
    const std::string target = write_target(path);
    std::string temporary = target + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) cannot_write(path, std::strerror(errno));
    // mkstemp makes the file private; give it the mode of a file the
    // process creates.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        cannot_write(path, std::strerror(error));
    }
    try {
        fill(file);
    } catch (...) {
        std::fclose(file);
        ::unlink(temporary.c_str());
        throw;
    }
    errno = 0;
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    const int error = errno;
    const bool closed = std::fclose(file) == 0;
    if (!flushed || !closed || std::rename(temporary.c_str(), target.c_str()) != 0) {
        const int reason = !flushed ? (error ? error : EIO) : errno;
        ::unlink(temporary.c_str());
        cannot_write(path, std::strerror(reason));
    }
}

namespace {

// A column number below `width`, read whole; anything else is no number.
bool column_number(const std::string& text, int width, int& column) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, column);
    return result.ec == std::errc() && result.ptr == end && column >= 0 && column < width;
}

std::string shortened(const std::string& text) { return text.size() > 40 ? text.substr(0, 40) + "..." : text; }

}  // namespace

std::vector<int> parse_column_list(const std::string& text, int width) {
    std::vector<int> columns;
    if (boost::algorithm::trim_copy(text).empty()) {
        for (int c = 0; c < width; ++c) columns.push_back(c);
        return columns;
    }
    const std::string range = width == 1 ? "column 0" : "columns 0 to " + std::to_string(width - 1);
    std::vector<std::string> parts;
    boost::algorithm::split(parts, text, boost::algorithm::is_any_of(","));
    for (auto part : parts) {
        boost::algorithm::trim(part);
        const auto dash = part.find('-', 1);
        int first = 0, last = 0;
        const bool good = dash == std::string::npos
                              ? column_number(part, width, first) && column_number(part, width, last)
                              : column_number(boost::algorithm::trim_copy(part.substr(0, dash)), width, first) &&
                                    column_number(boost::algorithm::trim_copy(part.substr(dash + 1)), width, last) &&
                                    first <= last;
        if (!good)
            throw std::invalid_argument("bad column list \"" + shortened(text) + "\"" +
                                        (parts.size() > 1 ? ": \"" + shortened(part) + "\" is not" : "") +
                                        " among " + range);
        for (int c = first; c <= last; ++c) columns.push_back(c);
    }
    return columns;
}

// Written out rather than with a generic splitter: a large table spends
// much of its read time here.
void split_fields(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
    // What each character is, looked up once.
    enum : unsigned char { other, blank, separator };
    static const auto kinds = [] {
        std::array<unsigned char, 256> kinds{};
        for (unsigned char c : {' ', '\r', '\v', '\f'}) kinds[c] = blank;
        for (unsigned char c : {',', ';', '\t'}) kinds[c] = separator;
        return kinds;
    }();
    const auto is_blank = [](char c) { return kinds[static_cast<unsigned char>(c)] == blank; };
    const auto is_separator = [](char c) { return kinds[static_cast<unsigned char>(c)] == separator; };
    const auto is_other = [](char c) { return kinds[static_cast<unsigned char>(c)] == other; };
    std::size_t i = 0, end = line.size();
    while (i < end && (is_blank(line[i]) || line[i] == '\t')) ++i;
    if (i == end) return;  // a line of white space holds no row
    i = 0;
    while (i < end && is_blank(line[i])) ++i;
    while (end > i && is_blank(line[end - 1])) --end;
    auto empty = [&] { return std::invalid_argument("column " + std::to_string(fields.size()) + " is empty"); };
    for (;;) {
        const std::size_t start = i;
        while (i < end && is_other(line[i])) ++i;
        if (i == start) throw empty();
        fields.push_back(line.substr(start, i - start));
        while (i < end && is_blank(line[i])) ++i;
        if (i == end) return;
        if (is_separator(line[i])) {
            ++i;
            while (i < end && is_blank(line[i])) ++i;
            if (i == end) throw empty();
        }
    }
}

namespace {
constexpr std::size_t read_piece = 64 * 1024;
}  // namespace

LineReader::LineReader(std::string path) : path_(std::move(path)) {
    std::string reason = not_readable(path_);
    if (reason.empty()) {
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat status {};
        if (fd_ < 0 || ::fstat(fd_, &status) != 0) reason = std::strerror(errno);
        else size_ = static_cast<std::uintmax_t>(status.st_size);
    }
    if (!reason.empty()) {
        if (fd_ >= 0) ::close(fd_);
        throw std::runtime_error("cannot open \"" + path_ + "\": " + reason);
    }
    buffer_.resize(read_piece);
}

LineReader::~LineReader() { ::close(fd_); }

void LineReader::rewind() {
    read_ = 0;
    begin_ = end_ = 0;
    number_ = 0;
}

bool LineReader::next(std::string_view& line) {
    for (;;) {
        const char* start = buffer_.data() + begin_;
        if (const void* found = std::memchr(start, '\n', end_ - begin_)) {
            const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(found) - start);
            line = std::string_view(start, length);
            begin_ += length + 1;
            ++number_;
            return true;
        }
        if (!fill()) {
            // The last line may end without a line break.
            if (begin_ == end_) return false;
            line = std::string_view(buffer_.data() + begin_, end_ - begin_);
            begin_ = end_;
            ++number_;
            return true;
        }
    }
}

bool LineReader::fill() {
    // Checked on every read, so that a change shows before a row of it is
    // given; a file that grew is caught at its old end.
    auto size_now = [&] {
        struct stat status {};
        if (::fstat(fd_, &status) != 0)
            throw std::runtime_error("cannot read \"" + path_ + "\": " + std::strerror(errno));
        return static_cast<std::uintmax_t>(status.st_size);
    };
    auto changed = [&](std::uintmax_t now) {
        return std::runtime_error("\"" + path_ + "\" changed size while it was read (" + std::to_string(size_) +
                                  " bytes, now " + std::to_string(now) + ")");
    };
    if (const auto now = size_now(); now != size_) throw changed(now);
    if (read_ == size_) return false;
    // The unfinished line moves to the front; a line longer than the
    // buffer makes it grow.
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (buffer_.size() - end_ < read_piece / 2) buffer_.resize(buffer_.size() * 2);
    const auto wanted = static_cast<std::size_t>(std::min<std::uintmax_t>(buffer_.size() - end_, size_ - read_));
    ssize_t n = 0;
    do n = ::pread(fd_, buffer_.data() + end_, wanted, static_cast<off_t>(read_));
    while (n < 0 && errno == EINTR);
    if (n < 0) throw std::runtime_error("cannot read \"" + path_ + "\": " + std::strerror(errno));
    if (n == 0) throw changed(size_now());  // cut short since the size was taken
    end_ += static_cast<std::size_t>(n);
    read_ += static_cast<std::uintmax_t>(n);
    return true;
}

std::string csv_field(const std::string& text) {
    if (!text.empty() && text.find_first_of(",;\"\r\n\t ") == std::string::npos) return text;
    std::ostringstream quoted;
    quoted << std::quoted(text, '"', '"');
    return quoted.str();
}

bool is_csv_writable(const std::string& class_id) {
    return class_id != "trigger" && is_known_datatype(catalog_of(class_id), class_id);
}

namespace {

template <class M>
std::string matrix_row(const M& matrix, Mrv::int32 row) {
    std::string line;
    for (Mrv::int32 c = 0; c < matrix.GetWidth(); ++c) {
        if (c) line += ",";
        if constexpr (std::is_same_v<M, Mrv::IDoubleMatrix>) line += format_double(matrix.GetAt(row, c));
        else line += std::to_string(matrix.GetAt(row, c));
    }
    return line;
}

template <class M>
std::vector<std::string> matrix_lines(const M& matrix) {
    std::vector<std::string> lines;
    for (Mrv::int32 r = 0; r < matrix.GetHeight(); ++r) lines.push_back(matrix_row(matrix, r));
    return lines;
}

// The lines (without the tick) a value of any class but a double matrix
// becomes; append_csv_lines writes those straight to its text.
std::vector<std::string> csv_lines(Mrv::IDatatype& value) {
    if (auto* s = Mrv::interface_cast<Mrv::IString>(&value)) return {csv_field(s->GetValue())};
    if (auto* m = Mrv::interface_cast<Mrv::IIntMatrix>(&value)) return matrix_lines(*m);
    if (auto* p = Mrv::interface_cast<Mrv::IPoint2DInt>(&value))
        return {std::to_string(p->GetX()) + "," + std::to_string(p->GetY())};
    if (auto* set = Mrv::interface_cast<Mrv::ILabelledSet>(&value)) {
        std::vector<std::string> lines;
        for (Mrv::int32 i = 0; i < set->GetCount(); ++i) {
            std::string line = csv_field(set->GetName(i));
            for (const auto& row : matrix_lines(*set->GetItem(i)))
                if (!row.empty()) line += "," + row;
            lines.push_back(line);
        }
        return lines;
    }
    if (auto* t = Mrv::interface_cast<Mrv::ITemporalData>(&value)) {
        std::vector<std::string> lines;
        for (Mrv::int32 ch = 0; ch < t->GetChannelCount(); ++ch) {
            std::string line = std::to_string(ch) + "," + format_double(sample_rate(*t));
            const double* samples = t->GetChannel(ch);
            for (Mrv::int32 k = 0; k < t->GetSampleCount(); ++k) line += "," + format_double(samples[k]);
            lines.push_back(line);
        }
        return lines;
    }
    if (Mrv::interface_cast<Mrv::ITrigger>(&value))
        throw std::invalid_argument("a CSV file cannot hold a trigger");
    // Scalars read as they print.
    return {value_to_text(value)};
}

}  // namespace

std::size_t append_csv_lines(std::string& out, const std::string& first, const Mrv::IDatatype& constant) {
    auto& value = const_cast<Mrv::IDatatype&>(constant);
    if (auto* m = Mrv::interface_cast<Mrv::IDoubleMatrix>(&value)) {
        const double* cell = m->GetReadPointer();
        for (Mrv::int32 r = 0; r < m->GetHeight(); ++r) {
            out += first;
            for (Mrv::int32 c = 0; c < m->GetWidth(); ++c) append_double(out += ',', *cell++);
            out += '\n';
        }
        return static_cast<std::size_t>(m->GetHeight());
    }
    const std::vector<std::string> lines = csv_lines(value);
    for (const auto& line : lines) {
        out += first;
        if (!line.empty()) (out += ',') += line;
        out += '\n';
    }
    return lines.size();
}

TickWriter::TickWriter(std::string path) : path_(std::move(path)) {
    const std::string target = write_target(path_);
    // Not emptied before it is known to be a file; without a reader a FIFO
    // refuses at once instead of blocking the open.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) fail(errno);
    struct stat status {};
    std::string reason;
    if (::fstat(fd, &status) != 0) reason = std::strerror(errno);
    else reason = not_a_file(type_of(status));
    if (reason.empty() && (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0))
        reason = std::strerror(errno);
    if (!reason.empty()) {
        ::close(fd);
        cannot_write(path_, reason);
    }
    fd_ = fd;
}

TickWriter::~TickWriter() {
    if (fd_ >= 0) ::close(fd_);
}

void TickWriter::write(const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(n < 0 ? errno : ENOSPC);
        written += static_cast<std::size_t>(n);
    }
}

void TickWriter::close() {
    if (fd_ < 0) return;
    const int result = ::close(std::exchange(fd_, -1));
    if (result != 0 && errno != EINTR) fail(errno);
}

void TickWriter::fail(int error) const {
    throw std::runtime_error("cannot write \"" + path_ + "\": " + std::strerror(error));
}

}  // namespace mrvhost
