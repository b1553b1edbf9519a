// A typical 20-symbol row: CSymbolContainer::Serialize against building and serializing the same
// LogSymbolContainer directly, and the packed format's round trip against the protobuf one.

#include <string>

#include "bench/BenchCommon.h"
#include "host/proto/Logs.pb.h"
#include "logs/CSymbolContainer.h"

namespace {

using Zun::Common::DataDefinition::Common::MultiDataType;
using Zun::Common::DataDefinition::Common::UTCTime;
using Zun::Common::DataDefinition::Logs::LogSymbolContainer;
using Zun::Common::Logs::CSymbolContainer;

// The values of one licence-like row: text, numbers, resource ids, times, a flag and a UUID.
struct RowValues {
    const char* strings[8] = {"SEAT-0001", "LICENCE-0001", "VELM Full Disk Encryption",
                              "desk-0001", "Subscription", "Seat",
                              "Active",    "C:\\"};
    int64_t ints[4] = {29, 365, 0, 1};
    int64_t resIds[3] = {0x12000001, 0x120000FD, 0x071000000000081C};
    UTCTime times[2];
    bool flag = true;
    double share = 0.75;
    const char* uuid = "6f1c2d3e-4a5b-4c6d-8e7f-9a0b1c2d3e4f";

    RowValues() {
        for (UTCTime& time : times) {
            time.set_year(2027);
            time.set_month(1);
            time.set_day(1);
            time.set_hour(12);
            time.set_minute(30);
            time.set_second(15);
        }
    }
};
const RowValues kRow;

CSymbolContainer MakeContainer() {
    CSymbolContainer row;
    int32_t id = 1;
    for (const char* text : kRow.strings) {
        row.AddString(id++, text);
    }
    for (const int64_t value : kRow.ints) {
        row.AddInt(id++, value);
    }
    for (const int64_t value : kRow.resIds) {
        row.AddResId(id++, value);
    }
    for (const UTCTime& time : kRow.times) {
        row.AddTimeDate(id++, time);
    }
    row.AddBool(id++, kRow.flag);
    row.AddDouble(id++, kRow.share);
    row.AddUuid(id++, std::string(kRow.uuid));
    return row;
}

MultiDataType* AddSymbol(LogSymbolContainer& message, int32_t& id) {
    auto* symbol = message.add_symbols();
    symbol->set_symbol_type(id++);
    return symbol->mutable_symbol_data();
}

// What Serialize produces, written straight into the protobuf message.
std::string SerializeDirectly() {
    LogSymbolContainer message;
    int32_t id = 1;
    for (const char* text : kRow.strings) {
        AddSymbol(message, id)->add_val_string(text);
    }
    for (const int64_t value : kRow.ints) {
        AddSymbol(message, id)->add_val_int(value);
    }
    for (const int64_t value : kRow.resIds) {
        AddSymbol(message, id)->add_val_res_id(value);
    }
    for (const UTCTime& time : kRow.times) {
        *AddSymbol(message, id)->add_val_time_date() = time;
    }
    AddSymbol(message, id)->add_val_bool(kRow.flag);
    AddSymbol(message, id)->add_val_double(kRow.share);
    AddSymbol(message, id)->add_val_uuid()->set_uuid(kRow.uuid);
    return message.SerializeAsString();
}

void BM_Serialize(benchmark::State& state) {
    const CSymbolContainer row = MakeContainer();
    std::string bytes;
    for (auto _ : state) {
        row.Serialize(bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

void BM_DirectProtobuf(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(SerializeDirectly());
    }
}

void BM_PackedRoundTrip(benchmark::State& state) {
    const CSymbolContainer row = MakeContainer();
    for (auto _ : state) {
        const std::string packed = row.SerializePacked(row.GetPackedSize());
        CSymbolContainer copy;
        copy.DeserializePacked(packed);
        benchmark::DoNotOptimize(copy.GetCount());
    }
}

void BM_ProtobufRoundTrip(benchmark::State& state) {
    const CSymbolContainer row = MakeContainer();
    std::string bytes;
    for (auto _ : state) {
        row.Serialize(bytes);
        CSymbolContainer copy;
        copy.Deserialize(bytes);
        benchmark::DoNotOptimize(copy.GetCount());
    }
}

BENCHMARK(BM_Serialize);
BENCHMARK(BM_DirectProtobuf);
BENCHMARK(BM_PackedRoundTrip);
BENCHMARK(BM_ProtobufRoundTrip);

// The packed round trip must give back the row it was given, or its time means nothing.
bool PackedRoundTripHolds() {
    const CSymbolContainer row = MakeContainer();
    CSymbolContainer copy;
    copy.DeserializePacked(row.SerializePacked(row.GetPackedSize()));
    return copy.Equals(row);
}

void WriteRows(const QuilBench::CTimesReporter& times) {
    QuilBench::WriteRatioRow(
        "Symbols: Serialize of a 20-symbol row vs the same LogSymbolContainer built directly",
        times.Nanoseconds("BM_Serialize"), times.Nanoseconds("BM_DirectProtobuf"), 1.5);
    const double packed = times.Nanoseconds("BM_PackedRoundTrip");
    const double protobuf = times.Nanoseconds("BM_ProtobufRoundTrip");
    QuilBench::WriteRow("Symbols: packed round trip of the row vs its protobuf round trip",
                        QuilBench::FormatDuration(packed), QuilBench::FormatDuration(protobuf),
                        QuilBench::FormatNumber(packed / protobuf, 2) + "×", "none (figure)",
                        PackedRoundTripHolds() ? "row comes back equal" : "**row changed**");
}

}  // namespace

int main(int argc, char** argv) {
    QuilBench::CTimesReporter times;
    QuilBench::RunBenchmarks(argc, argv, times);
    WriteRows(times);
    return 0;
}
