#include "host/Object.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "host/platform/Locale.h"

namespace host {

void Raise(long number, const std::string& description, const std::string& source) {
    throw RuntimeError(number, source, description);
}

Variant Object::Invoke(const std::string& member, std::vector<Variant>&) {
    Raise(kErrNoSuchMember, "Object doesn't support this property or method: " + member);
}

bool Variant::IsNumber() const {
    return std::holds_alternative<int16_t>(v_) || std::holds_alternative<int32_t>(v_) ||
           std::holds_alternative<double>(v_);
}

bool Variant::ToBool() const {
    if (auto b = std::get_if<bool>(&v_)) return *b;
    if (IsEmpty()) return false;
    if (IsNumber()) return ToDouble() != 0.0;
    if (auto s = std::get_if<std::string>(&v_)) {
        if (IEquals(Trim(*s), "True")) return true;
        if (IEquals(Trim(*s), "False")) return false;
        if (auto d = platform::ParseLocaleNumber(*s)) return *d != 0.0;
    }
    Raise(kErrTypeMismatch, "Type mismatch");
}

double Variant::ToDouble() const {
    if (auto d = std::get_if<double>(&v_)) return *d;
    if (auto i = std::get_if<int32_t>(&v_)) return *i;
    if (auto i = std::get_if<int16_t>(&v_)) return *i;
    if (auto b = std::get_if<bool>(&v_)) return *b ? -1.0 : 0.0;
    if (IsEmpty()) return 0.0;
    if (auto s = std::get_if<std::string>(&v_)) {
        if (auto d = platform::ParseLocaleNumber(*s)) return *d;
    }
    Raise(kErrTypeMismatch, "Type mismatch");
}

long Variant::ToLong() const {
    double d = ToDouble();
    // Rounding to the nearest even value, as the host's conversions do.
    double r = std::nearbyint(d);
    if (r > 2147483647.0 || r < -2147483648.0) Raise(6, "Overflow");
    return static_cast<long>(r);
}

std::string Variant::ToString() const {
    if (auto s = std::get_if<std::string>(&v_)) return *s;
    if (IsEmpty()) return "";
    if (auto b = std::get_if<bool>(&v_)) return *b ? "True" : "False";
    if (auto i = std::get_if<int32_t>(&v_)) return std::to_string(*i);
    if (auto i = std::get_if<int16_t>(&v_)) return std::to_string(*i);
    if (auto d = std::get_if<double>(&v_)) return platform::FormatNumber(*d);
    Raise(kErrTypeMismatch, "Type mismatch");
}

ObjectPtr Variant::ToObject() const {
    if (auto o = std::get_if<ObjectPtr>(&v_)) return *o;
    Raise(kErrObjectRequired, "Object required");
}

// ---- Collection ----

void Collection::Reindex() const {
    index_.clear();
    for (size_t i = 0; i < items_.size(); ++i)
        if (!items_[i].first.empty()) index_.emplace(LCase(items_[i].first), i);
    stale_ = false;
}

long Collection::Find(const std::string& key) const {
    if (key.empty()) return -1;
    if (stale_) Reindex();
    auto it = index_.find(LCase(key));
    return it == index_.end() ? -1 : static_cast<long>(it->second);
}

void Collection::Add(Variant value, const std::string& key, const std::string& before,
                     const std::string& after) {
    if (!key.empty() && Find(key) >= 0) Raise(457, "This key is already associated with an element of this collection");
    auto pos = items_.end();
    if (!before.empty()) {
        long b = Find(before);
        if (b < 0) Raise(kErrInvalidCall, "Invalid procedure call or argument");
        pos = items_.begin() + b;
    } else if (!after.empty()) {
        long a = Find(after);
        if (a < 0) Raise(kErrInvalidCall, "Invalid procedure call or argument");
        pos = items_.begin() + a + 1;
    }
    bool atEnd = pos == items_.end();
    items_.insert(pos, {key, std::move(value)});
    if (!atEnd) stale_ = true;
    else if (!key.empty() && !stale_) index_.emplace(LCase(key), items_.size() - 1);
}

void Collection::Remove(const std::string& key) {
    long i = Find(key);
    if (i < 0) Raise(kErrInvalidCall, "Invalid procedure call or argument");
    items_.erase(items_.begin() + i);
    stale_ = true;
}

void Collection::RemoveAt(long index1) {
    if (index1 < 1 || index1 > Count()) Raise(kErrSubscript, "Subscript out of range");
    items_.erase(items_.begin() + (index1 - 1));
    stale_ = true;
}

const Variant& Collection::Item(const std::string& key) const {
    long i = Find(key);
    if (i < 0) Raise(kErrInvalidCall, "Invalid procedure call or argument: no item " + key);
    return items_[i].second;
}

const Variant& Collection::Item(long index1) const {
    if (index1 < 1 || index1 > Count()) Raise(kErrSubscript, "Subscript out of range");
    return items_[index1 - 1].second;
}

const std::string& Collection::KeyAt(long index1) const {
    if (index1 < 1 || index1 > Count()) Raise(kErrSubscript, "Subscript out of range");
    return items_[index1 - 1].first;
}

void Collection::Replace(const std::string& key, Variant value) {
    long i = Find(key);
    if (i < 0) Raise(kErrInvalidCall, "Invalid procedure call or argument: no item " + key);
    std::string k = items_[i].first;
    items_.erase(items_.begin() + i);
    items_.insert(items_.begin() + i, {k, std::move(value)});
}

const std::string& StringList::Item(long index0) const {
    if (index0 < 0 || index0 >= Count()) Raise(kErrSubscript, "Subscript out of range");
    return items_[index0];
}

// ---- ObjectFactory ----

ObjectFactory& ObjectFactory::Instance() {
    static ObjectFactory f;
    return f;
}

void ObjectFactory::Register(const std::string& progId, Creator creator) { creators_[progId] = std::move(creator); }

bool ObjectFactory::IsRegistered(const std::string& progId) const { return creators_.count(progId) > 0; }

ObjectPtr ObjectFactory::Create(const std::string& progId) const {
    auto it = creators_.find(progId);
    if (it == creators_.end()) Raise(kErrCannotCreate, "ActiveX component can't create object: " + progId);
    ObjectPtr p = it->second();
    if (!p) Raise(kErrCannotCreate, "ActiveX component can't create object: " + progId);
    return p;
}

ObjectPtr CreateObject(const std::string& progId) { return ObjectFactory::Instance().Create(progId); }

// ---- text helpers ----

std::string UCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
std::string LCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
bool IEquals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
bool IContains(const std::string& haystack, const std::string& needle) {
    return LCase(haystack).find(LCase(needle)) != std::string::npos;
}
std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}
std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
    return s;
}

}  // namespace host
