#pragma once

#include <string>
#include <vector>

#include "server/service/CFleetService.h"
#include "server/store/CFleetStore.h"

namespace Zun {
namespace Server {

// Finding a computer's recovery passwords and revealing them. The search shows the escrowed
// passwords' identifiers and states, never a secret; each device has a form that asks for the
// reason and the account's password again. The revealed page is the only one that holds a secret.
class CRecoveryPage {
public:
    static const std::size_t kMaxMatches = 50;

    struct Match {
        std::string computer;
        std::vector<CFleetStore::Item> items;  // passwords only
    };

    static std::string Search(const std::string& query, const std::vector<Match>& matches,
                              const std::string& csrf, const std::string& error);
    static std::string Revealed(const std::string& computer,
                                const std::vector<CFleetService::Revealed>& items);

private:
    static std::string Form(const std::string& query);
    static std::string Computer(const Match& match, const std::string& csrf);
    static std::string RevealForm(const std::string& computer, const std::string& device,
                                  const std::string& csrf);
};

}  // namespace Server
}  // namespace Zun
