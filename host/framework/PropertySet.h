// A property set: named values in the order they were first set. Names are
// compared exactly; setting a name again replaces its value in place.
// Analyses keep theirs as XML, which holds booleans, numbers (to full
// precision) and text; objects live in memory only and are not written.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/Object.h"

namespace host {

class PropertySet : public Object {
public:
    std::string TypeName() const override { return "PropertySet"; }
    long Count() const { return static_cast<long>(items_.size()); }
    // Empty when the name is missing. Names are compared exactly.
    Variant GetProperty(const std::string& name) const;
    bool HasProperty(const std::string& name) const;
    void SetProperty(const std::string& name, Variant value);
    void RemoveProperty(const std::string& name);
    void GetAllProperties(std::vector<std::string>& names, std::vector<Variant>& values) const;
    // Stored as XML (analysis folders keep their properties this way).
    std::string ToXml() const;
    void FromXml(const std::string& xml);

private:
    std::vector<std::pair<std::string, Variant>> items_;
};
using PropertySetPtr = std::shared_ptr<PropertySet>;

}  // namespace host
