#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <functional>

#include "host/CLogCatalogue.h"
#include "host/CLogDescriptorMap.h"
#include "logs/CEventLog.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLog.h"

// Every log the connector publishes, filled with the symbols and adders its publisher uses, must
// pass the catalogue's checks: this pins the catalogue to what the module really sends.
using namespace Zun::Common;
using Message::CLogMessage;
using Message::Logs::CEventLog;
using Message::Logs::CMultiProductStatusLog;
using Message::Logs::CStatusLog;

namespace {

const std::string kInstance = "0f8fad5b-d9cb-469f-a165-70867728950e";
const int64_t kConnector = 0x071000000000081BLL;
const int64_t kStatusProduct = 0x071000000000081CLL;

void ProtectionRow(Logs::ISymbolContainer& r, int32_t level, int64_t text, int64_t status) {
    r.AddInt32(241, level).AddUuid(235, kInstance).AddCurrentTime(242).AddInt(244, 29);
    r.AddResId(245, kConnector).AddResId(246, 0x071000000000022BLL).AddResId(247, text).AddResId(248, status);
}

boost::shared_ptr<Logs::ISymbolContainer> ProductKey(int32_t id, int64_t value, bool resId) {
    boost::shared_ptr<Logs::ISymbolContainer> product(new Logs::CSymbolContainer());
    resId ? product->AddResId(id, value) : product->AddInt(id, value);
    return product;
}

void TaskResult(Logs::ISymbolContainer& c, int32_t severity, int64_t code, int64_t state,
                const std::string& text) {
    DataDefinition::Common::Uuid first, second, third;
    first.set_uuid("11111111-1111-1111-1111-111111111111");
    second.set_uuid("22222222-2222-2222-2222-222222222222");
    third.set_uuid("33333333-3333-3333-3333-333333333333");
    c.AddInt32(2836, severity).AddUuid(2834, kInstance).AddCurrentTime(2838);
    c.AddUuid(2842, first).AddUuid(2846, third).AddUuid(2844, second);
    c.AddResId(2848, code).AddResId(2853, kConnector).AddInt(2850, state);
    if (!text.empty()) {
        c.AddString(2913, text);
    }
}

struct Published {
    const char* publisher;
    std::function<boost::shared_ptr<CLogMessage>()> build;
};

const Published kPublished[] = {
    {"connector status on connect",
     [] {
         auto log = boost::make_shared<CStatusLog>(10292);
         log->GetRows()
             ->AddNewRow()
             ->AddInt32(2143, 1)
             .AddUuid(2141, kInstance)
             .AddCurrentTime(2144)
             .AddInt(2146, 11)
             .AddInt(2147, 256);
         return log;
     }},
    {"product status on connect",
     [] {
         auto log = boost::make_shared<CMultiProductStatusLog>(10405, ProductKey(4429, kStatusProduct, true));
         log->GetRows()
             ->AddNewRow()
             ->AddString(3560, "velm.local.products.quil.computer")
             .AddInt32(3554, 6)
             .AddUuid(3552, kInstance)
             .AddCurrentTime(3555)
             .AddInt(3559, 29)
             .AddResId(4429, kStatusProduct);
         return log;
     }},
    {"protection all clear",
     [] {
         auto log = boost::make_shared<CStatusLog>(10044);
         ProtectionRow(*log->GetRows()->AddNewRow(), 1, 0x071000000000021ELL, -1);
         return log;
     }},
    {"product unreachable",
     [] {
         auto log = boost::make_shared<CStatusLog>(10044);
         ProtectionRow(*log->GetRows()->AddNewRow(), 6, 0x0710000000000221LL, 0x00000001000000B3LL);
         return log;
     }},
    {"protection problems with description",
     [] {
         auto log = boost::make_shared<CStatusLog>(10044);
         ProtectionRow(log->GetRows()->AddNewRow()->AddResId(4298, 0x12000001), 5, 0x12000002, 0x12000003);
         ProtectionRow(*log->GetRows()->AddNewRow(), 3, 0x12000002, 0x12000003);
         return log;
     }},
    {"encryption storage status",
     [] {
         auto log = boost::make_shared<CStatusLog>(10553);
         log->GetRows()->AddNewRow()->AddInt(4672, 1).AddUuid(4670, kInstance).AddCurrentTime(4673);
         return log;
     }},
    {"encryption storage status without match", [] { return boost::make_shared<CStatusLog>(10553); }},
    {"licences with every optional symbol",
     [] {
         auto log = boost::make_shared<CMultiProductStatusLog>(10348, ProductKey(2750, 29, false));
         DataDefinition::Common::UTCTime expires;
         expires.set_year(2030), expires.set_month(12), expires.set_day(31);
         expires.set_hour(23), expires.set_minute(59), expires.set_second(59);
         for (int i = 0; i < 2; ++i) {
             auto& row = *log->GetRows()->AddNewRow();
             row.AddInt32(2689, 1).AddUuid(2687, kInstance).AddCurrentTime(2690).AddInt(2750, 29);
             row.AddString(2692, "seat")
                 .AddString(2693, "pub")
                 .AddString(2696, "QUIL Full Disk")
                 .AddBool(2700, i);
             row.AddTimeDate(2698, expires).AddInt(4304, 29).AddString(4305, "host").AddInt(4306, 12);
             row.AddString(4307, "subscription").AddInt(4308, 3).AddString(4309, "m").AddString(4310, "ok");
         }
         return log;
     }},
    {"licences none",
     [] { return boost::make_shared<CMultiProductStatusLog>(10348, ProductKey(2750, 29, false)); }},
    {"deactivated product status",
     [] {
         return boost::make_shared<CMultiProductStatusLog>(10405, ProductKey(4429, kStatusProduct, true));
     }},
    {"task result retry",
     [] {
         auto log = boost::make_shared<CEventLog>(10368);
         TaskResult(*log->GetContainer(), 1, 0x10000000CLL, 20, "product link failed");
         return log;
     }},
    {"task result done without text",
     [] {
         auto log = boost::make_shared<CEventLog>(10368);
         TaskResult(*log->GetContainer(), 1, 0x10000000BLL, 30, "");
         return log;
     }},
    {"exported configuration",
     [] {
         auto log = boost::make_shared<CEventLog>(10244);
         log->GetContainer()
             ->AddInt32(1888, 1)
             .AddUuid(1886, kInstance)
             .AddCurrentTime(1889)
             .AddResId(1891, kConnector)
             .AddBlob(1892, std::string(5000, 'x') + std::string(1, '\0'));
         return log;
     }},
};

TEST(PublishedLogsTest, EveryPublishedLogValidatesAndNamesItself) {
    for (const Published& p : kPublished) {
        boost::shared_ptr<CLogMessage> log = p.build();
        EXPECT_NO_THROW(log->Validate()) << p.publisher;
        log->SetReadOnly();
        EXPECT_TRUE(log->IsValid()) << p.publisher;
        EXPECT_EQ(0u, log->Describe().find(dynamic_cast<CEventLog*>(log.get()) ? "EventLog_" : "StatusLog_"))
            << p.publisher;
    }
}

TEST(PublishedLogsTest, LongTaskResultTextIsCutToItsLimit) {
    CEventLog log(10368);
    TaskResult(*log.GetContainer(), 4, 0x10000000CLL, 40, std::string(5000, 'e'));
    const std::string& text = log.GetContainer()->GetString(2913);
    EXPECT_EQ(1024u, text.size());
    EXPECT_EQ("...", text.substr(text.size() - 3));
    EXPECT_TRUE(log.IsValid());
}

}  // namespace

