#include "server/console/CLoginPage.h"

#include "server/console/CHtml.h"
#include "server/console/CPageLayout.h"

namespace Zun {
namespace Server {

std::string CLoginPage::Render(const std::string& error, const std::string& formToken) {
    const std::string message =
        error.empty() ? "" : "<p class=\"bad\" role=\"alert\">" + CHtml::Escape(error) + "</p>";
    return CPageLayout::Wrap("Sign in", {},
                             message + "<form method=\"post\" action=\"/login\">" +
                                 CHtml::Hidden("csrf", formToken) +
                                 "<p><label>Account <input name=\"user\" autocomplete=\"username\" required "
                                 "autofocus></label></p><p><label>Password <input name=\"password\" "
                                 "type=\"password\" autocomplete=\"current-password\" required></label></p>"
                                 "<p><button type=\"submit\">Sign in</button></p></form>");
}

}  // namespace Server
}  // namespace Zun
