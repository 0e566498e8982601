#include "host/gis/Field.h"

namespace host::gis {

FieldPtr NewField(const std::string& name, FieldType type, const std::string& alias, int length, int precision,
                  int scale) {
    auto f = std::make_shared<Field>();
    f->name = name;
    f->alias = alias.empty() ? name : alias;
    f->type = type;
    f->length = length;
    f->precision = precision;
    f->scale = scale;
    return f;
}

const FieldPtr& Fields::GetField(long index) const {
    if (index < 0 || index >= FieldCount()) Raise(kErrSubscript, "Field index out of range", "PXGIS");
    return fields_[index];
}

long Fields::FindField(const std::string& name) const {
    for (size_t i = 0; i < fields_.size(); ++i)
        if (IEquals(fields_[i]->name, name)) return static_cast<long>(i);
    return -1;
}

}  // namespace host::gis
