#pragma once

#include "tools/product/IBroadcastArea.h"

namespace Zun {
namespace Tools {
namespace Product {

// An area that takes every change and shows none, for a product whose area is not what is measured
// or examined.
class CSilentBroadcastArea : public IBroadcastArea {
public:
    void Bump(unsigned) override {}
    std::array<std::uint32_t, 10> Values() const override { return {}; }
    void SetServerValue(std::uint32_t) override {}
    void CorruptHeader(bool) override {}
    void HoldMutex(std::uint32_t) override {}
    void ReleaseMutex() override {}
    void DieHoldingMutex() override {}
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
