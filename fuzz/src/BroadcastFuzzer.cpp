// A hostile broadcast area: the product's writer lays out an area of any size, the input overwrites
// it from the first byte (header, values, module table, user data), and a fresh client reads it the
// way the channel does: plain values, the module table and a module's user data, at offsets and sizes
// that come from the area itself or from the input. Every read either fails with a result code or
// stays inside the caller's buffer.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "CFuzzInput.h"
#include "ipc/CBroadcastLayout.h"
#include "ipc/CPixlinkAlpcClient.h"
#include "ipc/CPixlinkClientNt.h"
#include "platform/CBroadcastWriter.h"
#include "platform/PixlinkProtocol.h"

namespace {

using namespace Zun::Connectors::Common::Pixlink;
using Zun::Platform::CBroadcastWriter;

constexpr std::uint32_t kLocalId = 0x7B7B0001;
constexpr std::uint32_t kRemoteId = 0x7B7B0002;
constexpr std::uint8_t kGuard = 0xC3;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A read into a buffer with a guard byte after it; a successful read of size bytes must leave the
// guard alone.
void ReadInto(IPixlinkClient& client, std::int64_t offset, std::uint32_t size) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size) + 1, kGuard);
    client.ReadBroadcast(offset, buffer.data(), size);
    Check(buffer[size] == kGuard);
}

std::uint32_t Dword(IPixlinkClient& client, std::int64_t offset) {
    std::uint32_t value = 0;
    client.ReadBroadcastDword(offset, &value);
    return value;
}

// The channel's walk: the table offset and count from the area, every entry's id, and the user data
// of the entry that claims to be the server module, at the offset and size it announces.
void WalkModules(IPixlinkClient& client) {
    const std::uint32_t tableOffset = Dword(client, CBroadcastLayout::kModuleTableOffset);
    const std::uint32_t count = Dword(client, CBroadcastLayout::kModuleCount);
    for (std::uint32_t i = 0; i < count && i < 64; ++i) {
        const auto field = [&](enum CBroadcastLayout::ModuleField f) {
            return CBroadcastLayout::ModuleField(i, f, tableOffset);
        };
        std::uint32_t id = 0;
        if (client.ReadBroadcastDword(field(CBroadcastLayout::kModuleId), &id) != kResultSuccess) {
            return;
        }
        if (id == CBroadcastLayout::kServerModuleId) {
            const std::uint32_t offset = Dword(client, field(CBroadcastLayout::kUserDataOffset));
            const std::uint32_t size = Dword(client, field(CBroadcastLayout::kUserDataSize));
            ReadInto(client, offset, std::min<std::uint32_t>(size, 1 << 16));
        }
    }
}

void Read(IPixlinkClient& client, CFuzzInput& input) {
    for (unsigned op = 0; op < 16 && !input.Empty(); ++op) {
        switch (input.Word(1) % 4) {
            case 0:
                Dword(client, static_cast<std::int32_t>(input.Word(4)));
                break;
            case 1:
                ReadInto(client, static_cast<std::int32_t>(input.Word(4)), input.Word(2));
                break;
            case 2:
                Dword(client, CBroadcastLayout::ValueOffset(input.Word(1) % 11));
                break;
            default:
                WalkModules(client);
        }
    }
}

std::unique_ptr<IPixlinkClient> NewClient(bool legacy) {
    if (legacy) {
        return std::unique_ptr<IPixlinkClient>(new CPixlinkClientNt<Zun::Platform::ULONG64>());
    }
    return std::unique_ptr<IPixlinkClient>(new CPixlinkAlpcClient());
}

void UsePrivateObjectRoot() {
    char pattern[] = "/tmp/quil-fuzz-XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    setenv("QUIL_OBJECT_ROOT", pattern, 1);
}

}  // namespace

// Input: legacy-client flag, data size (2 bytes), length of the area bytes (2 bytes), the area bytes,
// then the reads.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool rooted = (UsePrivateObjectRoot(), true);
    (void)rooted;
    CFuzzInput input(data, size);
    const bool legacy = (input.Word(1) & 1) != 0;
    const std::uint32_t dataSize = input.Word(2) % 8192;
    const std::vector<std::uint8_t> area = input.Bytes(input.Word(2));
    CBroadcastWriter writer(kLocalId, kRemoteId, dataSize);
    Check(writer.IsOpen());
    // An empty vector's data() may be null, which WriteArea hands to memcpy as it is.
    if (!area.empty()) {
        writer.WriteArea(0, area.data(), std::min<std::size_t>(area.size(), kBroadcastHeaderSize + dataSize));
    }
    std::unique_ptr<IPixlinkClient> client = NewClient(legacy);
    client->Init(kLocalId, kRemoteId, 0);
    Read(*client, input);
    client->Close();
    return 0;
}
