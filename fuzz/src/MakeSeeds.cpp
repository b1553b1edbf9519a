// Writes the seed corpora: replies, requests, symbol containers and Base64 texts made by the code
// that produces them for real (the product stand-in's reply builder, the module's request factory,
// the symbol serializers), so that every seed starts the fuzzer on a well-formed path.
//   fuzz_make_seeds <fuzz folder>
#include <boost/make_shared.hpp>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/CBlockFDELogin.h"
#include "host/CDisableFDEMaintenanceMode.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "host/CInvalidateFDELogin.h"
#include "host/CProductActivation.h"
#include "host/CWipeFDELogin.h"
#include "ipc/CBroadcastLayout.h"
#include "logs/CSymbolContainer.h"
#include "messages/Base64.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"
#include "platform/CPixlinkPortServer.h"
#include "platform/PixlinkProtocol.h"
#include "tools/product/CReplyBuilder.h"

namespace {

using namespace Zun::Tools::Product;
using Zun::Common::Logs::CSymbolContainer;
using Zun::Connectors::Common::EncodeBase64;
using Zun::Connectors::Common::RecoveryDataSet;
using Zun::Connectors::Common::Pixlink::Messages::CPixlinkMessageFactory;
namespace Host = Zun::Common::Message::Connectors;
namespace Pixlink = Zun::Connectors::Common::Pixlink;

typedef std::vector<std::uint8_t> Bytes;

std::string g_root;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
    const std::string path = g_root + "/" + target + "/corpus/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
}
void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    Write(target, name, std::string(bytes.begin(), bytes.end()));
}

std::string Reply(const std::string& body, std::uint32_t status = 0) {
    const Bytes payload = CReplyBuilder::Payload(status, body);
    return std::string(payload.begin(), payload.end());
}

void PutWord(std::string& bytes, std::uint32_t value, std::size_t size = 4) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes += static_cast<char>(value >> (8 * i));
    }
}

void ReplySeeds() {
    StatusEntry on;
    on.Status = 1;
    on.CategoryResId = 0x71000000000001AB;
    on.StatusResId = 0x120000FD;
    on.DescriptionResId = 2;
    StatusEntry none;
    none.Status = 0xFFFFFFFF;
    Write("reply_status", "two_records", Reply(CReplyBuilder::StatusDocument({on, none})));
    Write("reply_status", "empty", Reply(CReplyBuilder::StatusDocument({})));
    Write("reply_status", "error_status", Reply("", 5));

    LicenceEntry licence;
    licence.AssociatedSeatId = "seat-1";
    licence.LicensePublicId = "PUB-1";
    licence.LicenseProductName = "Product & <Co>";
    licence.LicenseExpirationDate = 1700000000;
    licence.ActivatedByZun = true;
    licence.ProductCode = 41;
    licence.SeatName = "desk";
    licence.LicenseRenewalPeriod = 3;
    licence.LicenseType = "trial";
    licence.LicenseFlags = 4;
    licence.LicenseModelType = "m";
    licence.LicenseModelStatus = "ok";
    LicenceEntry bare;
    bare.AssociatedSeatId = "s";
    Write("reply_licence", "full_and_bare", Reply(CReplyBuilder::LicenceDocument({licence, bare})));
    Write("reply_licence", "none", Reply(CReplyBuilder::LicenceDocument({})));

    TaskResult result;
    result.UserData =
        "a1a1a1a1-0000-4000-8000-000000000001;b2b2b2b2-0000-4000-8000-000000000002;"
        "c3c3c3c3-0000-4000-8000-000000000003";
    result.Result = 0;
    Write("reply_task_status", "finished", Reply(CReplyBuilder::TaskRecord(result)));
    result.Result = 7;
    result.UserData = "x;y";
    Write("reply_task_status", "failed_short", Reply(CReplyBuilder::TaskRecord(result)));
    Write("reply_task_status", "no_task", Reply(""));

    Write("reply_recovery", "password_and_data",
          Reply(CReplyBuilder::RecoveryDocument({{"1", "disk-0", "0", "123456-654321"}},
                                                {{"2", "disk-0", std::string("\x01\x02\x03\x00", 4)}})));
    Write("reply_recovery", "empty", Reply(CReplyBuilder::RecoveryDocument({}, {})));

    Write("reply_export", "document", Reply("<?xml version=\"1.0\"?><CONFIG><A b=\"1\"/></CONFIG>"));
    Write("reply_export", "command", Reply(CReplyBuilder::CommandDocument("ExportConfiguration", 0)));
}

