// broadcast_writer: the product's side of the broadcast area in a process of its own, for the
// reader's tests. It creates the area, fills it as its arguments say, writes "ready" on standard
// output, and keeps the area until its standard input ends or it is killed.
//   broadcast_writer <local id> <remote id> <data size>
//                    values | bad <offset> <value> | moved <data offset> | modules <table>  [hold]
#include <iostream>
#include <string>
#include <vector>

#include "ipc/CBroadcastLayout.h"
#include "platform/CBroadcastWriter.h"

using Zun::Connectors::Common::Pixlink::CBroadcastLayout;
using Zun::Platform::CBroadcastWriter;

namespace {

constexpr int kUsage = 64;
constexpr int kNoArea = 69;
constexpr std::uint32_t kHeaderSize = 32;
constexpr std::size_t kDataOffsetField = 24;

void Values(CBroadcastWriter& writer, std::uint32_t dataSize) {
    for (unsigned i = 0; i < 10; ++i) {
        writer.SetValue(i, 100 + i);
    }
    writer.WriteDword(dataSize - 4, 0xFEEDF00D);
}

bool Prepare(CBroadcastWriter& writer, std::uint32_t dataSize, const std::vector<std::string>& scenario) {
    const std::string& kind = scenario.at(0);
    if (kind == "values") {
        Values(writer, dataSize);
        return true;
    }
    if (kind == "bad" && scenario.size() >= 3) {
        Values(writer, dataSize);
        const std::uint32_t value = static_cast<std::uint32_t>(std::stoul(scenario[2], nullptr, 0));
        return writer.WriteArea(std::stoul(scenario[1], nullptr, 0), &value, sizeof(value));
    }
    if (kind == "moved" && scenario.size() >= 2) {
        // The data begins elsewhere than right after the header, and ends with the area.
        const std::uint32_t offset = static_cast<std::uint32_t>(std::stoul(scenario[1], nullptr, 0));
        const std::uint32_t header[2] = {offset, kHeaderSize + dataSize - offset};
        bool written = writer.WriteArea(kDataOffsetField, header, sizeof(header));
        for (unsigned i = 0; written && i < 10; ++i) {
            const std::uint32_t value = 200 + i;
            written = writer.WriteArea(offset + CBroadcastLayout::ValueOffset(i), &value, sizeof(value));
        }
        return written;
    }
    if (kind == "modules" && scenario.size() >= 2) {
        return writer.SetModuleTable(static_cast<std::uint32_t>(std::stoul(scenario[1], nullptr, 0)),
                                     {{7, 4, 200, 1}, {CBroadcastLayout::kServerModuleId, 8, 208, 42}});
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 4) {
        std::cerr << "usage: broadcast_writer <local id> <remote id> <data size> <scenario...> [hold]\n";
        return kUsage;
    }
    try {
        const std::uint32_t dataSize = static_cast<std::uint32_t>(std::stoul(args[2], nullptr, 0));
        CBroadcastWriter writer(static_cast<std::uint32_t>(std::stoul(args[0], nullptr, 0)),
                                static_cast<std::uint32_t>(std::stoul(args[1], nullptr, 0)), dataSize);
        const std::vector<std::string> scenario(args.begin() + 3, args.end());
        if (!writer.IsOpen() || !Prepare(writer, dataSize, scenario)) {
            std::cerr << "broadcast_writer: cannot create or fill the area\n";
            return kNoArea;
        }
        if (scenario.back() == "hold") {
            writer.Lock();
        }
        std::cout << "ready" << std::endl;
        for (std::string line; std::getline(std::cin, line);) {
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "broadcast_writer: " << e.what() << "\n";
        return kUsage;
    }
}
