#pragma once

#include <string>

namespace Zun {
namespace Server {

// The sign-in form. It carries a token of its own that must match the cookie set with it, so that
// another site cannot sign a browser in to an account of its choosing.
class CLoginPage {
public:
    static std::string Render(const std::string& error, const std::string& formToken);
};

}  // namespace Server
}  // namespace Zun
