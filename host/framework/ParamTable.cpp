#include "host/framework/ParamTable.h"

namespace host {

bool SetBoundParam(std::initializer_list<ParamBinding> table, const std::string& name, const Variant& value,
                   ParamNames match) {
    for (const auto& binding : table) {
        bool same = match == ParamNames::kAnyCase ? IEquals(binding.Name(), name) : name == binding.Name();
        if (!same) continue;
        binding.Set(value);
        return true;
    }
    return false;
}

}  // namespace host
