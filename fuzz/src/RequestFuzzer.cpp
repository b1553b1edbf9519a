// quil-product's side of a hostile module: any request payload goes through the parser and, when it
// parses, through the product itself. The product catches CBadRequest only, so any other exception
// leaving either would end its serving thread and is reported as a crash.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/product/CProduct.h"
#include "tools/product/CProductLog.h"
#include "tools/product/CProductState.h"
#include "tools/product/CRequestParser.h"
#include "tools/product/CSilentBroadcastArea.h"

using namespace Zun::Tools::Product;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CProductLog::SetEnabled(false);
    const std::vector<std::uint8_t> payload(data, data + size);
    try {
        CRequestParser::Parse(payload);
    } catch (const CBadRequest&) {
    }
    // A fresh state per input, so that one input's tasks and recovery data never shape the next.
    CSilentBroadcastArea area;
    CProduct product(CProductState::Default(), area);
    product.Handle(payload);
    return 0;
}
