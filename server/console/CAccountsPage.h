#pragma once

#include <string>
#include <vector>

#include "server/console/CConsoleAccounts.h"

namespace Zun {
namespace Server {

// The administrators' page of the console's accounts: the list (name, role, locked, last sign-in),
// a form to add one and a form to change one (its role, an unlock, its removal). Every form asks
// for the administrator's own password again.
class CAccountsPage {
public:
    static const char* const kAdd;
    static const char* const kSetRole;
    static const char* const kUnlock;
    static const char* const kRemove;

    static std::string Render(const std::vector<CConsoleAccounts::Listed>& accounts, const std::string& csrf,
                              const std::string& message, bool refused);

private:
    static std::string Table(const std::vector<CConsoleAccounts::Listed>& accounts);
    static std::string AddForm(const std::string& csrf);
    static std::string ChangeForm(const std::vector<CConsoleAccounts::Listed>& accounts,
                                  const std::string& csrf);
    static std::string RoleChoice(const std::string& label);
    static std::string YourPassword();
};

}  // namespace Server
}  // namespace Zun
