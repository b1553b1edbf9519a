#include "server/console/CRecoveryFinder.h"

#include <cctype>

namespace Zun {
namespace Server {

std::string CRecoveryFinder::Normal(const std::string& text) {
    std::string normal;
    for (const char c : text) {
        if (c != '{' && c != '}' && !std::isspace(static_cast<unsigned char>(c))) {
            normal += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return normal;
}

std::vector<CFleetStore::Item> CRecoveryFinder::Passwords(const std::vector<CFleetStore::Item>& items) {
    std::vector<CFleetStore::Item> passwords;
    for (const CFleetStore::Item& item : items) {
        if (item.kind == CFleetStore::kPassword) {
            passwords.push_back(item);
        }
    }
    return passwords;
}

// A name matches in part; an id only from kMinIdPart characters on, so that a short query does not
// list half the fleet's keys.
std::vector<CRecoveryPage::Match> CRecoveryFinder::Find(const std::string& query) {
    std::vector<CRecoveryPage::Match> matches;
    const std::string wanted = Normal(query);
    if (wanted.empty()) {
        return matches;
    }
    const bool byId = wanted.size() >= kMinIdPart;
    for (const CFleetStore::Computer& computer : m_store.Computers()) {
        if (matches.size() >= CRecoveryPage::kMaxMatches) {
            break;
        }
        const bool byName = Normal(computer.name).find(wanted) != std::string::npos;
        if (!byName && !byId) {
            continue;
        }
        const std::vector<CFleetStore::Item> passwords = Passwords(m_store.Items(computer.name));
        bool idMatches = false;
        for (const CFleetStore::Item& item : passwords) {
            idMatches = idMatches || Normal(item.internalId).find(wanted) != std::string::npos ||
                        Normal(item.deviceId).find(wanted) != std::string::npos;
        }
        if (byName || idMatches) {
            matches.push_back({computer.name, passwords});
        }
    }
    return matches;
}

}  // namespace Server
}  // namespace Zun
