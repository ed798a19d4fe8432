#include "host/names.h"

#include <algorithm>
#include <cctype>

namespace mrvhost {
namespace {

std::string lowered(const std::string& text) {
    std::string result = text;
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

// Letters to insert, delete or change to turn `a` into `b`.
std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j < row.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

// Names longer than this are not compared: messages quote no more, and a
// hostile name must not cost a quadratic amount of work.
constexpr std::size_t compared_length = 64;
// Lists of known names longer than this are not spelled out.
constexpr std::size_t listed_names = 12;

std::string quoted_list(const std::vector<std::string>& names, const char* last_joint) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? last_joint : ", ";
        text += "\"" + names[i] + "\"";
    }
    return text;
}

}  // namespace

std::vector<std::string> near_names(const std::string& given, const std::vector<std::string>& known,
                                    std::size_t limit) {
    const std::string word = lowered(given.substr(0, compared_length));
    if (word.empty()) return {};
    // A typo or two in a short name, more in a long one.
    const std::size_t allowed = std::max<std::size_t>(2, word.size() / 4);
    std::vector<std::pair<std::size_t, std::string>> scored;
    for (const auto& name : known) {
        if (name.size() > compared_length) continue;
        const std::string candidate = lowered(name);
        std::size_t score;
        if (candidate == word) score = 0;
        else if (const std::size_t distance = edit_distance(word, candidate); distance <= allowed) score = distance;
        else if (word.size() >= 3 && candidate.size() >= 3 &&
                 (candidate.find(word) != std::string::npos || word.find(candidate) != std::string::npos))
            score = allowed + 1;  // "Bound" for "OutputLowBound", "trainmodelnow" for "TrainModel"
        else continue;
        scored.emplace_back(score, name);
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // The same name in another case is surely the one meant.
    if (!scored.empty() && scored.front().first == 0)
        scored.erase(std::find_if(scored.begin(), scored.end(), [](const auto& entry) { return entry.first > 0; }),
                     scored.end());
    std::vector<std::string> result;
    for (const auto& entry : scored) {
        if (result.size() == limit) break;
        if (std::find(result.begin(), result.end(), entry.second) == result.end()) result.push_back(entry.second);
    }
    return result;
}

std::string did_you_mean(const std::string& given, const std::vector<std::string>& known, const std::string& what) {
    const std::vector<std::string> near = near_names(given, known);
    if (!near.empty()) return " (did you mean " + quoted_list(near, " or ") + "?)";
    if (known.empty()) return " (there are no " + what + ")";
    if (known.size() <= listed_names) return " (the " + what + " are " + quoted_list(known, " and ") + ")";
    return "";
}

}  // namespace mrvhost
