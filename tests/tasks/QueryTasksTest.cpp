#include <gtest/gtest.h>

#include "bus/CQUILRequest.h"
#include "core/CErrorReplyChannelException.h"
#include "host/CApplyPolicy.h"
#include "host/CKTAgentRequest.h"
#include "logs/CEventLog.h"
#include "logs/CMultiProductStatusLog.h"
#include "logs/CStatusLog.h"
#include "tasks/CGetEncryptionRecoveryDataTask.h"
#include "tasks/CGetEncryptionStorageStatusTask.h"
#include "tasks/CGetLicenseTask.h"
#include "tasks/CGetStatusTask.h"
#include "tasks/CGetTaskStatusTask.h"
#include "tests/tasks/TaskFakes.h"

using namespace TasksTest;
using namespace Zun::Connectors::Common::Tasks;
using namespace Zun::Common::Message::Logs;
using Zun::Common::Message::Connectors::KTAgentConnector::CKTAgentRequest;
using Zun::Common::Message::Connectors::QUILConnector::CQUILRequest;

namespace {

enum { Status, License, TaskStatus, RecoveryData, StorageStatus };

// The five tasks the module enters under message type 9, in its table order.
std::vector<boost::shared_ptr<CMessageTask>> QueryTasks(const CFakeModule& m, int32_t type = 9) {
    return {boost::make_shared<CGetStatusTask>(m.channel, m.logger, m.factory, m.publisher, m.instance, 29,
                                               ConnectorId, type),
            boost::make_shared<CGetLicenseTask>(m.channel, m.logger, m.factory, m.publisher, m.instance, 29,
                                                type),
            boost::make_shared<CGetTaskStatusTask>(m.channel, m.logger, m.factory, m.publisher, m.instance,
                                                   ConnectorId, type),
            boost::make_shared<CGetEncryptionRecoveryDataTask>(m.channel, m.logger, m.factory, m.publisher),
            boost::make_shared<CGetEncryptionStorageStatusTask>(m.channel, m.logger, m.factory, m.publisher,
                                                                m.instance, 29, ConnectorId, type)};
}

std::string StatusReply(const std::string& records) {
    return "<VELM><SECTION><STATUS>" + records + "</STATUS></SECTION></VELM>";
}

std::string Record(const std::string& status, const std::string& statusResId, const std::string& more = "") {
    return "<RECORD STATUS=\"" + status + "\" CATEGORY_RES_ID=\"10\" STATUS_RES_ID=\"" + statusResId + "\"" +
           more + "/>";
}

// One product task result; its user data follows the record header as UTF-16LE.
Bytes TaskResultReply(uint32_t result, const std::string& userData) {
    std::string body = UInt32(0) + UInt32(result) + UInt32(12);
    for (char c : userData + '\0') {
        body += std::string{c, '\0'};
    }
    return Reply(body);
}

Row StatusRow(const std::string& level, const Row& resources) {
    return Row{"241 int:" + level, "235 uuid:" + Instance, "242 time:now", "244 int:29",
               "245 res:71000000000081b"} +
           resources;
}

}  // namespace

