#include <Poco/Path.h>
#include <Poco/UnicodeConverter.h>

#include "tools/agent/CAgentOptions.h"

#include <windows.h>

namespace Zun {
namespace Tools {
namespace Agent {

namespace {

constexpr DWORD kMaxPath = 32768;

}  // namespace

// One pipe name for the computer: a second agent is refused it, as a second one on the same socket.
std::string CAgentOptions::DefaultControl(const std::string&) {
    return "\\\\.\\pipe\\quil-agent";
}

std::string CAgentOptions::DefaultModulePath() {
    std::wstring self(kMaxPath, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, &self[0], kMaxPath);
    if (length == 0 || length >= kMaxPath) {
        return "quil_connector.dll";
    }
    self.resize(length);
    std::string utf8;
    Poco::UnicodeConverter::toUTF8(self, utf8);
    Poco::Path library(utf8, Poco::Path::PATH_WINDOWS);
    library.setFileName("quil_connector.dll");
    return library.toString(Poco::Path::PATH_WINDOWS);
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
