#include "framework/notifications.h"

#include <cstdio>

namespace Mrv {

std::string format_notification(const char* format, va_list arguments) {
    char buffer[longest_notification + 1];
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    return buffer;
}

void recurring_texts::clear() {
    current_.clear();
    previous_.clear();
}

bool recurring_texts::admit(const std::string& text) {
    if (previous_.erase(text) > 0) {
        current_.insert(text);
        return false;
    }
    return current_.insert(text).second;
}

}  // namespace Mrv
