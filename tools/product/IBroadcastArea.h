#pragma once

#include <array>
#include <cstdint>

namespace Zun {
namespace Tools {
namespace Product {

// What the product does to its broadcast area: announce changes and, for fault injection, spoil it.
class IBroadcastArea {
public:
    virtual ~IBroadcastArea() = default;

    // Moves broadcast value index (0 to 9) on, so that readers notice a change.
    virtual void Bump(unsigned index) = 0;
    virtual std::array<std::uint32_t, 10> Values() const = 0;
    // Returns once every change made so far is in the area; changes may reach it later otherwise.
    virtual void Flush() {}
    // The QSERVER_BROADCAST value in the server module's user data.
    virtual void SetServerValue(std::uint32_t value) = 0;
    virtual void CorruptHeader(bool corrupt) = 0;
    // Holds the area's mutex until ReleaseMutex, or for holdMs when it is not 0.
    virtual void HoldMutex(std::uint32_t holdMs) = 0;
    virtual void ReleaseMutex() = 0;
    // Takes the mutex and ends the process with it held, as a crashing product would.
    virtual void DieHoldingMutex() = 0;
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
