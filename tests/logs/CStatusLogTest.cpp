#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <functional>

#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLog.h"
#include "logs/CSymbolContainer.h"

using namespace Zun::Common;
using Logs::CSymbolContainer;
using Logs::ISymbolContainer;
using Message::Logs::CMultiProductStatusLog;
using Message::Logs::CStatusLog;

namespace {

const char* kUuid = "0f8fad5b-d9cb-469f-a165-70867728950e";

boost::shared_ptr<ISymbolContainer> Product(int64_t code) {
    boost::shared_ptr<ISymbolContainer> product(new CSymbolContainer());
    product->AddInt(2750, code);
    return product;
}

// A complete licence row (log 10348) for the product code given.
void FillLicence(ISymbolContainer& row, int64_t code) {
    row.AddInt32(2689, 1).AddUuid(2687, std::string(kUuid)).AddCurrentTime(2690).AddInt(2750, code);
    row.AddString(2692, "seat").AddString(2693, "public").AddString(2696, "name").AddBool(2700, true);
}

// A complete protection-status row (log 10044).
void FillStatus(ISymbolContainer& row) {
    row.AddInt32(241, 1).AddUuid(235, std::string(kUuid)).AddCurrentTime(242).AddInt(244, 29);
    row.AddResId(245, 1).AddResId(246, 2).AddResId(247, 3).AddResId(248, -1);
}

TEST(StatusLogTest, ConstructionRefusesTypesOfOtherKinds) {
    struct Case {
        std::function<void()> make;
        const char* text;
    };
    const Case cases[] = {
        {[] { CStatusLog log(10045); }, "CStatusLog: Message type 10045 is not status log"},
        {[] { CStatusLog log(10348); },
         "CStatusLog: Message type 10348 is not status log, but a multi product status log"},
        {[] { CMultiProductStatusLog log(10349, Product(29)); },
         "CMultiProductStatusLog: Message type 10349 is not status log"},
        {[] { CMultiProductStatusLog log(10044, Product(29)); },
         "CMultiProductStatusLog: Message type 10044 is a multi product status log but a CStatusLog"},
        {[] {
             CMultiProductStatusLog log(10348, boost::shared_ptr<ISymbolContainer>(new CSymbolContainer()));
         },
         "CMultiProductStatusLog: Product identifier must have set fields that have TAG_PRODUCT_KEY set !"},
    };
    for (const Case& c : cases) {
        try {
            c.make();
            ADD_FAILURE() << "no error, expected: " << c.text;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(c.text, e.what());
        }
    }
}

TEST(StatusLogTest, DescribeNamesTheDeltaLog) {
    EXPECT_EQ("StatusLog_ProtectionStatus", CStatusLog(10044).Describe());
    EXPECT_EQ("StatusLog_ProductLicense", CMultiProductStatusLog(10348, Product(29)).Describe());
}

struct ValidateCase {
    const char* name;
    std::function<void(CStatusLog&)> fill;
    const char* error;  // empty: valid
};

class StatusLogValidateTest : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(StatusLogValidateTest, ReportsTheFirstViolation) {
    CStatusLog log(10044);
    GetParam().fill(log);
    const std::string expected = GetParam().error;
    if (expected.empty()) {
        EXPECT_NO_THROW(log.Validate());
        EXPECT_TRUE(log.IsValid());
        return;
    }
    try {
        log.Validate();
        ADD_FAILURE() << "valid, expected: " << expected;
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(expected, e.what());
    }
    EXPECT_FALSE(log.IsValid());
}

const std::string P = "CStatusLog [ProtectionStatus]";

INSTANTIATE_TEST_SUITE_P(
    Rows, StatusLogValidateTest,
    ::testing::Values(
        ValidateCase{"NoRowsDespiteMandatorySymbols", [](CStatusLog&) {}, ""},
        ValidateCase{"CompleteRow", [](CStatusLog& l) { FillStatus(*l.GetRows()->AddNewRow()); }, ""},
        ValidateCase{"OptionalSymbolPresent",
                     [](CStatusLog& l) { FillStatus(l.GetRows()->AddNewRow()->AddResId(4298, 7)); }, ""},
        ValidateCase{"WrongDataTypeInSecondRow",
                     [](CStatusLog& l) {
                         FillStatus(*l.GetRows()->AddNewRow());
                         auto row = l.GetRows()->AddNewRow();
                         FillStatus(*row);
                         row->RemoveSymbol(244).AddResId(244, 29);
                     },
                     "CStatusLog [ProtectionStatus][Row: 1]: Unexpected symbol '244' datatype"},
        ValidateCase{"WrongDataTypeBeforeMissingMandatory",
                     [](CStatusLog& l) { l.GetRows()->AddNewRow()->AddResId(241, 1); },
                     "CStatusLog [ProtectionStatus][Row: 0]: Unexpected symbol '241' datatype"},
        ValidateCase{
            "MissingMandatoryBeforeSuperfluous",
            [](CStatusLog& l) { l.GetRows()->AddNewRow()->AddInt(241, 1).AddInt(900, 1); },
            "CStatusLog [ProtectionStatus][Row: 0]: Container is missing symbol '235' (symbol is mandatory)"},
        ValidateCase{
            "SuperfluousNamesTheLowestId",
            [](CStatusLog& l) {
                auto row = l.GetRows()->AddNewRow();
                FillStatus(*row);
                row->AddInt(900, 1).AddInt(100, 1);
            },
            "CStatusLog [ProtectionStatus][Row: 0]: Unexpected symbol '100' (superfluous symbol value)"}),
    [](const ::testing::TestParamInfo<ValidateCase>& info) { return std::string(info.param.name); });

TEST(MultiProductStatusLogTest, KeyMismatchNamesTheMismatchingRowWhileTheFirstIsChecked) {
    CMultiProductStatusLog log(10348, Product(5));
    FillLicence(*log.GetRows()->AddNewRow(), 5);
    // Row 1 is wrong twice; its own checks would name the data type first.
    auto second = log.GetRows()->AddNewRow();
    FillLicence(*second, 6);
    second->RemoveSymbol(2692).AddInt(2692, 1);
    try {
        log.Validate();
        FAIL() << "expected a mismatch";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(
            "CMultiProductStatusLog [ProductLicense][Row: 1]: Container symbol does not match the product "
            "identifications symbol '2750' (symbol is mandatory)",
            e.what());
    }
}

TEST(MultiProductStatusLogTest, RowsRepeatingTheKeyAreValid) {
    CMultiProductStatusLog log(10348, Product(29));
    FillLicence(*log.GetRows()->AddNewRow(), 29);
    FillLicence(log.GetRows()->AddNewRow()->AddString(4307, "subscription"), 29);
    EXPECT_NO_THROW(log.Validate());
}

TEST(StatusLogTest, EqualsComparesRowIdentity) {
    CStatusLog a(10044), b(10044), c(10044);
    FillStatus(*a.GetRows()->AddNewRow());
    FillStatus(*b.GetRows()->AddNewRow());
    c.GetRows()->AddRow(a.GetRows()->GetRow(0));
    EXPECT_FALSE(a.Equals(b));
    EXPECT_TRUE(a.Equals(c));
    EXPECT_FALSE(a.Equals(CStatusLog(10553)));
    EXPECT_FALSE(a.Equals(CMultiProductStatusLog(10348, Product(29))));
}

TEST(StatusLogTest, ReadOnlyLocksTheRowsPresentThen) {
    CStatusLog log(10044);
    auto first = log.GetRows()->AddNewRow();
    auto last = log.GetRows()->AddNewRow();
    log.SetReadOnly();
    auto after = log.GetRows()->AddNewRow();
    EXPECT_TRUE(log.IsReadOnly());
    for (const auto& row : {first, last}) {
        try {
            row->AddInt(241, 1);
            ADD_FAILURE() << "a row stayed writable";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ("Cannot add symbol 241: container is locked", e.what());
        }
    }
    EXPECT_NO_THROW(after->AddInt(241, 1));
}

TEST(MultiSymbolContainerTest, GetRowPastTheEndAndSortAndTruncate) {
    Logs::CMultiSymbolContainer rows;
    for (int64_t v : {3, 1, 2}) {
        rows.AddNewRow()->AddInt(241, v);
    }
    EXPECT_THROW(
        {
            try {
                rows.GetRow(3);
            } catch (const std::out_of_range& e) {
                EXPECT_STREQ("invalid vector subscript", e.what());
                throw;
            }
        },
        std::out_of_range);
    rows.SortAndTruncate(
        2, [](const Logs::IMultiSymbolContainer::RowPtr& a, const Logs::IMultiSymbolContainer::RowPtr& b) {
            return a->GetInt(241) < b->GetInt(241);
        });
    ASSERT_EQ(2u, rows.GetRowCount());
    EXPECT_EQ(1, rows.GetRow(0)->GetInt(241));
    EXPECT_EQ(2, rows.GetRow(1)->GetInt(241));
    EXPECT_THROW(rows.SortAndTruncate(1, Logs::IMultiSymbolContainer::RowLess()), boost::bad_function_call);
    auto copy = rows.Clone();
    EXPECT_FALSE(copy->Equals(rows));
    EXPECT_TRUE(copy->GetRow(0)->Equals(*rows.GetRow(0)));
}

}  // namespace
