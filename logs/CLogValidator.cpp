#include "logs/CLogValidator.h"

#include <stdexcept>

namespace Zun {
namespace Common {
namespace Logs {

namespace {

// Number of elements in the MultiDataType field that a catalogue data type names; -1 for none.
int FieldSize(const DataDefinition::Common::MultiDataType& value, int dataType) {
    switch (dataType) {
        case SDT_BOOL: return value.val_bool_size();
        case SDT_INT: return value.val_int_size();
        case SDT_DOUBLE: return value.val_double_size();
        case SDT_RES_ID: return value.val_res_id_size();
        case SDT_STRING: return value.val_string_size();
        case SDT_TIME_DATE: return value.val_time_date_size();
        case SDT_UUID: return value.val_uuid_size();
        case SDT_BLOB: return value.val_blob_size();
        default: return -1;
    }
}

std::string Quoted(int id) { return "'" + std::to_string(id) + "'"; }

}  // namespace

void CLogValidator::Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error(where + "]: " + what);
}

std::set<int> CLogValidator::CheckRepeats(const ISymbolContainer& container, const std::string& where) const {
    std::set<int> seen;
    for (size_t i = 0; i < container.GetCount(); ++i) {
        const int id = container.GetSymbolIdAt(i);
        if (!seen.insert(id).second) {
            Fail(where, "Symbol " + Quoted(id) + " cannot be repeated (multiple value error)");
        }
    }
    return seen;
}

void CLogValidator::CheckMandatory(const std::set<int>& seen, const CLogDescriptor::SymbolList& mandatory,
                                   const std::string& where) const {
    for (const CLogDescriptor::SymbolPtr& symbol : mandatory) {
        if (seen.count(IdOf(*symbol)) == 0) {
            Fail(where, "Container is missing symbol " + Quoted(IdOf(*symbol)) + " (symbol is mandatory)");
        }
    }
}

void CLogValidator::CheckDataTypes(const ISymbolContainer& container, const std::string& where) const {
    for (const CLogDescriptor::SymbolPtr& symbol : m_symbols) {
        const int id = IdOf(*symbol);
        if (!container.HasSymbol(id)) {
            continue;
        }
        const DataDefinition::Common::MultiDataType value = container.GetSymbol(id);
        if (FieldSize(value, symbol->GetDataType()) != 1) {
            Fail(where, "Unexpected symbol " + Quoted(id) + " datatype");
        }
        if (symbol->GetDataType() == SDT_UUID && value.val_uuid(0).uuid().size() != 36) {
            Fail(m_prefix, "Symbol value '" + value.val_uuid(0).uuid() + "' has unexpected length (expected: 36)");
        }
    }
}

void CLogValidator::CheckSuperfluous(const std::set<int>& seen, const std::string& where) const {
    std::set<int> allowed;
    for (const CLogDescriptor::SymbolPtr& symbol : m_symbols) {
        allowed.insert(IdOf(*symbol));
    }
    for (int id : seen) {
        if (allowed.count(id) == 0) {
            Fail(where, "Unexpected symbol " + Quoted(id) + " (superfluous symbol value)");
        }
    }
}

}  // namespace Logs
}  // namespace Common
}  // namespace Zun
