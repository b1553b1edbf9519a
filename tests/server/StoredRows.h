#pragma once

#include <cstdint>
#include <string>

#include "server/api/link.pb.h"

namespace Zun {
namespace Testing {

// A row as an agent's link sends it: a status log of the type with empty content, described by its
// sequence.
inline quil::link::v1::StoredRow StoredStatusRow(int64_t sequence, uint32_t type, const std::string& time) {
    quil::link::v1::StoredRow row;
    row.set_sequence(sequence);
    row.set_time(time);
    row.set_type(type);
    row.set_class_name("CStatusLog");
    row.set_description("row " + std::to_string(sequence));
    row.set_user_context("test");
    row.set_content("{\"rows\":[]}");
    return row;
}

}  // namespace Testing
}  // namespace Zun
