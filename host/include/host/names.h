// Answers to a misspelt name: the known names a user most likely meant.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace mrvhost {

// The known names close to `given`, best first, at most `limit`: the same
// name in another case (then only those), else names a few letters away
// (ignoring case), then names that contain it or that it contains.
std::vector<std::string> near_names(const std::string& given, const std::vector<std::string>& known,
                                    std::size_t limit = 3);

// The end of a refusal: " (did you mean "A" or "B"?)" for near names; with
// none, " (the <what> are "a", "b", ...)" when there are few known names,
// else "".
std::string did_you_mean(const std::string& given, const std::vector<std::string>& known, const std::string& what);

}  // namespace mrvhost
