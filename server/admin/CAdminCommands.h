#pragma once

#include <Poco/JSON/Object.h>
#include <cstdint>
#include <functional>
#include <string>

#include "server/service/CFleetService.h"
#include "server/service/CFleetView.h"
#include "tools/agent/control/CTaskParser.h"

namespace Zun {
namespace Server {

// The administrator's requests, one JSON object per line, each answered with one:
//   {"command":"hosts"}, {"command":"host","name":N}, {"command":"audit"}, {"command":"tasks"},
//   {"command":"reveal","name":N,"device":D,"reason":R},
//   {"command":"task","name":N,"line":L} or {"command":"task","all":true,"line":L}.
// Answers are {"ok":true,...} or {"ok":false,"error":...}. The peer's identity comes from the
// socket (the kernel's record), never from the request.
class CAdminCommands {
public:
    struct Peer {
        int64_t uid = -1;
        std::string user;
    };

    // Whether the CA holds a current certificate for a computer's name.
    using EnrolledCheck = std::function<bool(const std::string& name)>;

    CAdminCommands(
        CFleetStore& store, CFleetService& service,
        EnrolledCheck enrolled = [](const std::string&) { return false; });

    // Never throws: every failure is an answer.
    std::string Handle(const std::string& line, const Peer& peer);

private:
    typedef Poco::JSON::Object::Ptr Json;

    Json Dispatch(const Json& request, const Peer& peer);
    Json Reveal(const Json& request, const Peer& peer);
    Json Task(const Json& request);
    Json Audit();

    CFleetStore& m_store;
    EnrolledCheck m_enrolled;
    CFleetService& m_service;
    CFleetView m_view;
    Tools::Agent::CTaskParser m_parser;
};

}  // namespace Server
}  // namespace Zun
