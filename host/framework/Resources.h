// The resource-string libraries: "PXCPRes.clsFindResource" (texts) and
// "PXCPGuiRes.clsFindResource" (layout numbers in twips), both reached by
// FindString with a decimal id.
#pragma once

#include <map>
#include <string>

#include "host/Object.h"

namespace host {

class ResourceLibrary : public Object {
public:
    explicit ResourceLibrary(const std::map<int, std::string>* table, std::string name)
        : table_(table), name_(std::move(name)) {}
    std::string TypeName() const override { return name_; }
    // Raises 326 for an id the library does not hold.
    std::string FindString(const std::string& id) const;
    std::string FindString(int id) const;
    bool Has(int id) const { return table_->count(id) > 0; }
    Variant Invoke(const std::string& member, std::vector<Variant>& args) override;

private:
    const std::map<int, std::string>* table_;
    std::string name_;
};
using ResourceLibraryPtr = std::shared_ptr<ResourceLibrary>;

const std::map<int, std::string>& TextResources();
const std::map<int, std::string>& LayoutResources();

}  // namespace host
