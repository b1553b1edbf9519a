#include "tools/common/CSuggestion.h"

#include <algorithm>

namespace Zun {
namespace Tools {

namespace {

// Letters that may differ for every three of the given name's, and never fewer than one.
const size_t kLettersPerSlip = 3;

// Insertions, deletions, substitutions and swaps of neighbours, each one slip (the optimal string
// alignment distance): "sned" is one slip from "send".
size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min(
                {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string CSuggestion::DidYouMean(const std::string& given, const std::vector<std::string>& known) {
    const std::string* best = nullptr;
    size_t bestDistance = std::max<size_t>(1, given.size() / kLettersPerSlip) + 1;
    for (const std::string& name : known) {
        const size_t distance = Distance(given, name);
        if (distance < bestDistance) {
            best = &name;
            bestDistance = distance;
        }
    }
    return best == nullptr ? std::string() : "; did you mean '" + *best + "'?";
}

std::string CSuggestion::List(const std::vector<std::string>& known) {
    std::string list;
    for (size_t i = 0; i < known.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == known.size() ? " or " : ", ") + ("'" + known[i] + "'");
    }
    return list;
}

}  // namespace Tools
}  // namespace Zun
