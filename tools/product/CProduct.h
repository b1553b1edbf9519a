#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tools/product/CProductState.h"
#include "tools/product/CRequestParser.h"
#include "tools/product/IBroadcastArea.h"

namespace Zun {
namespace Tools {
namespace Product {

// The product's behaviour: answers each request from its state and changes the state as the real
// product would, announcing every change through the broadcast area. Port threads and the control
// interface share it; one lock keeps each request or change whole.
class CProduct {
public:
    typedef std::chrono::steady_clock Clock;

    struct Reply {
        std::uint32_t Status = 0;
        std::string Body;
    };

    CProduct(CProductState state, IBroadcastArea& area);

    // Never throws for bad input: a request it cannot read gets an error status.
    Reply Handle(const std::vector<std::uint8_t>& payload);
    // The same for a reply that is padded to paddedBytes on the wire: when it does not fit the
    // module's reply buffer, whatever the request changed is undone.
    Reply Handle(const std::vector<std::uint8_t>& payload, std::size_t paddedBytes,
                 std::size_t replyCapacity);
    // The request's name as the log shows it ("function NAME", "command N"); empty if unreadable.
    static std::string RequestName(const std::vector<std::uint8_t>& payload);

    void SetStatus(std::vector<StatusEntry> entries);
    void SetLicences(std::vector<LicenceEntry> entries);
    void AddRecovery(const std::vector<RecoveryPasswordEntry>& passwords,
                     const std::vector<RecoveryDataEntry>& data);
    void QueueTask(const TaskResult& result);
    void SetCommandResult(std::uint32_t result);
    void SetServerValue(std::uint32_t value);
    // Announces unconfirmed recovery material again once its interval has passed.
    void Tick(Clock::time_point now);
    CProductState Snapshot() const;

    // The status record a product in maintenance mode adds to its protection status.
    static StatusEntry MaintenanceRecord();

private:
    typedef Reply (CProduct::*Function)(const ProductRequest&);

    Reply Dispatch(const ProductRequest& request);
    Reply RunFunction(const ProductRequest& request);
    Reply Activate(const ProductRequest& request);
    Reply ChangePassword(const ProductRequest& request);
    Reply EnableMaintenance(const ProductRequest& request);
    Reply DisableMaintenance(const ProductRequest& request);
    Reply GetRecoveryData(const ProductRequest& request);
    Reply ConfirmRecoveryData(const ProductRequest& request);
    Reply NextTaskResult();
    Reply ImportConfiguration(const ProductRequest& request);
    // Queues the task result of a finished command and acknowledges it.
    Reply Finish(const ProductRequest& request);
    void SetMaintenance(bool on);
    std::vector<StatusEntry> CurrentStatus() const;
    void AnnounceRecovery();

    mutable std::mutex m_lock;
    CProductState m_state;
    IBroadcastArea& m_area;
    Clock::time_point m_lastAnnounce;
};

}  // namespace Product
}  // namespace Tools
}  // namespace Zun
