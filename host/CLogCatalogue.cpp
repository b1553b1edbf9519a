#include "host/CLogCatalogue.h"

namespace Zun {
namespace Common {
namespace Logs {

namespace {

using namespace DataDefinition::Logs;

// Flags of a row, for readability of the table below.
constexpr bool M = true;   // mandatory: every publisher of the log sets it
constexpr bool O = false;  // optional
constexpr bool K = true;   // product key of a multi-product log
constexpr bool _ = false;

// Status logs have their status type first, then event and delta; event logs are published under
// their event type, with the status and delta types just below it.
const std::vector<CLogCatalogue::Log> kLogs = {
    {ProtectionStatusEvent, ProtectionStatus, 10044, 10045, 10046, false,
     {
         {241, "Protection level", SDT_INT, M, _, 0},
         {235, "Agent instance", SDT_UUID, M, _, 0},
         {242, "Reported at", SDT_TIME_DATE, M, _, 0},
         {244, "Product code", SDT_INT, M, _, 0},
         {245, "Product", SDT_RES_ID, M, _, 0},
         {246, "Status category", SDT_RES_ID, M, _, 0},
         {247, "Status text", SDT_RES_ID, M, _, 0},
         {248, "Status", SDT_RES_ID, M, _, 0},
         {4298, "Status description", SDT_RES_ID, O, _, 0},
     }},
    {ConnectorStatusEvent, ConnectorStatus, 10292, 10293, 10294, false,
     {
         {2143, "Connector state", SDT_INT, M, _, 0},
         {2141, "Agent instance", SDT_UUID, M, _, 0},
         {2144, "Reported at", SDT_TIME_DATE, M, _, 0},
         {2146, "Connector kind", SDT_INT, M, _, 0},
         {2147, "Connector capabilities", SDT_INT, M, _, 0},
     }},
    {EncryptionStorageStatusEvent, EncryptionStorageStatus, 10553, 10554, 10555, false,
     {
         {4672, "Storage status level", SDT_INT, M, _, 0},
         {4670, "Agent instance", SDT_UUID, M, _, 0},
         {4673, "Reported at", SDT_TIME_DATE, M, _, 0},
     }},
    {ProductLicenseEvent, ProductLicense, 10348, 10349, 10350, true,
     {
         {2689, "Licence state", SDT_INT, M, _, 0},
         {2687, "Agent instance", SDT_UUID, M, _, 0},
         {2690, "Reported at", SDT_TIME_DATE, M, _, 0},
         {2750, "Product code", SDT_INT, M, K, 0},
         {2692, "Seat id", SDT_STRING, M, _, 256},
         {2693, "Licence public id", SDT_STRING, M, _, 128},
         {2696, "Licensed product", SDT_STRING, M, _, 256},
         {2700, "Activated by licence", SDT_BOOL, M, _, 0},
         {2698, "Licence expires", SDT_TIME_DATE, O, _, 0},
         {4304, "Licensed product code", SDT_INT, O, _, 0},
         {4305, "Seat name", SDT_STRING, O, _, 256},
         {4306, "Renewal period", SDT_INT, O, _, 0},
         {4307, "Licence type", SDT_STRING, O, _, 64},
         {4308, "Licence flags", SDT_INT, O, _, 0},
         {4309, "Licence model type", SDT_STRING, O, _, 64},
         {4310, "Licence model status", SDT_STRING, O, _, 64},
     }},
    {ProductStatusEvent, ProductStatus, 10405, 10406, 10407, true,
     {
         {3560, "Product name", SDT_STRING, M, _, 256},
         {3554, "Product state", SDT_INT, M, _, 0},
         {3552, "Agent instance", SDT_UUID, M, _, 0},
         {3555, "Reported at", SDT_TIME_DATE, M, _, 0},
         {3559, "Product code", SDT_INT, M, _, 0},
         {4429, "Product", SDT_RES_ID, M, K, 0},
     }},
    {TaskResult, TaskResultDelta, 10366, 10368, 10367, false,
     {
         {2836, "Severity", SDT_INT, M, _, 0},
         {2834, "Agent instance", SDT_UUID, M, _, 0},
         {2838, "Reported at", SDT_TIME_DATE, M, _, 0},
         {2842, "Task", SDT_UUID, M, _, 0},
         {2846, "Task run", SDT_UUID, M, _, 0},
         {2844, "Task definition", SDT_UUID, M, _, 0},
         {2848, "Result code", SDT_RES_ID, M, _, 0},
         {2853, "Product", SDT_RES_ID, M, _, 0},
         {2850, "Task state", SDT_INT, M, _, 0},
         {2913, "Result text", SDT_STRING, O, _, 1024},
     }},
    {ExportedConfiguration, ExportedConfigurationDelta, 10242, 10244, 10243, false,
     {
         {1888, "Export state", SDT_INT, M, _, 0},
         {1886, "Agent instance", SDT_UUID, M, _, 0},
         {1889, "Exported at", SDT_TIME_DATE, M, _, 0},
         {1891, "Product", SDT_RES_ID, M, _, 0},
         {1892, "Configuration", SDT_BLOB, M, _, 0},
     }},
};

}  // namespace

const std::vector<CLogCatalogue::Log>& CLogCatalogue::Logs() { return kLogs; }

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