template <typename T>
boost::shared_ptr<T> Task() {
    auto task = boost::make_shared<T>();
    task->SetTaskIdentifiers("a1a1a1a1-0000-4000-8000-000000000001", "b2b2b2b2-0000-4000-8000-000000000002",
                             "c3c3c3c3-0000-4000-8000-000000000003");
    return task;
}

void RequestSeeds() {
    const CPixlinkMessageFactory f;
    const auto write = [](const std::string& name, const CPixlinkMessageFactory::MessagePtr& message) {
        Write("product_request", name, message->Serialize());
    };
    write("status", f.CreateGetStatusRequest());
    write("licence", f.CreateGetLicenseRequest());
    write("task_status", f.CreateGetTaskStatusRequest());
    write("export", f.CreateExportConfigurationRequest());
    write("import", f.CreateImportConfigurationRequest("<CONFIG><A b=\"1\"/></CONFIG>"));
    write("agent_uuid", f.CreateSendAgentUUIDRequest("d4d4d4d4-0000-4000-8000-000000000004"));
    write("recovery", f.CreateGetEncryptionRecoveryDataRequest());
    RecoveryDataSet confirmed;
    confirmed.RecoveryPasswords.push_back({"1", "disk-0", "0", ""});
    confirmed.RecoveryData.push_back({"2", "disk-0", ""});
    write("confirm", f.CreateConfirmEncryptionRecoveryDataRequest(confirmed));
    auto activation = Task<Host::Product::Task::CProductActivation>();
    activation->SetLicenseFile("LICENCE-TEXT");
    activation->SetManagedActivation("1");
    write("activation", f.CreateActivationRequest(activation));
    write("block", f.CreateBlockFDEPasswordRequest(Task<Host::QUILConnector::CBlockFDELogin>()));
    write("invalidate",
          f.CreateInvalidateFDEPasswordRequest(Task<Host::QUILConnector::CInvalidateFDELogin>()));
    write("wipe", f.CreateWipeFDEPasswordRequest(Task<Host::QUILConnector::CWipeFDELogin>()));
    write("disable", f.CreateDisableFDEMaintenanceModeRequest(
                         Task<Host::QUILConnector::Task::CDisableFDEMaintenanceMode>()));
    auto enable = Task<Host::QUILConnector::Task::CEnableFDEMaintenanceMode>();
    enable->MutableEnableMaintenanceMode().set_bootcycles(3);
    write("enable", f.CreateEnableFDEMaintenanceModeRequest(enable));
}

CSymbolContainer Symbols() {
    CSymbolContainer symbols;
    symbols.AddBool(1, true);
    symbols.AddBlob(2, std::string("\x00\xFF\x10", 3));
    symbols.AddInt(3, -42);
    symbols.AddDouble(4, 2.5);
    symbols.AddString(5, "caf\xC3\xA9");
    symbols.AddResId(6, 0x120000FD);
    symbols.AddInt32(7, 7);
    symbols.AddCurrentTime(8);
    symbols.AddUuid(9, std::string("a1a1a1a1-0000-4000-8000-000000000001"));
    return symbols;
}

void SymbolSeeds() {
    const CSymbolContainer symbols = Symbols();
    Write("symbol_packed", "every_type", symbols.SerializePacked(symbols.GetPackedSize()));
    const CSymbolContainer empty;
    Write("symbol_packed", "empty", empty.SerializePacked(empty.GetPackedSize()));
    std::string bytes;
    symbols.Serialize(bytes);
    Write("symbol_protobuf", "every_type", bytes);
}