TEST(QueryTasks, RequestKindSelectsTheTasksThatAskTheProduct) {
    const struct {
        MessagePtr message;
        int32_t taskType;
        std::vector<uint32_t> commands;  // per task in table order; 0: none sent
    } cases[] = {
        {boost::make_shared<CQUILRequest>(0), 9, {33, 0, 0, 0, 33}},
        {boost::make_shared<CQUILRequest>(1), 9, {0, 138, 0, 0, 0}},
        {boost::make_shared<CQUILRequest>(2), 9, {0, 0, 112, 0, 0}},
        {boost::make_shared<CQUILRequest>(3), 9, {0, 0, 0, 2, 0}},
        {boost::make_shared<CKTAgentRequest>(0), 9, {0, 0, 0, 0, 0}},
        {boost::make_shared<Zun::Common::Message::Policies::CApplyPolicy>("x"), 9, {0, 0, 0, 0, 0}},
        {boost::make_shared<CKTAgentRequest>(0), 8, {33, 0, 0, 0, 33}},
        {boost::make_shared<CQUILRequest>(2), 8, {0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message->Describe() + " to tasks of type " + std::to_string(c.taskType));
        CFakeModule m;
        std::vector<uint32_t> commands;
        for (const auto& task : QueryTasks(m, c.taskType)) {
            const bool sent = Outcome([&] { task->Execute(c.message); }) != "ok";
            commands.push_back(sent ? m.channel->sent.back().Command() : 0);
        }
        EXPECT_EQ(c.commands, commands);
    }
}

TEST(QueryTasks, ProtectionStatusRowsOrTheAllClearRow) {
    const Row allClear =
        StatusRow("1", {"246 res:71000000000022b", "247 res:71000000000021e", "248 res:ffffffffffffffff"});
    const struct {
        std::string records;
        std::vector<Row> rows;
    } cases[] = {
        {Record("2", "120000A1", " DESCRIPTION_RES_ID=\"120000B2\"") + Record("0", "1") +
             "<RECORD STATUS=\"ffffffff\"/>" + Record("1", "20"),
         {StatusRow("5", {"246 res:10", "247 res:710000000000220", "248 res:120000a1", "4298 res:120000b2"}),
          StatusRow("3", {"246 res:10", "247 res:71000000000021f", "248 res:20"})}},
        {Record("0", "1") + "<RECORD STATUS=\"ffffffff\"/>", {allClear}},
        {"", {allClear}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.records);
        CFakeModule m;
        m.channel->Answer(Reply(StatusReply(c.records)));
        QueryTasks(m)[Status]->Execute(boost::make_shared<CQUILRequest>(0));

        const auto log = m.publisher->At<CStatusLog>(0, 10044);
        EXPECT_NO_THROW(log->Validate());
        EXPECT_EQ(c.rows, Rows(*log));
        const size_t records = std::count(c.records.begin(), c.records.end(), '<');
        EXPECT_EQ((std::vector<std::pair<int, std::string>>{
                      {1, "Protection status log raw content: " + StatusReply(c.records)},
                      {0, "Protection status log metadata received, size: " + std::to_string(records)},
                      {0, "Protection status log deserialized and published"}}),
                  m.logger->lines);
    }
}

TEST(QueryTasks, StorageStatusReportsOnlyTheFirstStorageRecord) {
    const std::vector<Row> inOrder = {{"4672 int:1", "4670 uuid:" + Instance, "4673 time:now"}};
    for (const auto& [records, rows] :
         {std::pair{Record("0", "120000FC") + Record("0", "120000FD") + Record("0", "120000FD"), inOrder},
          std::pair{Record("1", "120000FD"), std::vector<Row>()}}) {
        SCOPED_TRACE(records);
        CFakeModule m;
        m.channel->Answer(Reply(StatusReply(records)));
        QueryTasks(m)[StorageStatus]->Execute(boost::make_shared<CQUILRequest>(0));
        EXPECT_EQ(rows, Rows(*m.publisher->At<CStatusLog>(0, 10553)));
    }
}

TEST(QueryTasks, LicenceRowsCarryTheOptionalFieldsOnlyWhenPresent) {
    const std::string licenses =
        "<License AssociatedSeatId=\"seat-1\" LicensePublicId=\"PUB-1\" LicenseProductName=\"FDE\" "
        "ActivatedByZun=\"1\" LicenseExpirationDate=\"5F5E1000\" ProductCode=\"29\" SeatName=\"PC-7\" "
        "LicenseRenewalPeriod=\"12\" LicenseType=\" trial \" LicenseFlags=\"3\" LicenseModelType=\"seat\" "
        "LicenseModelStatus=\"valid\"/><License AssociatedSeatId=\"seat-2\" LicensePublicId=\"PUB-2\" "
        "LicenseProductName=\"FDE\" ActivatedByZun=\"true\" LicenseExpirationDate=\"FFFFFFFF\"/>";
    const Row head = {"2689 int:1", "2687 uuid:" + Instance, "2690 time:now", "2750 int:29"};
    const std::vector<Row> rows = {
        head + Row{"2692 str:seat-1", "2693 str:PUB-1", "2696 str:FDE", "2700 bool:1",
                   "2698 time:2020-Sep-13 12:26:40", "4304 int:29", "4305 str:PC-7", "4306 int:12",
                   "4307 str:trial", "4308 int:3", "4309 str:seat", "4310 str:valid"},
        head + Row{"2692 str:seat-2", "2693 str:PUB-2", "2696 str:FDE", "2700 bool:0"}};
    for (const auto& [content, expected] :
         {std::pair{licenses, rows}, std::pair{std::string(), std::vector<Row>()}}) {
        CFakeModule m;
        m.channel->Answer(Reply("<VELM><SECTION><INFORMATION><GROUP NAME=\"LICENSEINFO\">" + content +
                                "</GROUP></INFORMATION></SECTION></VELM>"));
        QueryTasks(m)[License]->Execute(boost::make_shared<CQUILRequest>(1));

        const auto log = m.publisher->At<CMultiProductStatusLog>(0, 10348);
        EXPECT_NO_THROW(log->Validate());
        EXPECT_EQ(Row{"2750 int:29"}, Symbols(*log->GetProductIdentifier()));
        EXPECT_EQ(expected, Rows(*log));
    }
}

TEST(QueryTasks, TaskStatusFetchesResultsUntilNoneIsLeftAndKeepsThemAfterAFailure) {
    const auto event = [](const std::string& severity, const std::string& code, const std::string& state) {
        return Row{"2836 int:" + severity,
                   "2834 uuid:" + Instance,
                   "2838 time:now",
                   "2842 uuid:11111111-1111-1111-1111-111111111111",
                   "2846 uuid:33333333-3333-3333-3333-333333333333",
                   "2844 uuid:22222222-2222-2222-2222-222222222222",
                   "2848 res:" + code,
                   "2853 res:71000000000081b",
                   "2850 int:" + state};
    };
    const std::vector<Row> events = {event("1", "10000000a", "20"), event("1", "10000000b", "30"),
                                     event("4", "10000000c", "40") + Row{"2913 str:Task failed"}};

    for (const bool productFails : {false, true}) {
        SCOPED_TRACE(productFails);
        CFakeModule m;
        for (uint32_t result : {0u, 1u, 5u}) {
            m.channel->Answer(TaskResultReply(result, Ids));
        }
        productFails ? m.channel->Fail(CErrorReplyChannelException("Send request failed", 1))
                     : m.channel->Answer(Reply(""));
        EXPECT_EQ(productFails ? "retry: Send request failed" : "ok",
                  Outcome([&] { QueryTasks(m)[TaskStatus]->Execute(boost::make_shared<CQUILRequest>(2)); }));

        EXPECT_EQ(4u, m.channel->sent.size());
        std::vector<Row> published;
        for (size_t i = 0; i < m.publisher->published.size(); ++i) {
            published.push_back(Symbols(*m.publisher->At<CEventLog>(i, 10368)->GetContainer()));
        }
        EXPECT_EQ(events, published);
    }
}

TEST(QueryTasks, TaskStatusDrainsALongQueueWithoutGrowingTheStack) {
    CFakeModule m;
    const Bytes result = TaskResultReply(1, Ids);
    m.channel->script.assign(20000, [&result] { return result; });
    m.channel->Answer(Reply(""));
    QueryTasks(m)[TaskStatus]->Execute(boost::make_shared<CQUILRequest>(2));
    EXPECT_EQ(20000u, m.publisher->published.size());
}

TEST(QueryTasks, EveryFailureBecomesACountedRetryAndPublishesNothing) {
    const struct {
        int task;
        Bytes reply;
        std::string outcome;
    } cases[] = {
        {Status, Reply(StatusReply(Record("3", "1"))), "retry: Unknown protection status"},
        {License, Reply("<VELM/>", 4096), "retry: PixlinkChannelBuffer: Buffer is not full enough"},
        {TaskStatus, TaskResultReply(0, "a;b"),
         "retry: Task log: Log record has badly formated uuids in user data"},
        {StorageStatus, Reply("<VELM/>"), "retry: No such node (VELM.SECTION.STATUS)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        CFakeModule m;
        m.channel->Answer(c.reply);
        const MessagePtr request = boost::make_shared<CQUILRequest>(c.task == StorageStatus ? 0 : c.task);
        EXPECT_EQ(c.outcome, Outcome([&] { QueryTasks(m)[c.task]->Execute(request); }));
        EXPECT_TRUE(m.publisher->published.empty());
    }
}
