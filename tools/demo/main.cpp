// A first look at the connector's data layer: builds one log of every kind the connector publishes,
// checks each against the log catalogue and prints it.
#include <boost/make_shared.hpp>
#include <iostream>

#include "logs/CEventLog.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLog.h"
#include "tools/CLogFormatter.h"

using namespace Zun::Common;

int main() {
    const std::string instance = "0f8fad5b-d9cb-469f-a165-70867728950e";
    std::vector<boost::shared_ptr<Message::CLogMessage>> logs;

    auto status = boost::make_shared<Message::Logs::CStatusLog>(10044);
    status->GetRows()->AddNewRow()->AddInt32(241, 1).AddUuid(235, instance).AddCurrentTime(242).AddInt(244, 29).AddResId(
        245, 0x071000000000081BLL).AddResId(246, 0x071000000000022BLL).AddResId(247, 0x071000000000021ELL).AddResId(248, -1);
    logs.push_back(status);

    boost::shared_ptr<Logs::ISymbolContainer> product(new Logs::CSymbolContainer());
    product->AddInt(2750, 29);
    auto licences = boost::make_shared<Message::Logs::CMultiProductStatusLog>(10348, product);
    licences->GetRows()->AddNewRow()->AddInt32(2689, 1).AddUuid(2687, instance).AddCurrentTime(2690).AddInt(2750, 29)
        .AddString(2692, "seat-1").AddString(2693, "QUIL-0001").AddString(2696, "QUIL Full Disk Encryption")
        .AddBool(2700, true);
    logs.push_back(licences);

    auto event = boost::make_shared<Message::Logs::CEventLog>(10368);
    DataDefinition::Common::Uuid id;
    id.set_uuid("11111111-2222-3333-4444-555555555555");
    event->GetContainer()->AddInt32(2836, 1).AddUuid(2834, instance).AddCurrentTime(2838).AddUuid(2842, id)
        .AddUuid(2846, id).AddUuid(2844, id).AddResId(2848, 0x10000000BLL).AddResId(2853, 0x071000000000081BLL)
        .AddInt(2850, 30);
    logs.push_back(event);

    int invalid = 0;
    for (const auto& log : logs) {
        log->SetReadOnly();
        std::cout << Zun::Tools::CLogFormatter::Format(*log);
        try {
            log->Validate();
            std::cout << "  -> valid\n\n";
        } catch (const std::exception& e) {
            std::cout << "  -> INVALID: " << e.what() << "\n\n";
            ++invalid;
        }
    }
    return invalid == 0 ? 0 : 1;
}
