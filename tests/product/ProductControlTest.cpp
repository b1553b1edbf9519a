// The control lines: each gets one answer line, bad ones an error naming the problem, and faults
// queue in order.
#include <gtest/gtest.h>

#include "module/CQUILConnectorModule.h"
#include "platform/CRegistryKey.h"
#include "tests/product/ProductTestSupport.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tools/product/CControlDispatcher.h"
#include "tools/product/CProductApplication.h"
#include "tools/product/CProductLog.h"
#include "tools/product/ProductConstants.h"

using namespace ProductTest;
using namespace Zun::Tools::Product;

namespace {

class ControlTest : public testing::Test {
protected:
    ControlTest() { CProductLog::SetEnabled(false); }

    std::string Send(const std::string& line) { return dispatcher.Handle(line).Line; }

    CFakeArea area;
    CProduct product{CProductState::Default(), area};
    CFaultPlan faults;
    bool stopped = false;
    CControlDispatcher dispatcher{product, faults, area, [this] { stopped = true; }};
};

TEST_F(ControlTest, BadLinesAreAnsweredWithTheirFault) {
    const std::pair<const char*, const char*> cases[] = {
        {"not json", "control line is not valid JSON"},
        {"[1]", "document: expected an object"},
        {R"({})", "op: missing"},
        {R"({"op":"format"})", "; the ops are 'add-recovery', 'bump',"},
        {R"({"op":"pigns"})", "; did you mean 'pings'?"},
        {R"({"op":"ping","extra":1})", "extra: unknown field"},
        {R"({"op":"fault","kind":"explode"})", "unknown fault kind"},
        {R"({"op":"fault","kind":"status"})", "status: missing"},
        {R"({"op":"fault","kind":"hang","ms":-1})", "ms: -1 is out of range"},
        {R"({"op":"fault","kind":"hang","ms":5,"request":112})", "request: expected a string"},
        {R"({"op":"bump","index":10})", "index: 10 is out of range 0..9"},
        {R"({"op":"set-status","records":[{"Status":5}]})", "records[0].Status: must be 0, 1, 2"},
        {R"({"op":"pings","answer":"no"})", "answer: expected true or false"},
        {R"({"op":"add-recovery","passwords":[{"Uid":"u"}]})", "passwords[0].DeviceId: missing"},
        // Replacing a list without the list would wipe it.
        {R"({"op":"set-licenses"})", "licenses: missing; to remove every record give an empty list"},
        {R"({"op":"set-status"})", "records: missing"},
        {R"({"op":"queue-task","userData":"<id1>;<id2>;<id3>"})", "userData: must be three UUIDs"},
        {R"({"op":"queue-task","userData":"11111111-2222-3333-4444-555555555555"})", "must be three UUIDs"},
        {R"({"op":"bump","index":1,"index":2})", "index: given more than once"},
        {R"({"op":"set-server-value","value":18446744073709551616})",
         "value: 18446744073709551616 is out of range"},
        {"\xEF\xBB\xBF\xEF\xBB\xBF{\"op\":\"ping\"}", "control line: starts with a UTF-8 byte order mark"},
        {"{\"op\":\"\xC0\x80\"}", "control line: not valid UTF-8 at byte 7"},
    };
    for (const auto& c : cases) {
        const std::string answer = Send(c.first);
        EXPECT_EQ(0u, answer.find(R"({"ok":false,"error":)")) << answer;
        EXPECT_NE(std::string::npos, answer.find(c.second)) << answer;
        EXPECT_EQ(std::string::npos, answer.find('\n'));
    }
    EXPECT_TRUE(area.bumps.empty()) << "a rejected line changes nothing";
    EXPECT_EQ(0u, faults.Pending());
    EXPECT_EQ(1u, product.Snapshot().Licenses.size());
    EXPECT_EQ(1u, product.Snapshot().Status.size());
}

TEST_F(ControlTest, AnEmptyListClearsAndAByteOrderMarkIsDropped) {
    EXPECT_EQ(R"({"ok":true})", Send(R"({"op":"set-licenses","licenses":[]})"));
    EXPECT_TRUE(product.Snapshot().Licenses.empty());
    EXPECT_EQ(R"({"ok":true})", Send("\xEF\xBB\xBF{\"op\":\"set-status\",\"records\":[]}"));
    EXPECT_TRUE(product.Snapshot().Status.empty());
}

TEST_F(ControlTest, FaultsApplyInOrderEachForItsCount) {
    EXPECT_EQ(R"({"ok":true})", Send(R"({"op":"fault","kind":"status","status":14,"count":2})"));
    Send(R"({"op":"fault","kind":"hang","ms":5})");
    Send(R"({"op":"fault","kind":"oversize"})");
    EXPECT_EQ(4u, faults.Pending());
    const Fault::Kind expected[] = {Fault::kStatus, Fault::kStatus, Fault::kHang, Fault::kOversize};
    for (const Fault::Kind kind : expected) {
        const std::optional<Fault> fault = faults.Take();
        ASSERT_TRUE(fault.has_value());
        EXPECT_EQ(kind, fault->Type);
    }
    EXPECT_FALSE(faults.Take().has_value());

    // A fault for one kind of request lets the others pass and waits for its own.
    const auto named = [](const char* name) { return [name] { return std::string(name); }; };
    Send(R"({"op":"fault","kind":"hang","ms":5,"request":"function WIPE_FDE_ENCRYPTION_PASSWORD"})");
    Send(R"({"op":"fault","kind":"drop"})");
    const std::optional<Fault> other = faults.Take(named("command 112"));
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(Fault::kDrop, other->Type);
    EXPECT_FALSE(faults.Take(named("command 112")).has_value());
    EXPECT_FALSE(faults.Take().has_value()) << "a request without a name is never the one";
    const std::optional<Fault> held = faults.Take(named("function WIPE_FDE_ENCRYPTION_PASSWORD"));
    ASSERT_TRUE(held.has_value());
    EXPECT_EQ(Fault::kHang, held->Type);
    EXPECT_EQ(0u, faults.Pending());

    Send(R"({"op":"pings","answer":false,"result":9})");
    EXPECT_EQ(9u, faults.PingResult());
    Send(R"({"op":"clear-faults"})");
    EXPECT_EQ(0u, faults.PingResult());
}

TEST_F(ControlTest, StateChangesReachTheProductAndTheArea) {
    Send(R"({"op":"set-status","records":[{"Status":2,"CategoryResId":"0x10","StatusResId":32}]})");
    EXPECT_EQ(R"({"ok":true})", Send(R"({"op":"queue-task","userData":")" + UserData + R"(","result":5})"));
    Send(R"({"op":"add-recovery","data":[{"Uid":"r9","DeviceId":"d","ValueBase64":"AAEC"}]})");
    Send(R"({"op":"set-server-value","value":"0xBEEF"})");
    const CProductState state = product.Snapshot();
    ASSERT_EQ(1u, state.Status.size());
    EXPECT_EQ(0x10, state.Status[0].CategoryResId);
    EXPECT_EQ(5u, state.TaskResults.back().Result);
    EXPECT_EQ(std::string("\0\1\2", 3), state.RecoveryData.back().Secret);
    EXPECT_EQ((std::set<unsigned>{2, 8, 9}), area.bumps);
    EXPECT_EQ(0xBEEFu, area.serverValue);

    const std::string shown = Send(R"({"op":"show"})");
    EXPECT_EQ(std::string::npos, shown.find(CProductState::Default().RecoveryPasswords[0].Secret))
        << "masked";
    EXPECT_NE(std::string::npos, shown.find("\"Uid\":\"r9\""));
}

TEST_F(ControlTest, ProcessEndingOperationsAnswerFirst) {
    EXPECT_FALSE(dispatcher.Handle(R"({"op":"hold-mutex","ms":250})").After);
    EXPECT_EQ(250u, area.held);
    const CControlDispatcher::Answer die = dispatcher.Handle(R"({"op":"die-holding-mutex"})");
    EXPECT_EQ(R"({"ok":true})", die.Line);
    EXPECT_FALSE(area.died);
    ASSERT_TRUE(die.After);
    die.After();
    EXPECT_TRUE(area.died);
    dispatcher.Handle(R"({"op":"stop"})").After();
    EXPECT_TRUE(stopped);
}

TEST(ProductInstall, WritesAndRemovesTheValueTheModuleLooksFor) {
    Zun::Testing::CTemporaryObjectRoot root;
    using Zun::Connectors::QUILConnector::CQUILConnectorModule;
    EXPECT_STREQ(CQUILConnectorModule::RegistryKey, kRegistryKey);
    EXPECT_STREQ(CQUILConnectorModule::RegistryValue, kRegistryValue);
    const Zun::Platform::CRegistryKey key(kRegistryKey, true);
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, CProductApplication().Run({"install", "--version", "9.1"}));
    EXPECT_EQ("9.1", key.GetString(kRegistryValue));
    EXPECT_EQ(0, CProductApplication().Run({"uninstall"}));
    EXPECT_FALSE(key.HasValue(kRegistryValue));
    EXPECT_EQ(0, CProductApplication().Run({"uninstall"})) << "uninstalling twice is harmless";
    testing::internal::GetCapturedStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(64, CProductApplication().Run({"serve", "--colour"}));
    EXPECT_EQ(64, CProductApplication().Run({"ctl"}));
    testing::internal::GetCapturedStderr();
}

}  // namespace
