// What the block base does with a notification before the host sees it:
// formatting into the host's text limit, and silencing a text that recurs
// on every Execute.
#pragma once

#include <cstdarg>
#include <set>
#include <string>

namespace Mrv {

// Longest notification text, without the terminator.
constexpr std::size_t longest_notification = 511;

// The printf-style text, cut to the longest notification.
std::string format_notification(const char* format, va_list arguments);

// The texts of the current and the previous Execute: a text sent in the
// previous one stays silent while it recurs.
class recurring_texts {
public:
    // Around an Execute: the texts of the last one become the previous.
    // Inline and free of work while nothing was sent: they run every tick.
    void begin_execute() {
        if (!previous_.empty()) previous_.clear();
        if (!current_.empty()) previous_.swap(current_);
    }
    void end_execute() {
        if (!previous_.empty()) previous_.clear();
    }
    // Both sets emptied (Init, Start, Stop, Done and parameter changes
    // start afresh).
    void clear();
    // Whether `text` is to be sent: not sent in this cycle, nor recurring
    // from the previous one.
    bool admit(const std::string& text);

private:
    std::set<std::string> current_, previous_;
};

}  // namespace Mrv
