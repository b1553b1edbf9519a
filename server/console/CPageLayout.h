#pragma once

#include <string>

namespace Zun {
namespace Server {

// The frame of every console page: the document, the navigation the account's role may use, the
// sign-out form (with the session's CSRF token) and the style sheet the console serves itself.
class CPageLayout {
public:
    struct Viewer {
        std::string user;
        std::string role;
        std::string csrf;
    };

    // body is HTML already; the title is escaped here. A viewer without a user is signed out.
    static std::string Wrap(const std::string& title, const Viewer& viewer, const std::string& body);
    // The style sheet, served at /console.css.
    static const char* StyleSheet();

private:
    static std::string Navigation(const Viewer& viewer);
};

}  // namespace Server
}  // namespace Zun
