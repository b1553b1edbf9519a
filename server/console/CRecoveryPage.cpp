#include "server/console/CRecoveryPage.h"

#include <set>

#include "server/console/CHtml.h"

namespace Zun {
namespace Server {

std::string CRecoveryPage::Form(const std::string& query) {
    return "<form method=\"get\" action=\"/recovery\"><label>Computer name or recovery key id <input "
           "name=\"q\" value=\"" +
           CHtml::Escape(query) +
           "\" required autofocus></label> <button type=\"submit\">Find</button></form>";
}

std::string CRecoveryPage::Search(const std::string& query, const std::vector<Match>& matches,
                                  const std::string& csrf, const std::string& error) {
    std::string html = Form(query);
    if (!error.empty()) {
        html += "<p class=\"bad\" role=\"alert\">" + CHtml::Escape(error) + "</p>";
    }
    if (!query.empty() && matches.empty()) {
        html += "<p>No computer or recovery key matches.</p>";
    }
    for (const Match& match : matches) {
        html += Computer(match, csrf);
    }
    return html;
}

std::string CRecoveryPage::Computer(const Match& match, const std::string& csrf) {
    std::string html =
        "<section><h2>" + CHtml::Escape(match.computer) +
        "</h2><table><thead><tr><th>Recovery key id</th><th>Device</th><th>Index</th><th>State</th>"
        "</tr></thead><tbody>";
    std::set<std::string> devices;
    for (const CFleetStore::Item& item : match.items) {
        devices.insert(item.deviceId);
        html += "<tr>" + CHtml::Cell(item.internalId) + CHtml::Cell(item.deviceId) + CHtml::Cell(item.index) +
                CHtml::Cell(item.state) + "</tr>";
    }
    html += "</tbody></table>";
    if (devices.empty()) {
        return html + "<p>No recovery password is escrowed.</p></section>";
    }
    for (const std::string& device : devices) {
        html += RevealForm(match.computer, device, csrf);
    }
    return html + "</section>";
}

std::string CRecoveryPage::RevealForm(const std::string& computer, const std::string& device,
                                      const std::string& csrf) {
    return "<form method=\"post\" action=\"/recovery/reveal\"><fieldset><legend>Reveal the passwords of "
           "device " +
           CHtml::Escape(device) + "</legend>" + CHtml::Hidden("csrf", csrf) +
           CHtml::Hidden("computer", computer) + CHtml::Hidden("device", device) +
           "<p><label>Reason (ticket, caller) <input name=\"reason\" required size=\"40\"></label></p>"
           "<p><label>Your password again <input name=\"password\" type=\"password\" "
           "autocomplete=\"current-password\" required></label></p>"
           "<p><button type=\"submit\">Reveal</button></p></fieldset></form>";
}

std::string CRecoveryPage::Revealed(const std::string& computer,
                                    const std::vector<CFleetService::Revealed>& items) {
    std::string html =
        "<p>Recorded in the audit. This page is not kept: read the password out now.</p><h2>" +
        CHtml::Escape(computer) +
        "</h2><table><thead><tr><th>Recovery key id</th><th>Device</th><th>Index</th><th>State</th>"
        "<th>Recovery password</th></tr></thead><tbody>";
    for (const CFleetService::Revealed& item : items) {
        html += "<tr>" + CHtml::Cell(item.internalId) + CHtml::Cell(item.deviceId) + CHtml::Cell(item.index) +
                CHtml::Cell(item.state) + "<td class=\"secret\">" + CHtml::Escape(item.secret) + "</td></tr>";
    }
    return html + "</tbody></table><p><a href=\"/recovery\">Done</a></p>";
}

}  // namespace Server
}  // namespace Zun
