#pragma once

#include <string>
#include <vector>

#include "server/console/CRecoveryPage.h"
#include "server/store/CFleetStore.h"

namespace Zun {
namespace Server {

// Finds what a help desk is told on the phone: a computer's name, or the recovery key id (or the
// device id) a locked-out user reads from their screen, in any case, with or without braces, whole
// or in part. Gives the matching computers with their escrowed passwords, at most kMaxMatches.
class CRecoveryFinder {
public:
    static const std::size_t kMinIdPart = 6;

    explicit CRecoveryFinder(CFleetStore& store) : m_store(store) {}

    std::vector<CRecoveryPage::Match> Find(const std::string& query);

private:
    static std::string Normal(const std::string& text);
    static std::vector<CFleetStore::Item> Passwords(const std::vector<CFleetStore::Item>& items);

    CFleetStore& m_store;
};

}  // namespace Server
}  // namespace Zun
