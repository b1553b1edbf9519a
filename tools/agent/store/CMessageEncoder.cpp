#include "tools/agent/store/CMessageEncoder.h"

#include <Poco/Base64Encoder.h>
#include <boost/core/demangle.hpp>
#include <cstdio>
#include <sstream>
#include <typeinfo>

#include "bus/CQUILProcessRecoveryDataRequest.h"
#include "bus/CQUILRequest.h"
#include "host/CApplyPolicy.h"
#include "host/CEnableFDEMaintenanceMode.h"
#include "host/CKTAgentRequest.h"
#include "host/CLogDescriptorMap.h"
#include "host/CProductActivation.h"
#include "host/CQUILProcessRecoveryDataResponse.h"
#include "host/CRequestConfigurationMessage.h"
#include "host/CTask.h"
#include "logs/CEventLog.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLogBase.h"

namespace Zun {
namespace Tools {
namespace Agent {

using Common::DataDefinition::Common::MultiDataType;
using Common::DataDefinition::Common::UTCTime;
using Common::Kernel::CUserContext;
using Common::Kernel::IMessage;
using Poco::JSON::Array;
using Poco::JSON::Object;
namespace Msg = Common::Message;

namespace {

std::string Hex(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Iso(const UTCTime& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year(), t.month(), t.day(), t.hour(),
                  t.minute(), t.second());
    return text;
}

std::string Base64(const std::string& bytes) {
    std::ostringstream out;
    Poco::Base64Encoder encoder(out);
    encoder.rdbuf()->setLineLength(0);
    encoder << bytes;
    encoder.close();
    return out.str();
}

Object::Ptr NewObject() {
    return new Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

void SetValue(Object& symbol, const MultiDataType& v) {
    if (v.val_bool_size() > 0) {
        symbol.set("type", "bool");
        symbol.set("value", v.val_bool(0));
    } else if (v.val_int_size() > 0) {
        symbol.set("type", "int");
        symbol.set("value", static_cast<Poco::Int64>(v.val_int(0)));
    } else if (v.val_double_size() > 0) {
        symbol.set("type", "double");
        symbol.set("value", v.val_double(0));
    } else if (v.val_res_id_size() > 0) {
        symbol.set("type", "res_id");
        symbol.set("value", Hex(v.val_res_id(0)));
    } else if (v.val_string_size() > 0) {
        symbol.set("type", "string");
        symbol.set("value", v.val_string(0));
    } else if (v.val_time_date_size() > 0) {
        symbol.set("type", "time");
        symbol.set("value", Iso(v.val_time_date(0)));
    } else if (v.val_uuid_size() > 0) {
        symbol.set("type", "uuid");
        symbol.set("value", v.val_uuid(0).uuid());
    } else if (v.val_blob_size() > 0) {
        symbol.set("type", "blob");
        symbol.set("size", static_cast<Poco::UInt64>(v.val_blob(0).size()));
        symbol.set("value", Base64(v.val_blob(0)));
    } else {
        symbol.set("type", "empty");
    }
}

Array::Ptr TaskIds(const Msg::CTask& task) {
    Array::Ptr ids = new Array;
    for (const auto* id : {&task.GetFirstId(), &task.GetSecondId(), &task.GetThirdId()}) {
        ids->add(id->uuid());
    }
    return ids;
}

}  // namespace

CAgentStore::Record CMessageEncoder::Encode(const IMessage& message,
                                            const boost::shared_ptr<CUserContext>& userContext) {
    CAgentStore::Record record;
    record.type = message.GetType();
    record.className = ClassName(message);
    record.description = message.Describe();
    record.userContext = userContext ? userContext->GetUserName() : std::string();
    std::ostringstream content;
    EncodeContent(message, record.payload)->stringify(content);
    record.content = content.str();
    return record;
}

std::string CMessageEncoder::ClassName(const IMessage& message) {
    const std::string name = boost::core::demangle(typeid(message).name());
    const size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

Object::Ptr CMessageEncoder::EncodeContent(const IMessage& message, std::string& payload) {
    Object::Ptr content = NewObject();
    if (EncodeLog(message, *content) || EncodeTask(message, *content, payload)) {
        return content;
    }
    if (const auto* request =
            dynamic_cast<const Msg::Connectors::QUILConnector::CQUILProcessRecoveryDataRequest*>(&message)) {
        request->GetFDERecoveryData().SerializeToString(&payload);
        return EncodeRecoveryData(request->GetFDERecoveryData());
    }
    if (const auto* request = dynamic_cast<const Msg::Connectors::QUILConnector::CQUILRequest*>(&message)) {
        content->set("kind", static_cast<Poco::UInt32>(request->GetRequestKind()));
    } else if (const auto* request =
                   dynamic_cast<const Msg::Connectors::KTAgentConnector::CKTAgentRequest*>(&message)) {
        content->set("kind", static_cast<Poco::UInt32>(request->GetRequestKind()));
    }
    return content;
}

bool CMessageEncoder::EncodeLog(const IMessage& message, Object& content) {
    Array::Ptr rows = new Array;
    if (const auto* event = dynamic_cast<const Msg::Logs::CEventLog*>(&message)) {
        rows->add(EncodeSymbols(*event->GetContainer()));
    } else if (const auto* status = dynamic_cast<const Msg::Logs::CStatusLogBase*>(&message)) {
        if (const auto* multi = dynamic_cast<const Msg::Logs::CMultiProductStatusLog*>(&message)) {
            content.set("product", EncodeSymbols(*multi->GetProductIdentifier()));
        }
        const auto& all = *status->GetRows();
        for (size_t r = 0; r < all.GetRowCount(); ++r) {
            rows->add(EncodeSymbols(*all.GetRow(r)));
        }
    } else {
        return false;
    }
    content.set("rows", rows);
    return true;
}

bool CMessageEncoder::EncodeTask(const IMessage& message, Object& content, std::string& payload) {
    if (const auto* policy = dynamic_cast<const Msg::Policies::CApplyPolicy*>(&message)) {
        content.set("configuration", policy->GetConfiguration());
        return true;
    }
    if (const auto* response =
            dynamic_cast<const Msg::Connectors::QUILConnector::CQUILProcessRecoveryDataResponse*>(&message)) {
        response->GetFDERecoveryData().SerializeToString(&payload);
        for (const auto& name : {"recovery_passwords", "recovery_data_blocks"}) {
            content.set(name, EncodeRecoveryData(response->GetFDERecoveryData())->get(name));
        }
        return true;
    }
    const auto* task = dynamic_cast<const Msg::CTask*>(&message);
    if (task == nullptr) {
        return false;
    }
    content.set("ids", TaskIds(*task));
    if (const auto* activation =
            dynamic_cast<const Msg::Connectors::Product::Task::CProductActivation*>(task)) {
        content.set("managed_activation", activation->GetManagedActivation());
        content.set("license_file_bytes", static_cast<Poco::UInt64>(activation->GetLicenseFile().size()));
        payload = activation->GetLicenseFile();
    } else if (const auto* on =
                   dynamic_cast<const Msg::Connectors::QUILConnector::Task::CEnableFDEMaintenanceMode*>(
                       task)) {
        const auto& data = on->GetEnableMaintenanceMode();
        if (data.has_bootcycles()) {
            content.set("boots", static_cast<Poco::UInt32>(data.bootcycles()));
        }
        if (data.has_seconds()) {
            content.set("seconds", static_cast<Poco::UInt32>(data.seconds()));
        }
        if (data.has_fixeddate()) {
            content.set("until", Iso(data.fixeddate()));
        }
    } else if (const auto* request =
                   dynamic_cast<const Msg::Configuration::CRequestConfigurationMessage*>(task)) {
        content.set("product_type",
                    static_cast<Poco::UInt32>(request->GetRequestConfiguration().producttype()));
    }
    return true;
}

Array::Ptr CMessageEncoder::EncodeSymbols(const Common::Logs::ISymbolContainer& symbols) {
    Array::Ptr list = new Array;
    for (size_t i = 0; i < symbols.GetCount(); ++i) {
        list->add(EncodeSymbol(symbols.GetSymbolIdAt(i), symbols.GetSymbolAt(i)));
    }
    return list;
}

Object::Ptr CMessageEncoder::EncodeSymbol(int id, const MultiDataType& value) {
    Object::Ptr symbol = NewObject();
    symbol->set("id", id);
    symbol->set("name", Common::Logs::CLogDescriptorMap::Instance().GetSymbolName(id));
    SetValue(*symbol, value);
    return symbol;
}

Object::Ptr CMessageEncoder::EncodeRecoveryData(const RecoveryData& data) {
    Object::Ptr content = NewObject();
    Array::Ptr passwords = new Array;
    for (const auto& p : data.recovery_passwords()) {
        Object::Ptr item = NewObject();
        item->set("deviceid", p.deviceid());
        item->set("index", p.index());
        item->set("internalid", p.internalid());
        item->set("recovery_password", Masked(p.recovery_password().size()));
        passwords->add(item);
    }
    Array::Ptr blocks = new Array;
    for (const auto& b : data.recovery_data_blocks()) {
        Object::Ptr item = NewObject();
        item->set("deviceid", b.deviceid());
        item->set("internalid", b.internalid());
        item->set("recovery_data", Masked(b.recovery_data().size()));
        blocks->add(item);
    }
    content->set("recovery_passwords", passwords);
    content->set("recovery_data_blocks", blocks);
    return content;
}

}  // namespace Agent
}  // namespace Tools
}  // namespace Zun
