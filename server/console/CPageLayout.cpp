#include "server/console/CPageLayout.h"

#include "server/console/CConsoleAccounts.h"
#include "server/console/CHtml.h"

namespace Zun {
namespace Server {

namespace {

// Plain CSS for a readable table at any zoom: relative sizes, wrapping cells, a visible focus.
const char* const kStyleSheet =
    "body{font-family:sans-serif;margin:0 1rem;line-height:1.4}"
    "nav{display:flex;flex-wrap:wrap;gap:1rem;align-items:center;padding:.5rem 0;border-bottom:1px solid "
    "#888}"
    "nav form{margin-left:auto}"
    "table{border-collapse:collapse;width:100%}"
    "th,td{border-bottom:1px solid #ccc;padding:.25rem .5rem;text-align:left;vertical-align:top;"
    "overflow-wrap:anywhere}"
    ".counts{display:flex;flex-wrap:wrap;gap:1rem;list-style:none;padding:0}"
    ".counts li{border:1px solid #888;padding:.25rem .75rem}"
    ".bad{color:#a00000}.good{color:#006000}"
    ".secret{font-family:monospace;font-size:1.25rem;background:#ffd}"
    "form.inline{display:inline}"
    "svg.timeline{width:100%;max-width:60rem;height:auto;font-size:12px}"
    ".timeline .lane{fill:#222}.timeline .end{text-anchor:end}.timeline .axis{stroke:#ccc}"
    ".timeline .mark{fill:#1a5fb4}.state-connected{fill:#2e7d32}.state-not-reachable{fill:#c62828}"
    ".state-not-installed{fill:#757575}.state-unknown{fill:#d0d0d0}"
    "label{margin-right:.75rem}"
    "a:focus,button:focus,input:focus,select:focus{outline:3px solid #1a5fb4}";

}  // namespace

const char* CPageLayout::StyleSheet() {
    return kStyleSheet;
}

std::string CPageLayout::Navigation(const Viewer& viewer) {
    if (viewer.user.empty()) {
        return "";
    }
    std::string links;
    if (viewer.role == CConsoleAccounts::kAdministrator) {
        links += CHtml::Link("/fleet", "Fleet") + CHtml::Link("/tasks", "Tasks") +
                 CHtml::Link("/audit", "Audit") + CHtml::Link("/accounts", "Accounts");
    }
    links += CHtml::Link("/recovery", "Recovery");
    return "<nav aria-label=\"pages\">" + links + "<form method=\"post\" action=\"/logout\">" +
           CHtml::Hidden("csrf", viewer.csrf) + "<span>" + CHtml::Escape(viewer.user) + " (" +
           CHtml::Escape(viewer.role) + ")</span> <button type=\"submit\">Sign out</button></form></nav>";
}

std::string CPageLayout::Wrap(const std::string& title, const Viewer& viewer, const std::string& body) {
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>" +
           CHtml::Escape(title) +
           " - quil-server</title><link rel=\"stylesheet\" href=\"/console.css\"></head><body>" +
           Navigation(viewer) + "<main><h1>" + CHtml::Escape(title) + "</h1>" + body +
           "</main></body></html>\n";
}

}  // namespace Server
}  // namespace Zun
