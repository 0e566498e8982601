// Object model of the host: reference-counted objects, the Variant that
// carries values between late-bound callers, keyed collections, run-time
// errors and creation of classes by ProgID.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace host {

class Object;
using ObjectPtr = std::shared_ptr<Object>;
class Variant;

// A run-time error as the host reports it: number, source and description.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(long number, std::string source, const std::string& description)
        : std::runtime_error(description), number_(number), source_(std::move(source)) {}
    long Number() const { return number_; }
    const std::string& Source() const { return source_; }
    std::string Description() const { return what(); }

private:
    long number_;
    std::string source_;
};

// Frequently raised error numbers.
enum ErrorNumber : long {
    kErrInvalidCall = 5,
    kErrSubscript = 9,
    kErrTypeMismatch = 13,
    kErrFileNotFound = 53,
    kErrPathNotFound = 76,
    kErrObjectNotSet = 91,
    kErrObjectRequired = 424,
    kErrCannotCreate = 429,
    kErrNoSuchMember = 438,
};

[[noreturn]] void Raise(long number, const std::string& description, const std::string& source = "PXHost");

// Base of every object of the host and of the library.
class Object : public std::enable_shared_from_this<Object> {
public:
    virtual ~Object() = default;
    // Name of the class as scripts and error messages see it.
    virtual std::string TypeName() const { return "Object"; }
    // Late-bound call by member name; the default knows no member.
    virtual Variant Invoke(const std::string& member, std::vector<Variant>& args);
};

// The value carrier of late-bound calls.
class Variant {
public:
    using Value = std::variant<std::monostate, bool, int16_t, int32_t, double, std::string, ObjectPtr>;

    Variant() = default;
    Variant(bool v) : v_(v) {}
    Variant(int16_t v) : v_(v) {}
    Variant(int32_t v) : v_(v) {}
    Variant(long v) : v_(static_cast<int32_t>(v)) {}
    Variant(double v) : v_(v) {}
    Variant(const char* v) : v_(std::string(v)) {}
    Variant(std::string v) : v_(std::move(v)) {}
    template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
    Variant(std::shared_ptr<T> p) : v_(ObjectPtr(std::move(p))) {}
    Variant(std::nullptr_t) : v_(ObjectPtr()) {}

    bool IsEmpty() const { return std::holds_alternative<std::monostate>(v_); }
    bool IsObject() const { return std::holds_alternative<ObjectPtr>(v_); }
    bool IsNothing() const { return IsObject() && !std::get<ObjectPtr>(v_); }
    bool IsString() const { return std::holds_alternative<std::string>(v_); }
    bool IsNumber() const;
    bool IsBool() const { return std::holds_alternative<bool>(v_); }

    // Conversions in the manner of the host's scripting: numbers from text,
    // "True"/"False" for Booleans, type mismatch (13) when impossible.
    bool ToBool() const;
    long ToLong() const;
    double ToDouble() const;
    std::string ToString() const;
    ObjectPtr ToObject() const;
    template <class T>
    std::shared_ptr<T> As() const { return std::dynamic_pointer_cast<T>(ToObject()); }
    // Stores the held object into a member: null for a value that is no object.
    template <class T>
    void AssignTo(std::shared_ptr<T>& member) const { member = IsObject() ? As<T>() : nullptr; }

    const Value& Raw() const { return v_; }

private:
    Value v_;
};

// Ordered collection of values with optional case-insensitive text keys;
// items are addressed by key or by 1-based position.
class Collection : public Object {
public:
    std::string TypeName() const override { return "Collection"; }
    long Count() const { return static_cast<long>(items_.size()); }
    // Adds at the end, or before/after the item of the given key.
    void Add(Variant value, const std::string& key = "", const std::string& before = "",
             const std::string& after = "");
    void Remove(const std::string& key);
    void RemoveAt(long index1);
    const Variant& Item(const std::string& key) const;
    const Variant& Item(long index1) const;
    bool Contains(const std::string& key) const { return Find(key) >= 0; }
    const std::string& KeyAt(long index1) const;
    void Clear() {
        items_.clear();
        index_.clear();
    }
    // Replaces the value of a key in place (remove, then add next to its neighbour).
    void Replace(const std::string& key, Variant value);

private:
    long Find(const std::string& key) const;
    // Positions by case-folded key. Adding at the end keeps it current;
    // inserting or removing elsewhere shifts positions, so it is then
    // rebuilt at the next search.
    void Reindex() const;
    std::vector<std::pair<std::string, Variant>> items_;
    mutable std::unordered_map<std::string, size_t> index_;
    mutable bool stale_ = false;
};
using CollectionPtr = std::shared_ptr<Collection>;

// A list of strings (the host's string list and "collection of String").
class StringList : public Object {
public:
    StringList() = default;
    explicit StringList(std::vector<std::string> items) : items_(std::move(items)) {}
    std::string TypeName() const override { return "StringList"; }
    long Count() const { return static_cast<long>(items_.size()); }
    const std::string& Item(long index0) const;
    void Add(std::string s) { items_.push_back(std::move(s)); }
    const std::vector<std::string>& Items() const { return items_; }

private:
    std::vector<std::string> items_;
};
using StringListPtr = std::shared_ptr<StringList>;

// Creation of classes by ProgID.
class ObjectFactory {
public:
    using Creator = std::function<ObjectPtr()>;
    static ObjectFactory& Instance();
    void Register(const std::string& progId, Creator creator);
    bool IsRegistered(const std::string& progId) const;
    ObjectPtr Create(const std::string& progId) const;

private:
    std::map<std::string, Creator> creators_;
};

// CreateObject(progId): raises 429 when the class is not registered.
ObjectPtr CreateObject(const std::string& progId);
template <class T>
std::shared_ptr<T> CreateObjectAs(const std::string& progId) {
    auto p = std::dynamic_pointer_cast<T>(CreateObject(progId));
    if (!p) Raise(kErrTypeMismatch, "Class " + progId + " does not offer the requested interface");
    return p;
}

// Text helpers shared by host and library.
std::string UCase(std::string s);
std::string LCase(std::string s);
bool IEquals(const std::string& a, const std::string& b);
bool IContains(const std::string& haystack, const std::string& needle);
std::string Trim(const std::string& s);
std::string ReplaceAll(std::string s, const std::string& from, const std::string& to);

}  // namespace host