namespace {

using Zun::Common::Logs::CLogCatalogue;
using Zun::Common::Logs::CLogDescriptorMap;

// A catalogue that gives something twice is refused as a whole: a later entry must not silently
// hide an earlier one.
TEST(LogCatalogueTest, AnythingGivenTwiceIsRefused) {
    const std::vector<CLogCatalogue::Log>& real = CLogCatalogue::Logs();
    ASSERT_GE(real.size(), 2u);
    EXPECT_NO_THROW(CLogDescriptorMap{real});
    struct Case {
        const char* name;
        std::function<void(std::vector<CLogCatalogue::Log>&)> duplicate;
        std::string error;
    };
    const Case cases[] = {
        {"MessageType", [](auto& logs) { logs[1].deltaType = logs[0].statusType; },
         "message type " + std::to_string(real[0].statusType)},
        {"LogType", [](auto& logs) { logs[1].eventLog = logs[0].eventLog; },
         "log type " + std::to_string(static_cast<int>(real[0].eventLog))},
        {"SymbolOfAnotherLog", [](auto& logs) { logs[1].symbols.push_back(logs[0].symbols.at(0)); },
         "symbol " + std::to_string(real[0].symbols.at(0).id)},
        {"SymbolOfTheSameLog", [](auto& logs) { logs[0].symbols.push_back(logs[0].symbols.at(0)); },
         "symbol " + std::to_string(real[0].symbols.at(0).id)},
    };
    for (const Case& c : cases) {
        std::vector<CLogCatalogue::Log> logs = real;
        c.duplicate(logs);
        try {
            CLogDescriptorMap map(logs);
            ADD_FAILURE() << c.name << " was accepted";
        } catch (const std::logic_error& e) {
            EXPECT_EQ("Log catalogue gives " + c.error + " twice", e.what()) << c.name;
        }
    }
}

}  // namespace
