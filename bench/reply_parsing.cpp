// Reply documents of 10, 1,000 and 100,000 records: the module's parsers against a bare
// boost::property_tree::read_xml of the same bytes, and the time per record across the sizes.

#include <algorithm>
#include <boost/iostreams/device/array.hpp>
#include <boost/iostreams/stream.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include "bench/BenchCommon.h"
#include "messages/pixlink/CPixlinkMessageFactory.h"
#include "tools/product/CReplyBuilder.h"

namespace {

using namespace Zun;
using Connectors::Common::IChannelMessageFactory;
using Connectors::Common::Pixlink::Messages::CPixlinkMessageFactory;
using Tools::Product::CReplyBuilder;

const int kSizes[] = {10, 1000, 100000};

struct ReplyKind {
    const char* name;
    const char* records;
    std::function<std::string(int)> document;
    std::function<IChannelMessageFactory::MessagePtr(const IChannelMessageFactory&)> create;
};

std::string Numbered(const char* prefix, int i) {
    return prefix + std::to_string(i);
}

std::string LicenceDocument(int count) {
    std::vector<Tools::Product::LicenceEntry> entries(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Tools::Product::LicenceEntry& entry = entries[static_cast<std::size_t>(i)];
        entry.AssociatedSeatId = Numbered("SEAT-", i);
        entry.LicensePublicId = Numbered("LICENCE-", i);
        entry.LicenseProductName = "VELM Full Disk Encryption";
        entry.LicenseExpirationDate = 1893456000;
        entry.ActivatedByZun = i % 2 == 0;
        entry.ProductCode = 29;
        entry.SeatName = Numbered("desk-", i);
        entry.LicenseRenewalPeriod = 365;
        entry.LicenseType = "Subscription";
        entry.LicenseFlags = 0;
        entry.LicenseModelType = "Seat";
        entry.LicenseModelStatus = "Active";
    }
    return CReplyBuilder::LicenceDocument(entries);
}

std::string StatusDocument(int count) {
    std::vector<Tools::Product::StatusEntry> entries(static_cast<std::size_t>(count));
    for (Tools::Product::StatusEntry& entry : entries) {
        entry.CategoryResId = 0x12000001;
        entry.StatusResId = 0x120000FD;
        entry.DescriptionResId = 0x1;
    }
    return CReplyBuilder::StatusDocument(entries);
}

// Half recovery passwords, half recovery data blocks.
std::string RecoveryDocument(int count) {
    std::vector<Tools::Product::RecoveryPasswordEntry> passwords;
    std::vector<Tools::Product::RecoveryDataEntry> data;
    for (int i = 0; i < count; ++i) {
        if (i % 2 == 0) {
            passwords.push_back({Numbered("rp-", i), "disk-0", "0", "123456-654321-112233-445566"});
        } else {
            data.push_back({Numbered("rd-", i), "disk-0", std::string(32, static_cast<char>(i))});
        }
    }
    return CReplyBuilder::RecoveryDocument(passwords, data);
}

const ReplyKind kKinds[] = {
    {"licence", "licence", LicenceDocument,
     [](const IChannelMessageFactory& f) { return f.CreateGetLicenseResponse(); }},
    {"status", "status record", StatusDocument,
     [](const IChannelMessageFactory& f) { return f.CreateGetStatusResponse(); }},
    {"recovery", "recovery item", RecoveryDocument,
     [](const IChannelMessageFactory& f) { return f.CreateGetEncryptionRecoveryDataResponse(); }},
};

struct Reply {
    std::string document;
    std::vector<uint8_t> payload;
};

std::string Key(const ReplyKind& kind, int count) {
    return std::string(kind.name) + "/" + std::to_string(count);
}

// Documents are built once, on first use, and shared by the parser and the bare reader.
const Reply& ReplyFor(const ReplyKind& kind, int count) {
    static std::map<std::string, Reply> replies;
    Reply& reply = replies[Key(kind, count)];
    if (reply.document.empty()) {
        reply.document = kind.document(count);
        reply.payload = CReplyBuilder::Payload(0, reply.document);
    }
    return reply;
}

void BM_Parse(benchmark::State& state, const ReplyKind* kind, int count) {
    const Reply& reply = ReplyFor(*kind, count);
    const CPixlinkMessageFactory factory;
    for (auto _ : state) {
        const IChannelMessageFactory::MessagePtr response = kind->create(factory);
        response->Deserialize(reply.payload);
        benchmark::DoNotOptimize(response.get());
    }
    state.counters["bytes"] = static_cast<double>(reply.document.size());
}

void BM_ReadXml(benchmark::State& state, const ReplyKind* kind, int count) {
    const Reply& reply = ReplyFor(*kind, count);
    for (auto _ : state) {
        boost::iostreams::stream<boost::iostreams::array_source> stream(reply.document.data(),
                                                                        reply.document.size());
        boost::property_tree::ptree tree;
        boost::property_tree::read_xml(stream, tree);
        benchmark::DoNotOptimize(tree.size());
    }
}

void Register() {
    for (const ReplyKind& kind : kKinds) {
        for (const int count : kSizes) {
            benchmark::RegisterBenchmark(("BM_Parse/" + Key(kind, count)).c_str(), BM_Parse, &kind, count);
            benchmark::RegisterBenchmark(("BM_ReadXml/" + Key(kind, count)).c_str(), BM_ReadXml, &kind,
                                         count);
        }
    }
}

std::string CountText(int count) {
    return count == 100000 ? "100,000" : count == 1000 ? "1,000" : std::to_string(count);
}

// Per-record time at every size; the spread is the largest over the smallest.
void WriteLinearityRow(const ReplyKind& kind, const QuilBench::CTimesReporter& times) {
    double low = std::numeric_limits<double>::infinity();
    double high = 0;
    std::string figures;
    for (const int count : kSizes) {
        const double perRecord = times.Nanoseconds("BM_Parse/" + Key(kind, count)) / count;
        low = std::min(low, perRecord);
        high = std::max(high, perRecord);
        figures += (figures.empty() ? "" : " / ") + QuilBench::FormatDuration(perRecord);
    }
    const double spread = high / low;
    QuilBench::WriteRow(
        std::string("Replies, ") + kind.name + ": time per " + kind.records + " at 10 / 1,000 / 100,000",
        figures, "its fastest size", QuilBench::FormatNumber(spread, 2) + "×", "≤ 1.5×",
        std::isnan(spread) ? "not measured" : QuilBench::Verdict(spread <= 1.5));
}

void WriteRows(const QuilBench::CTimesReporter& times) {
    for (const ReplyKind& kind : kKinds) {
        for (const int count : kSizes) {
            QuilBench::WriteRatioRow(
                std::string("Replies, ") + kind.name + ": parse " + CountText(count) + " vs bare read_xml",
                times.Nanoseconds("BM_Parse/" + Key(kind, count)),
                times.Nanoseconds("BM_ReadXml/" + Key(kind, count)), 1.2);
        }
        WriteLinearityRow(kind, times);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Register();
    QuilBench::CTimesReporter times;
    QuilBench::RunBenchmarks(argc, argv, times);
    WriteRows(times);
    return 0;
}
