#pragma once

#include <string>
#include <vector>

#include "server/store/CFleetStore.h"

namespace Zun {
namespace Server {

// Every reveal, newest first: when, who, which computer and items, and why.
class CAuditPage {
public:
    static std::string Render(const std::vector<CFleetStore::AuditEntry>& entries);
};

}  // namespace Server
}  // namespace Zun
