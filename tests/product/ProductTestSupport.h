#pragma once

#include <array>
#include <boost/make_shared.hpp>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "channel/IChannelMessageFactory.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"
#include "tools/product/IBroadcastArea.h"

namespace ProductTest {

typedef std::vector<uint8_t> Bytes;

const std::string First = "a1a1a1a1-0000-4000-8000-000000000001";
const std::string Second = "b2b2b2b2-0000-4000-8000-000000000002";
const std::string Third = "c3c3c3c3-0000-4000-8000-000000000003";
const std::string UserData = First + ";" + Second + ";" + Third;

inline const Zun::Connectors::Common::IChannelMessageFactory& Factory() {
    static const Zun::Connectors::Common::Pixlink::Messages::CPixlinkMessageFactory factory;
    return factory;
}

template <typename T>
boost::shared_ptr<T> Task() {
    auto task = boost::make_shared<T>();
    task->SetTaskIdentifiers(First, Second, Third);
    return task;
}

// Parses a reply payload with the module's own parser of type T, as its tasks do.
template <typename T>
boost::shared_ptr<T> Parse(const boost::shared_ptr<Zun::Connectors::Common::IChannelMessage>& reply,
                           const Bytes& payload) {
    reply->Deserialize(payload);
    return boost::dynamic_pointer_cast<T>(reply);
}

// Records what the product does to its broadcast area.
class CFakeArea : public Zun::Tools::Product::IBroadcastArea {
public:
    void Bump(unsigned index) override { bumps.insert(index); }
    std::array<std::uint32_t, 10> Values() const override { return {}; }
    void SetServerValue(std::uint32_t value) override { serverValue = value; }
    void CorruptHeader(bool corrupt) override { corrupted = corrupt; }
    void HoldMutex(std::uint32_t holdMs) override { held = holdMs; }
    void ReleaseMutex() override { held = UINT32_MAX; }
    void DieHoldingMutex() override { died = true; }

    std::set<unsigned> bumps;
    std::uint32_t serverValue = 0;
    bool corrupted = false;
    std::uint32_t held = UINT32_MAX;
    bool died = false;
};

}  // namespace ProductTest
