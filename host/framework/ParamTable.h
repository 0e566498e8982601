// Parameters taken by name, as tasks and functions take them through
// SetParam. A table binds each name to the member it sets; the value is
// read the way the member's type needs it: text, a flag, a number, or an
// object of the member's class (null when the value holds none or one of
// another class). Setting a name the table lacks changes nothing.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "host/Object.h"

namespace host {

inline void AssignParam(std::string& member, const Variant& value) { member = value.ToString(); }
inline void AssignParam(bool& member, const Variant& value) { member = value.ToBool(); }
inline void AssignParam(double& member, const Variant& value) { member = value.ToDouble(); }
inline void AssignParam(int16_t& member, const Variant& value) { member = static_cast<int16_t>(value.ToLong()); }
template <class T>
void AssignParam(std::shared_ptr<T>& member, const Variant& value) {
    value.AssignTo(member);
}

// One name and the member it sets.
class ParamBinding {
public:
    template <class M>
    ParamBinding(const char* name, M& member) : name_(name), member_(&member), assign_(&Assign<M>) {}
    const char* Name() const { return name_; }
    void Set(const Variant& value) const { assign_(member_, value); }

private:
    template <class M>
    static void Assign(void* member, const Variant& value) {
        AssignParam(*static_cast<M*>(member), value);
    }
    const char* name_;
    void* member_;
    void (*assign_)(void*, const Variant&);
};

enum class ParamNames { kExact, kAnyCase };

// Sets the member bound to the name; false when no binding has it.
bool SetBoundParam(std::initializer_list<ParamBinding> table, const std::string& name, const Variant& value,
                   ParamNames match = ParamNames::kExact);

}  // namespace host
