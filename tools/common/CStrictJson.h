#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace Zun {
namespace Tools {

// What Poco's JSON parser lets through silently, checked on the raw text before it parses: a
// field given twice in one object (Poco keeps the last), an integer beyond 64 bits (Poco wraps it
// around), and bytes that are not UTF-8 (they would be echoed back in answers). Structure errors
// are left to the parser, which names them better.
class CStrictJson {
public:
    // The field's path ("kind", "ids[3]", "Status[0].Status") and what is wrong with it.
    class Error : public std::invalid_argument {
    public:
        Error(std::string path, std::string problem)
            : std::invalid_argument(path.empty() ? problem : path + ": " + problem),
              m_path(std::move(path)),
              m_problem(std::move(problem)) {}
        const std::string& Path() const { return m_path; }
        const std::string& Problem() const { return m_problem; }

    private:
        std::string m_path;
        std::string m_problem;
    };

    // Throws Error for the first fault found.
    static void Check(const std::string& text);
    // Every fault, for a file whose errors should all be shown at once.
    static std::vector<Error> Problems(const std::string& text);
    // The text without a UTF-8 byte order mark at its start, which some editors and shells add.
    static std::string WithoutByteOrderMark(const std::string& text);
};

}  // namespace Tools
}  // namespace Zun
