#pragma once

#include <map>
#include <string>

namespace Zun {
namespace Tools {
namespace Agent {

// The agent's configuration file: `key = value` lines (or `key: value`), blank lines and comments
// that start with `#` or `!`. Key and value lose their surrounding white space; a backslash at the
// end of a line continues the value on the next, and \t, \r, \n, \f stand for those characters while
// a backslash before any other character keeps that character. A key given twice keeps its last
// value. Read here rather than through Poco::Util, whose library (with PocoXML and expat) took a
// megabyte of every agent's memory for this alone.
class CConfigurationFile {
public:
    static std::map<std::string, std::string> Parse(const std::string& text);
};

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
