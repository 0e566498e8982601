#include "host/framework/PropertySet.h"

#include <pugixml.hpp>

#include <sstream>

#include "host/platform/Locale.h"

namespace host {

Variant PropertySet::GetProperty(const std::string& name) const {
    for (auto& [k, v] : items_)
        if (k == name) return v;
    return {};
}

bool PropertySet::HasProperty(const std::string& name) const {
    for (auto& [k, v] : items_)
        if (k == name) return true;
    return false;
}

void PropertySet::SetProperty(const std::string& name, Variant value) {
    for (auto& [k, v] : items_)
        if (k == name) {
            v = std::move(value);
            return;
        }
    items_.emplace_back(name, std::move(value));
}

void PropertySet::RemoveProperty(const std::string& name) {
    for (auto it = items_.begin(); it != items_.end(); ++it)
        if (it->first == name) {
            items_.erase(it);
            return;
        }
}

void PropertySet::GetAllProperties(std::vector<std::string>& names, std::vector<Variant>& values) const {
    names.clear();
    values.clear();
    for (auto& [k, v] : items_) {
        names.push_back(k);
        values.push_back(v);
    }
}

std::string PropertySet::ToXml() const {
    pugi::xml_document doc;
    auto root = doc.append_child("PropertySet");
    for (auto& [k, v] : items_) {
        if (v.IsObject()) continue;  // objects live only in memory
        auto p = root.append_child("Property");
        p.append_attribute("name") = k.c_str();
        const char* type = v.IsBool() ? "Boolean" : v.IsNumber() ? "Double" : "String";
        p.append_attribute("type") = type;
        std::string text = v.IsNumber() ? platform::FormatCNumber(v.ToDouble()) : v.ToString();
        p.append_attribute("value") = text.c_str();
    }
    std::ostringstream out;
    doc.save(out, "  ");
    return out.str();
}

void PropertySet::FromXml(const std::string& xml) {
    pugi::xml_document doc;
    if (!doc.load_string(xml.c_str())) Raise(kErrInvalidCall, "The stored properties are not readable");
    items_.clear();
    for (auto p : doc.child("PropertySet").children("Property")) {
        std::string type = p.attribute("type").as_string();
        if (type == "Boolean") SetProperty(p.attribute("name").as_string(), std::string(p.attribute("value").as_string()) == "True");
        else if (type == "Double") SetProperty(p.attribute("name").as_string(), platform::ParseCNumber(p.attribute("value").as_string()).value_or(0));
        else SetProperty(p.attribute("name").as_string(), std::string(p.attribute("value").as_string()));
    }
}

}  // namespace host
