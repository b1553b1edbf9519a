#pragma once

#include <string>
#include <vector>

namespace Zun {
namespace Tools {

// What a person most likely meant by a name the program does not know, for "did you mean" hints.
class CSuggestion {
public:
    // "; did you mean 'x'?" for the known name closest to the given one, when it is close enough
    // to be a typing slip (at most a third of its letters differ); empty otherwise.
    static std::string DidYouMean(const std::string& given, const std::vector<std::string>& known);
    // The known names as "'a', 'b' or 'c'".
    static std::string List(const std::vector<std::string>& known);
};

}  // namespace Tools
}  // namespace Zun
