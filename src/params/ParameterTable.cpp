// The parameter table, made from the one list in cihear/parameter_list.h: the command line's
// options, the parameter set's defaults and bounds, the strict validation and every front end's
// keywords and documentation read it.
#include <cihear/cihear.h>

#include <cstring>

namespace cihear {

const std::vector<ParameterInfo>& ParameterTable() {
    static const std::vector<ParameterInfo> table = {CIHEAR_PARAMETERS(CIHEAR_TABLE_ENTRY)};
    return table;
}

const ParameterInfo* FindParameter(const std::string& name) {
    for (const ParameterInfo& info : ParameterTable()) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

}  // namespace cihear
