#include "messages/pixlink/CEnableFDEMaintenanceModeRequest.h"

#include <boost/date_time/gregorian/gregorian.hpp>
#include <stdexcept>
#include <string>

namespace Zun {
namespace Connectors {
namespace Common {
namespace Pixlink {
namespace Messages {

namespace {

// The date library takes 16-bit fields; a value that does not fit is made one it rejects, so that it
// fails with the library's own message instead of wrapping around to a valid one.
unsigned short DateField(int32_t value) {
    return value < 0 || value > 0xFFFF ? 0 : static_cast<unsigned short>(value);
}

boost::gregorian::date CalendarDate(const ::Zun::Common::DataDefinition::Common::UTCTime& time) {
    // Built one by one so that the checks run day, month, year whatever the compiler's argument order.
    const boost::gregorian::greg_day day(DateField(time.day()));
    const boost::gregorian::greg_month month(DateField(time.month()));
    const boost::gregorian::greg_year year(DateField(time.year()));
    return boost::gregorian::date(year, month, day);
}

// Time of day is taken as given, even out of its usual range.
int64_t SecondsSince1970(const ::Zun::Common::DataDefinition::Common::UTCTime& time) {
    const int64_t days = (CalendarDate(time) - boost::gregorian::date(1970, 1, 1)).days();
    return days * 86400 + int64_t{time.hour()} * 3600 + int64_t{time.minute()} * 60 + int64_t{time.second()};
}

}  // namespace

CEnableFDEMaintenanceModeRequest::CEnableFDEMaintenanceModeRequest(boost::shared_ptr<const TaskMessage> task)
    : CTaskXmlRequest(task, "ENABLE_MAINTENANCE_MODE"), m_enable(std::move(task)) {}

std::string CEnableFDEMaintenanceModeRequest::BuildNodes() const {
    const TaskMessage::Data& data =
        m_enable ? m_enable->GetEnableMaintenanceMode() : TaskMessage::Data::default_instance();
    if (!data.has_bootcycles() && !data.has_seconds() && !data.has_fixeddate()) {
        throw std::runtime_error("CEnableFDEMaintenanceModeRequest: Invalid configuration");
    }
    std::string nodes = UserDataNode();
    if (data.has_bootcycles()) {
        nodes += Node("BOOTS", "STRING", std::to_string(data.bootcycles()));
    }
    if (data.has_seconds()) {
        nodes += Node("SECONDS", "STRING", std::to_string(data.seconds()));
    }
    if (data.has_fixeddate()) {
        nodes += Node("TIME", "STRING", std::to_string(SecondsSince1970(data.fixeddate())));
    }
    return nodes;
}

}  // namespace Messages
}  // namespace Pixlink
}  // namespace Common
}  // namespace Connectors
}  // namespace Zun