void Base64Seeds() {
    Write("base64", "padded", EncodeBase64("recovery"));
    Write("base64", "unpadded", std::string("cmVjb3Zlcnk"));
    Write("base64", "spaced", std::string("cmVj\r\nb3Zl cnk=\t"));
    Write("base64", "binary", EncodeBase64(std::string("\x00\xFF\xFE\x01", 4)));
}

// The port harness's input: shape, result, announced length, view flags, capacity (3 bytes), message
// length (2 bytes), message, tail.
std::string PortInput(std::uint8_t shape, std::uint32_t length, std::uint32_t capacity, const Bytes& message,
                      const Bytes& tail) {
    std::string input(1, static_cast<char>(shape));
    PutWord(input, 0);
    PutWord(input, length);
    PutWord(input, Pixlink::kAlpcReplyViewFlag);
    PutWord(input, capacity, 3);
    PutWord(input, static_cast<std::uint32_t>(message.size()), 2);
    input.append(message.begin(), message.end());
    input.append(tail.begin(), tail.end());
    return input;
}

void PortSeeds() {
    const Bytes small(16, 0x11);
    const Bytes large(70000, 0x22);
    for (const char* target : {"alpc_reply", "lpc_reply"}) {
        Write(target, "framed_inline", PortInput(0x01, 16, 64, small, {}));
        Write(target, "framed_small_buffer", PortInput(0x01, 16, 8, small, {}));
        Write(target, "framed_to_buffer", PortInput(0x09, 16, 0, small, {}));
        Write(
            target, "raw",
            PortInput(0x00, 0, 64, Zun::Platform::CPixlinkPortServer::ReplyMessage(0, 4, {1, 2, 3, 4}), {}));
        Write(target, "view", PortInput(0x03, 70000, 80000, {}, large));
        Write(target, "lying_length", PortInput(0x01, 60000, 65536, small, {}));
        Write(target, "large_request", PortInput(0x11, 16, 64, small, {}));
    }
}

// The broadcast harness's input: client kind, data size, area length, area, then the reads.
void BroadcastSeeds() {
    constexpr std::uint32_t kDataSize = 256;
    std::string area;
    PutWord(area, Pixlink::kBroadcastHeaderSize);
    PutWord(area, 0);
    PutWord(area, Pixlink::kMagicLow);
    PutWord(area, Pixlink::kMagicHigh);
    PutWord(area, Pixlink::kProtocolVersion);
    PutWord(area, 0);
    PutWord(area, Pixlink::kBroadcastHeaderSize);
    PutWord(area, kDataSize);
    std::string data(kDataSize, '\0');
    const auto put = [&data](std::size_t offset, std::uint32_t value) {
        std::memcpy(&data[offset], &value, 4);
    };
    put(Pixlink::CBroadcastLayout::kModuleTableOffset, 84);
    put(Pixlink::CBroadcastLayout::kModuleCount, 2);
    put(84, 0x1000001);
    put(104, Pixlink::CBroadcastLayout::kServerModuleId);
    put(108, 8);
    put(112, 200);
    put(116, 1);
    put(204, 0xFEEDF00D);
    area += data;
    for (int legacy = 0; legacy < 2; ++legacy) {
        std::string input(1, static_cast<char>(legacy));
        PutWord(input, kDataSize, 2);
        PutWord(input, static_cast<std::uint32_t>(area.size()), 2);
        input += area;
        input += std::string("\x03\x02\x00\x00\x0C\x00\x00\x00\x01\xC8\x00\x00\x00\x08\x00", 15);
        Write("broadcast", legacy ? "legacy_walk" : "walk", input);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_make_seeds <fuzz folder>\n";
        return 2;
    }
    g_root = argv[1];
    ReplySeeds();
    RequestSeeds();
    SymbolSeeds();
    Base64Seeds();
    PortSeeds();
    BroadcastSeeds();
    return 0;
}
