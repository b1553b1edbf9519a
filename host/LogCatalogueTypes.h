#pragma once

namespace Zun {
namespace Common {
namespace Logs {

// Data type of a catalogued symbol; each names the MultiDataType field that carries it.
enum SymbolDataType {
    SDT_BOOL = 0,
    SDT_INT = 1,
    SDT_DOUBLE = 2,
    SDT_RES_ID = 3,
    SDT_STRING = 4,
    SDT_TIME_DATE = 5,
    SDT_UUID = 6,
    SDT_BLOB = 7,
};

enum Tags {
    TAG_MANDATORY = 6,
    TAG_PRODUCT_KEY = 15,
};

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
