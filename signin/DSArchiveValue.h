#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ns/Data.h"
#include "platform/ns/Date.h"
#include "platform/ns/Value.h"

class DSArchiveObject;

// One object of a keyed archive's graph: nothing, a number, text, bytes, a date, the null
// object, an array, a dictionary (whose keys may be any object, as the token cache's keys
// are) or an object of a named class with its keyed fields.
class DSArchiveValue {
public:
    enum class Kind : uint8_t {
        Nil,
        Bool,
        Integer,
        Real,
        String,
        Data,
        Date,
        Null,
        Array,
        Dictionary,
        Object
    };
    using Pairs = std::vector<std::pair<DSArchiveValue, DSArchiveValue>>;

    DSArchiveValue() = default;
    static DSArchiveValue boolean(bool b);
    static DSArchiveValue integer(int64_t i);
    static DSArchiveValue real(double d);
    static DSArchiveValue text(std::string s);
    static DSArchiveValue text(const std::optional<std::string>& s);
    static DSArchiveValue text(const char* s) { return text(std::string(s)); }
    static DSArchiveValue data(const std::optional<ns::Data>& d);
    static DSArchiveValue date(const std::optional<ns::Date>& d);
    static DSArchiveValue null();
    static DSArchiveValue array(std::vector<DSArchiveValue> items, bool isMutable);
    static DSArchiveValue dictionary(Pairs pairs, bool isMutable);
    static DSArchiveValue object(std::shared_ptr<const DSArchiveObject> object);
    // Property-list-like values; dictionaries and arrays become mutable ones.
    static DSArchiveValue fromValue(const ns::Value& value);

    Kind kind() const { return kind_; }
    bool isNil() const { return kind_ == Kind::Nil; }
    bool isMutable() const { return mutable_; }
    bool boolValue() const { return b_; }
    int64_t integerValue() const { return i_; }
    double realValue() const { return d_; }
    // A number of any kind as a double; nothing for other kinds.
    std::optional<double> number() const;
    const std::string* string() const { return kind_ == Kind::String ? &s_ : nullptr; }
    const ns::Data* dataValue() const { return kind_ == Kind::Data ? &data_ : nullptr; }
    std::optional<ns::Date> dateValue() const;
    const std::vector<DSArchiveValue>* arrayValue() const {
        return kind_ == Kind::Array ? &items_ : nullptr;
    }
    const Pairs* pairs() const { return kind_ == Kind::Dictionary ? &pairs_ : nullptr; }
    const DSArchiveObject* objectValue() const {
        return kind_ == Kind::Object ? object_.get() : nullptr;
    }
    const std::shared_ptr<const DSArchiveObject>& sharedObject() const { return object_; }
    // The object when it is of that class.
    const DSArchiveObject* objectOf(std::string_view className) const;
    // The value of a dictionary under a text key.
    const DSArchiveValue* member(std::string_view key) const;
    // The property-list form; nothing when something has none (objects, non-text keys).
    std::optional<ns::Value> toValue() const;

private:
    explicit DSArchiveValue(Kind kind) : kind_(kind) {}

    Kind kind_ = Kind::Nil;
    bool mutable_ = false;
    bool b_ = false;
    int64_t i_ = 0;
    double d_ = 0;
    std::string s_;
    ns::Data data_;
    std::vector<DSArchiveValue> items_;
    Pairs pairs_;
    std::shared_ptr<const DSArchiveObject> object_;
};

// An archived object of a named class: its fields under their keys, in the order written.
class DSArchiveObject {
public:
    explicit DSArchiveObject(std::string className) : className_(std::move(className)) {}

    const std::string& className() const { return className_; }
    void set(std::string key, DSArchiveValue value);
    const std::vector<std::pair<std::string, DSArchiveValue>>& fields() const { return fields_; }
    const DSArchiveValue* field(std::string_view key) const;
    std::optional<std::string> text(std::string_view key) const;
    std::optional<ns::Data> data(std::string_view key) const;
    std::optional<ns::Date> date(std::string_view key) const;
    bool boolean(std::string_view key) const;

private:
    std::string className_;
    std::vector<std::pair<std::string, DSArchiveValue>> fields_;
};
