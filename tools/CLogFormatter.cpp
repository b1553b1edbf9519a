#include "tools/CLogFormatter.h"

#include <cstdio>
#include <sstream>

#include "host/CLogDescriptorMap.h"
#include "logs/CEventLog.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLog.h"

namespace Zun {
namespace Tools {

using Common::DataDefinition::Common::MultiDataType;
using Common::Message::Logs::CEventLog;
using Common::Message::Logs::CMultiProductStatusLog;
using Common::Message::Logs::CStatusLogBase;

namespace {

std::string Hex(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Time(const Common::DataDefinition::Common::UTCTime& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", t.year(), t.month(), t.day(), t.hour(),
                  t.minute(), t.second());
    return text;
}

}  // namespace

std::string CLogFormatter::FormatValue(const MultiDataType& v) {
    std::ostringstream out;
    if (v.val_bool_size() > 0) {
        out << (v.val_bool(0) ? "true" : "false");
    } else if (v.val_int_size() > 0) {
        out << v.val_int(0);
    } else if (v.val_double_size() > 0) {
        out << v.val_double(0);
    } else if (v.val_res_id_size() > 0) {
        out << Hex(v.val_res_id(0));
    } else if (v.val_string_size() > 0) {
        out << '"' << v.val_string(0) << '"';
    } else if (v.val_time_date_size() > 0) {
        out << Time(v.val_time_date(0));
    } else if (v.val_uuid_size() > 0) {
        out << v.val_uuid(0).uuid();
    } else if (v.val_blob_size() > 0) {
        out << "<" << v.val_blob(0).size() << " bytes>";
    } else {
        out << "<empty>";
    }
    return out.str();
}

std::string CLogFormatter::FormatContainer(const Common::Logs::ISymbolContainer& c, const std::string& indent) {
    const Common::Logs::CLogDescriptorMap& map = Common::Logs::CLogDescriptorMap::Instance();
    std::ostringstream out;
    for (size_t i = 0; i < c.GetCount(); ++i) {
        const int id = c.GetSymbolIdAt(i);
        out << indent << map.GetSymbolName(id) << " (" << id << ") = " << FormatValue(c.GetSymbolAt(i)) << "\n";
    }
    return out.str();
}

std::string CLogFormatter::Format(const Common::Kernel::IMessage& message) {
    std::ostringstream out;
    out << message.Describe() << " [type " << message.GetType() << "]\n";
    if (const CEventLog* event = dynamic_cast<const CEventLog*>(&message)) {
        out << FormatContainer(*event->GetContainer(), "  ");
    } else if (const CStatusLogBase* status = dynamic_cast<const CStatusLogBase*>(&message)) {
        if (const CMultiProductStatusLog* multi = dynamic_cast<const CMultiProductStatusLog*>(&message)) {
            out << "  product:\n" << FormatContainer(*multi->GetProductIdentifier(), "    ");
        }
        const auto& rows = *status->GetRows();
        for (size_t r = 0; r < rows.GetRowCount(); ++r) {
            out << "  row " << r << ":\n" << FormatContainer(*rows.GetRow(r), "    ");
        }
    }
    return out.str();
}

}  // namespace Tools
}  // namespace Zun
