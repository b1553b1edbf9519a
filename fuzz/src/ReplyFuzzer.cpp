// One reply parser, chosen at build time, fed whole reply payloads (header and body) as the channel
// hands them over. A broken reply must end in a standard exception, never in a crash or a hang, and
// a reply that parses must leave records that can be read back.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "messages/CExportConfigurationResponse.h"
#include "messages/CGetEncryptionRecoveryDataResponse.h"
#include "messages/CGetLicenseResponse.h"
#include "messages/CGetStatusResponse.h"
#include "messages/CGetTaskStatusResponse.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"

namespace {

using namespace Zun::Connectors::Common;
using Pixlink::Messages::CPixlinkMessageFactory;

// Reading every record back makes the sanitizers see what the parser left behind.
std::size_t Touch(IChannelMessage& message) {
    std::size_t seen = 0;
    if (auto* status = dynamic_cast<CGetStatusResponse*>(&message)) {
        seen = status->GetProtectionStatusRecords().size() + status->GetRawDocument().size();
    } else if (auto* licence = dynamic_cast<CGetLicenseResponse*>(&message)) {
        seen = licence->GetLicenseRecords().size() + licence->GetRawDocument().size();
    } else if (auto* task = dynamic_cast<CGetTaskStatusResponse*>(&message)) {
        seen = task->GetTaskLogRecords().size();
    } else if (auto* recovery = dynamic_cast<CGetEncryptionRecoveryDataResponse*>(&message)) {
        seen = sizeof recovery->GetRecoveryDataSet();
    } else if (auto* exported = dynamic_cast<CExportConfigurationResponse*>(&message)) {
        seen = exported->GetConfiguration().size();
    }
    return seen;
}

IChannelMessageFactory::MessagePtr Create(const CPixlinkMessageFactory& factory) {
    return factory.QUIL_FUZZ_REPLY();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const CPixlinkMessageFactory factory;
    IChannelMessageFactory::MessagePtr message = Create(factory);
    try {
        message->Deserialize(std::vector<std::uint8_t>(data, data + size));
    } catch (const std::exception&) {
        return 0;
    }
    volatile std::size_t sink = Touch(*message);
    (void)sink;
    return 0;
}
