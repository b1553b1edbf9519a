#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <functional>

#include "bus/CMessage.h"
#include "bus/CQUILProcessRecoveryDataRequest.h"
#include "bus/CQUILRequest.h"
#include "host/CBlockFDELogin.h"
#include "host/CWipeFDELogin.h"

using namespace Zun::Common::Message;
using Connectors::QUILConnector::CQUILProcessRecoveryDataRequest;
using Connectors::QUILConnector::CQUILRequest;

namespace {

boost::shared_ptr<CQUILProcessRecoveryDataRequest> Recovery(const std::string& password) {
    auto request = boost::make_shared<CQUILProcessRecoveryDataRequest>();
    auto* entry = request->MutableFDERecoveryData().add_recovery_passwords();
    entry->set_deviceid("disk0");
    entry->set_recovery_password(password);
    entry->set_internalid("7");
    return request;
}

TEST(BusMessagesTest, TypesAndNames) {
    EXPECT_EQ(9u, CQUILRequest(3).GetType());
    EXPECT_EQ("QUILRequest", CQUILRequest(3).Describe());
    EXPECT_EQ(728u, CQUILProcessRecoveryDataRequest().GetType());
    EXPECT_EQ("QUILProcessRecoveryDataRequest", CQUILProcessRecoveryDataRequest().Describe());
}

// Another class under the same message type, as another module might publish.
template <Zun::Common::Kernel::MessageType Type>
class CLookalike : public CMessage {
public:
    Zun::Common::Kernel::MessageType GetType() const override { return Type; }
    std::string Describe() const override { return "Lookalike"; }
    bool Equals(const Zun::Common::Kernel::IMessage&) const override { return false; }
};

TEST(BusMessagesTest, EqualsNeedsSameClassAndContent) {
    EXPECT_FALSE(CQUILRequest(1).Equals(CLookalike<9>()));
    EXPECT_FALSE(CQUILProcessRecoveryDataRequest().Equals(CLookalike<728>()));
    EXPECT_TRUE(CQUILRequest(1).Equals(CQUILRequest(1)));
    EXPECT_FALSE(CQUILRequest(1).Equals(CQUILRequest(2)));
    EXPECT_FALSE(CQUILRequest(1).Equals(CQUILProcessRecoveryDataRequest()));
    EXPECT_FALSE(CQUILProcessRecoveryDataRequest().Equals(CQUILRequest(1)));
    EXPECT_TRUE(Recovery(std::string("a\0b", 3))->Equals(*Recovery(std::string("a\0b", 3))));
    EXPECT_FALSE(Recovery(std::string("a\0b", 3))->Equals(*Recovery(std::string("a\0c", 3))));
}

// Recovery requests are equal only field for field: a field left unset differs from one set to its
// default, as the product's confirmation tells the two apart.
TEST(BusMessagesTest, RecoveryRequestsCompareSetFieldsExactly) {
    typedef std::function<void(CQUILProcessRecoveryDataRequest::Data&)> Edit;
    const Edit none = [](CQUILProcessRecoveryDataRequest::Data&) {};
    struct Case {
        const char* name;
        Edit left, right;
        bool equal;
    };
    const Case cases[] = {
        {"both empty", none, none, true},
        {"internal id unset or empty",
         [](CQUILProcessRecoveryDataRequest::Data& d) { d.add_recovery_passwords()->set_deviceid("disk0"); },
         [](CQUILProcessRecoveryDataRequest::Data& d) {
             auto* entry = d.add_recovery_passwords();
             entry->set_deviceid("disk0");
             entry->set_internalid("");
         },
         false},
        {"block's internal id unset or empty",
         [](CQUILProcessRecoveryDataRequest::Data& d) {
             d.add_recovery_data_blocks()->set_recovery_data("x");
         },
         [](CQUILProcessRecoveryDataRequest::Data& d) {
             auto* block = d.add_recovery_data_blocks();
             block->set_recovery_data("x");
             block->set_internalid("");
         },
         false},
        {"same entries",
         [](CQUILProcessRecoveryDataRequest::Data& d) { d.add_recovery_passwords()->set_internalid(""); },
         [](CQUILProcessRecoveryDataRequest::Data& d) { d.add_recovery_passwords()->set_internalid(""); },
         true},
    };
    for (const Case& c : cases) {
        CQUILProcessRecoveryDataRequest left, right;
        c.left(left.MutableFDERecoveryData());
        c.right(right.MutableFDERecoveryData());
        EXPECT_EQ(c.equal, left.Equals(right)) << c.name;
        EXPECT_EQ(c.equal, right.Equals(left)) << c.name;
    }
}

TEST(BusMessagesTest, ReadOnlyIsForGood) {
    CQUILRequest request(0);
    EXPECT_NO_THROW(request.CheckWritable());
    request.SetRequestKind(2);
    request.SetReadOnly();
    request.SetReadOnly();
    EXPECT_TRUE(request.IsReadOnly());
    try {
        request.SetRequestKind(1);
        FAIL() << "kind changed after publication";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Message is read only", e.what());
    }
    EXPECT_EQ(2u, request.GetRequestKind());
    auto recovery = Recovery("x");
    recovery->SetReadOnly();
    EXPECT_THROW(recovery->MutableFDERecoveryData(), std::runtime_error);
}

TEST(BusMessagesTest, AgentTasksCompareByClassAndIdentifiers) {
    Connectors::QUILConnector::CBlockFDELogin block, other;
    Connectors::QUILConnector::CWipeFDELogin wipe;
    block.SetTaskIdentifiers("a", "b", "c");
    other.SetTaskIdentifiers("a", "b", "c");
    wipe.SetTaskIdentifiers("a", "b", "c");
    EXPECT_TRUE(block.Equals(other));
    EXPECT_FALSE(block.Equals(wipe));
    EXPECT_TRUE(block.HasTaskIdentifiers());
    EXPECT_FALSE(Connectors::QUILConnector::CBlockFDELogin().HasTaskIdentifiers());
}

}  // namespace
