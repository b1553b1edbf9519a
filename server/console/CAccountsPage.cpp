#include "server/console/CAccountsPage.h"

#include "server/console/CHtml.h"

namespace Zun {
namespace Server {

const char* const CAccountsPage::kAdd = "add";
const char* const CAccountsPage::kSetRole = "role";
const char* const CAccountsPage::kUnlock = "unlock";
const char* const CAccountsPage::kRemove = "remove";

std::string CAccountsPage::Render(const std::vector<CConsoleAccounts::Listed>& accounts,
                                  const std::string& csrf, const std::string& message, bool refused) {
    const std::string status = message.empty()
                                   ? ""
                                   : "<p role=\"status\" class=\"" + std::string(refused ? "bad" : "good") +
                                         "\">" + CHtml::Escape(message) + "</p>";
    return status + Table(accounts) + AddForm(csrf) + ChangeForm(accounts, csrf);
}

std::string CAccountsPage::Table(const std::vector<CConsoleAccounts::Listed>& accounts) {
    std::string html =
        "<table><thead><tr><th>Account</th><th>Role</th><th>Locked</th><th>Last sign-in</th></tr></thead>"
        "<tbody>";
    for (const CConsoleAccounts::Listed& account : accounts) {
        html += "<tr>" + CHtml::Cell(account.name) + CHtml::Cell(account.role) +
                (account.locked ? "<td class=\"bad\">locked</td>" : "<td>no</td>") +
                CHtml::Cell(account.lastSignIn.empty() ? "never" : account.lastSignIn) + "</tr>";
    }
    return html + "</tbody></table>";
}

std::string CAccountsPage::RoleChoice(const std::string& label) {
    return CHtml::Choice("role", label, CConsoleAccounts::kHelpDesk,
                         {CConsoleAccounts::kHelpDesk, CConsoleAccounts::kAdministrator});
}

std::string CAccountsPage::YourPassword() {
    return "<p><label>Your password <input type=\"password\" name=\"password\" required "
           "autocomplete=\"current-password\"></label></p>";
}

std::string CAccountsPage::AddForm(const std::string& csrf) {
    return "<form method=\"post\" action=\"/accounts\"><fieldset><legend>Add an account</legend>" +
           CHtml::Hidden("csrf", csrf) + CHtml::Hidden("action", kAdd) +
           "<p><label>Name <input name=\"name\" required maxlength=\"64\" autocomplete=\"off\"></label> " +
           RoleChoice("Role") +
           "</p><p><label>Initial password <input type=\"password\" name=\"new_password\" required "
           "minlength=\"" +
           std::to_string(CConsoleAccounts::kMinPassword) +
           "\" autocomplete=\"new-password\"></label> <label>Again <input type=\"password\" "
           "name=\"new_password_again\" required autocomplete=\"new-password\"></label></p>" +
           YourPassword() + "<p><button type=\"submit\">Add</button></p></fieldset></form>";
}

std::string CAccountsPage::ChangeForm(const std::vector<CConsoleAccounts::Listed>& accounts,
                                      const std::string& csrf) {
    std::string names = "<label>Account <select name=\"name\">";
    for (const CConsoleAccounts::Listed& account : accounts) {
        names += "<option value=\"" + CHtml::Escape(account.name) + "\">" + CHtml::Escape(account.name) +
                 "</option>";
    }
    names += "</select></label> ";
    const std::string changes = "<label>Change <select name=\"action\"><option value=\"" +
                                std::string(kSetRole) + "\">give the role below</option><option value=\"" +
                                kUnlock + "\">unlock</option><option value=\"" + kRemove +
                                "\">remove</option></select></label> ";
    return "<form method=\"post\" action=\"/accounts\"><fieldset><legend>Change an account</legend>" +
           CHtml::Hidden("csrf", csrf) + "<p>" + names + changes + RoleChoice("Role") + "</p>" +
           YourPassword() + "<p><button type=\"submit\">Change</button></p></fieldset></form>";
}

}  // namespace Server
}  // namespace Zun
