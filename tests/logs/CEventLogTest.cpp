#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "logs/CEventLog.h"

using namespace Zun::Common;
using Message::Logs::CEventLog;

namespace {

const char* kUuid = "0f8fad5b-d9cb-469f-a165-70867728950e";

std::string ValidationError(const CEventLog& log) {
    try {
        log.Validate();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return std::string();
}

void FillExport(Logs::ISymbolContainer& c) {
    c.AddInt32(1888, 1).AddUuid(1886, std::string(kUuid)).AddCurrentTime(1889).AddResId(1891, 7);
    c.AddBlob(1892, std::string("a\0b", 3));
}

TEST(EventLogTest, AcceptsOnlyEventAndDeltaTypes) {
    EXPECT_NO_THROW(CEventLog(10368));
    EXPECT_NO_THROW(CEventLog(10367));
    try {
        CEventLog log(10366);
        FAIL() << "status type accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("CEventLog: Message type 10366 is not event or delta log", e.what());
    }
}

TEST(EventLogTest, EventAndDeltaSidesHaveTheirOwnNames) {
    EXPECT_EQ("EventLog_TaskResult", CEventLog(10368).Describe());
    EXPECT_EQ("EventLog_TaskResultDelta", CEventLog(10367).Describe());
    EXPECT_EQ("EventLog_ExportedConfiguration", CEventLog(10244).Describe());
}

TEST(EventLogTest, ValidateReportsViolationsInCheckOrder) {
    struct Case {
        const char* name;
        std::function<void(Logs::ISymbolContainer&)> fill;
        std::string error;
    };
    const std::string P = "CEventLog [ExportedConfiguration]: ";
    const Case cases[] = {
        {"complete", FillExport, ""},
        {"missing before wrong type", [](Logs::ISymbolContainer& c) { c.AddString(1888, "x"); },
         P + "Container is missing symbol '1886' (symbol is mandatory)"},
        {"wrong type",
         [](Logs::ISymbolContainer& c) {
             FillExport(c);
             c.RemoveSymbol(1891).AddInt(1891, 7);
         },
         P + "Unexpected symbol '1891' datatype"},
        {"superfluous",
         [](Logs::ISymbolContainer& c) {
             FillExport(c);
             c.AddInt(2836, 1);
         },
         P + "Unexpected symbol '2836' (superfluous symbol value)"},
    };
    for (const Case& c : cases) {
        CEventLog log(10244);
        c.fill(*log.GetContainer());
        EXPECT_EQ(c.error, ValidationError(log)) << c.name;
        EXPECT_EQ(c.error.empty(), log.IsValid()) << c.name;
    }
}

TEST(EventLogTest, EmptyTaskResultMissesItsFirstMandatorySymbol) {
    EXPECT_EQ("CEventLog [TaskResult]: Container is missing symbol '2836' (symbol is mandatory)",
              ValidationError(CEventLog(10368)));
}

TEST(EventLogTest, EqualsIgnoresOrderAndReadOnlyLocks) {
    CEventLog a(10244), b(10244);
    a.GetContainer()->AddInt(1888, 1).AddResId(1891, 2);
    b.GetContainer()->AddResId(1891, 2).AddInt(1888, 1);
    EXPECT_TRUE(a.Equals(b));
    EXPECT_FALSE(a.Equals(CEventLog(10368)));
    a.SetReadOnly();
    try {
        a.GetContainer()->AddInt(1889, 1);
        FAIL() << "container stayed writable";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Cannot add symbol 1889: container is locked", e.what());
    }
}

}  // namespace
