#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <stdexcept>

#include "server/console/CPasswordPrompt.h"
#include "tools/agent/store/CSecretWiper.h"

namespace Zun {
namespace Server {

bool CPasswordPrompt::IsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

std::string CPasswordPrompt::ReadHidden(const std::string& prompt) {
    termios original{};
    if (tcgetattr(STDIN_FILENO, &original) != 0) {
        throw std::runtime_error("cannot read the terminal's settings");
    }
    termios hidden = original;
    hidden.c_lflag &= static_cast<tcflag_t>(~ECHO);
    std::cerr << prompt << std::flush;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden) != 0) {
        throw std::runtime_error("cannot turn the terminal's echo off");
    }
    std::string password;
    std::getline(std::cin, password);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &original);
    std::cerr << "\n";
    return password;
}

std::string CPasswordPrompt::Read(const std::string& prompt) {
    std::string password;
    if (!IsTerminal()) {
        std::getline(std::cin, password);
    } else {
        password = ReadHidden(prompt);
        std::string again = ReadHidden("Again: ");
        const bool same = again == password;
        Tools::Agent::CSecretWiper::Wipe(again);
        if (!same) {
            Tools::Agent::CSecretWiper::Wipe(password);
            throw std::runtime_error("the two passwords differ");
        }
    }
    if (password.empty()) {
        throw std::runtime_error("no password was given");
    }
    return password;
}

}  // namespace Server
}  // namespace Zun
