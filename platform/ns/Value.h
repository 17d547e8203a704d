#pragma once

#include <concepts>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ns/Data.h"
#include "platform/ns/Date.h"

namespace ns {

class Value;
using Array = std::vector<Value>;

// A dictionary of values keyed by UTF-8 text. Members enumerate in ascending byte order of
// their keys; every writer (JSON, property lists, descriptions) follows that order, so output
// is deterministic.
//
// The members live in one sorted block rather than one heap node each: the typical dictionary
// of this system (a page call's options, a row, a result) has a handful of members and is
// built once and read a few times, and one block makes it several times cheaper to build,
// copy and free. The interface is that of an ordered map, with one difference to keep in mind:
// adding a member moves the others, so references and iterators into a dictionary do not
// survive an insertion (removal and assignment to existing members are as usual).
class Dictionary {
public:
    using key_type = std::string;
    using mapped_type = Value;
    using value_type = std::pair<std::string, Value>;
    using size_type = size_t;
    using iterator = std::vector<value_type>::iterator;
    using const_iterator = std::vector<value_type>::const_iterator;
    using reverse_iterator = std::vector<value_type>::reverse_iterator;
    using const_reverse_iterator = std::vector<value_type>::const_reverse_iterator;

    Dictionary() noexcept = default;
    Dictionary(std::initializer_list<value_type> items);
    // Members in any order; of a repeated key the first one counts, as with insert().
    template <class It>
    Dictionary(It first, It last) {
        for (; first != last; ++first) members_.emplace_back(first->first, first->second);
        sortMembers(Repeated::KeepFirst);
    }

    iterator begin() noexcept;
    iterator end() noexcept;
    const_iterator begin() const noexcept;
    const_iterator end() const noexcept;
    const_iterator cbegin() const noexcept;
    const_iterator cend() const noexcept;
    reverse_iterator rbegin() noexcept;
    reverse_iterator rend() noexcept;
    const_reverse_iterator rbegin() const noexcept;
    const_reverse_iterator rend() const noexcept;

    bool empty() const noexcept;
    size_t size() const noexcept;
    void clear() noexcept;
    void reserve(size_t n);
    void swap(Dictionary& other) noexcept;

    iterator lower_bound(std::string_view key);
    const_iterator lower_bound(std::string_view key) const;
    iterator find(std::string_view key);
    const_iterator find(std::string_view key) const;
    bool contains(std::string_view key) const;
    size_t count(std::string_view key) const;
    Value& at(std::string_view key);
    const Value& at(std::string_view key) const;

    // The member for the key, made null when absent.
    Value& operator[](std::string_view key);

    // Adds a member made from `args` unless the key is there (then `args` stay untouched).
    template <class K, class... A>
    requires std::convertible_to<K, std::string_view> std::pair<iterator, bool> try_emplace(
        K&& key, A&&... args);
    // The same, starting the search at `hint`: adding members in order is cheapest this way.
    template <class K, class... A>
    requires std::convertible_to<K, std::string_view> iterator try_emplace(const_iterator hint,
                                                                           K&& key, A&&... args);
    template <class K, class... A>
    requires std::convertible_to<K, std::string_view> std::pair<iterator, bool> emplace(
        K&& key, A&&... args) {
        return try_emplace(std::forward<K>(key), std::forward<A>(args)...);
    }
    template <class K, class... A>
    requires std::convertible_to<K, std::string_view> iterator emplace_hint(const_iterator hint,
                                                                            K&& key, A&&... args) {
        return try_emplace(hint, std::forward<K>(key), std::forward<A>(args)...);
    }
    std::pair<iterator, bool> insert(value_type member);
    template <class It>
    void insert(It first, It last) {
        for (; first != last; ++first) try_emplace(first->first, first->second);
    }
    // Sets the member for the key, adding it when absent.
    template <class K, class V>
    requires std::convertible_to<K, std::string_view> std::pair<iterator, bool> insert_or_assign(
        K&& key, V&& value);

    size_t erase(std::string_view key);
    iterator erase(const_iterator position);
    iterator erase(const_iterator first, const_iterator last);

    bool operator==(const Dictionary& other) const;

    // Bulk building for readers of outside data: members appended in any order, then put in
    // order once by finishAppending(), where a repeated key keeps its last value. Look-ups
    // are meaningless in between. A member appended last stays where it is until the next
    // append, so a reader can fill it in place.
    Value& appendUnsorted(std::string key, Value value);
    void finishAppending();

private:
    enum class Repeated { KeepFirst, KeepLast };

    size_t lowerIndex(std::string_view key) const;
    size_t findIndex(std::string_view key) const;
    // The index where `key` belongs; `found` says whether a member has it already.
    size_t placeFor(std::string_view key, bool& found) const;
    size_t placeFor(const_iterator hint, std::string_view key, bool& found) const;
    void sortMembers(Repeated repeated);
    iterator insertAt(size_t at, std::string key, Value value);

    std::vector<value_type> members_;
};

// The one dynamic value: what the platform's object graphs of strings, numbers, data, dates,
// arrays and dictionaries hold. Booleans, integers and doubles are distinct kinds, because
// many rules of the system (JSON output, validation) depend on the difference.
class Value {
public:
    enum class Type : uint8_t {
        Null,
        Bool,
        Integer,   // int64
        Unsigned,  // uint64 above INT64_MAX only; smaller unsigned values are Integer
        Double,
        String,  // UTF-8
        Data,
        Date,
        Array,
        Dictionary,
    };

    Value() noexcept : i_(0) {}
    Value(std::nullptr_t) noexcept : i_(0) {}
    Value(bool b) : type_(Type::Bool), b_(b) {}
    Value(int i) : type_(Type::Integer), i_(i) {}
    Value(long i) : type_(Type::Integer), i_(i) {}
    Value(long long i) : type_(Type::Integer), i_(i) {}
    Value(unsigned i) : type_(Type::Integer), i_(i) {}
    Value(unsigned long u) : Value(static_cast<unsigned long long>(u)) {}
    Value(unsigned long long u) : i_(0) {
        if (u <= static_cast<unsigned long long>(INT64_MAX)) {
            type_ = Type::Integer;
            i_ = static_cast<int64_t>(u);
        } else {
            type_ = Type::Unsigned;
            u_ = u;
        }
    }
    Value(double d) : type_(Type::Double), d_(d) {}
    Value(float f) : type_(Type::Double), d_(f) {}
    Value(const char* s) : type_(Type::String), s_(s) {}
    Value(std::string s) : type_(Type::String), s_(std::move(s)) {}
    Value(std::string_view s) : type_(Type::String), s_(s) {}
    Value(ns::Data d) : type_(Type::Data), data_(std::move(d)) {}
    Value(ns::Date d) : type_(Type::Date), date_(d) {}
    Value(ns::Array a) : type_(Type::Array), a_(std::move(a)) {}
    Value(ns::Dictionary d) : type_(Type::Dictionary), dict_(std::move(d)) {}

    // Scalars copy as plain bytes; strings, data and containers through their own types. A
    // value moved from keeps its kind, like a moved-from string or container.
    Value(const Value& other) : type_(other.type_) {
        if (isPlain(type_)) {
            copyPlain(other);
        } else {
            constructFrom(other);
        }
    }
    Value(Value&& other) noexcept : type_(other.type_) {
        if (isPlain(type_)) {
            copyPlain(other);
        } else {
            constructFrom(std::move(other));
        }
    }
    // The source may lie inside this value (an element of its array, say): it is taken before
    // this value's own contents go.
    Value& operator=(const Value& other) {
        if (this != &other) {
            Value copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    Value& operator=(Value&& other) noexcept {
        if (this == &other) return *this;
        if (isPlain(type_) && isPlain(other.type_)) {
            type_ = other.type_;
            copyPlain(other);
        } else if (isPlain(type_)) {
            type_ = other.type_;
            constructFrom(std::move(other));
        } else {
            Value taken(std::move(other));
            destroy();
            type_ = taken.type_;
            if (isPlain(type_)) {
                copyPlain(taken);
            } else {
                constructFrom(std::move(taken));
            }
        }
        return *this;
    }
    ~Value() {
        if (!isPlain(type_)) destroy();
    }

    // Builds a dictionary: Value::dict({{"a", 1}, {"b", "x"}}).
    static Value dict(std::initializer_list<std::pair<const std::string, Value>> items) {
        return Value(ns::Dictionary(items.begin(), items.end()));
    }
    static Value array(std::initializer_list<Value> items) { return Value(ns::Array(items)); }
    // A shared null returned by look-ups that find nothing.
    static const Value& null();

    Type type() const { return type_; }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInteger() const { return type() == Type::Integer || type() == Type::Unsigned; }
    bool isDouble() const { return type() == Type::Double; }
    // A number in the JSON sense: integer or double, never a boolean.
    bool isNumber() const { return isInteger() || isDouble(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Exact accessors: the value when it is of that kind, otherwise nullopt / nullptr.
    std::optional<bool> boolean() const;
    std::optional<int64_t> int64() const;    // Integer, or Unsigned when it fits
    std::optional<uint64_t> uint64() const;  // non-negative Integer or Unsigned
    std::optional<double> number() const;    // any Integer, Unsigned or Double
    const std::string* string() const { return type_ == Type::String ? &s_ : nullptr; }
    std::string* string() { return type_ == Type::String ? &s_ : nullptr; }
    const ns::Data* data() const { return type_ == Type::Data ? &data_ : nullptr; }
    const ns::Date* date() const { return type_ == Type::Date ? &date_ : nullptr; }
    const ns::Array* array() const { return type_ == Type::Array ? &a_ : nullptr; }
    ns::Array* array() { return type_ == Type::Array ? &a_ : nullptr; }
    const ns::Dictionary* dictionary() const {
        return type_ == Type::Dictionary ? &dict_ : nullptr;
    }
    ns::Dictionary* dictionary() { return type_ == Type::Dictionary ? &dict_ : nullptr; }

    // Look-ups that never fail: null when this is not a dictionary/array or nothing is there.
    const Value& operator[](std::string_view key) const;
    const Value& at(size_t index) const;
    // The value for a key, or nullptr when absent (or not a dictionary).
    const Value* find(std::string_view key) const;
    // Number of elements of an array or dictionary; 0 for every other kind.
    size_t count() const;

    // The platform's conversions of numbers and strings (other kinds give 0 / NO / empty):
    // strings skip leading white space, take an optional sign and the longest numeric prefix;
    // boolValue of a string is YES when that prefix starts with Y, y, T, t or a digit 1-9.
    bool boolValue() const;
    int intValue() const;
    int64_t integerValue() const;
    long long longLongValue() const { return integerValue(); }
    uint64_t unsignedLongLongValue() const;
    double doubleValue() const;
    // Strings as they are; numbers as the platform's number object prints them; else "".
    std::string stringValue() const;

    // The text that `%@` prints for this value (null prints "(null)").
    std::string description() const;

    bool operator==(const Value& other) const;

private:
    // Kinds held as plain bytes, with nothing to construct or free.
    static bool isPlain(Type type) { return type <= Type::Double || type == Type::Date; }
    // The eight bytes that hold every plain kind.
    void copyPlain(const Value& other) noexcept {
        std::memcpy(static_cast<void*>(&i_), static_cast<const void*>(&other.i_), sizeof i_);
    }
    // Makes the member of this value's (non-plain) kind from the other's.
    void constructFrom(const Value& other);
    void constructFrom(Value&& other) noexcept;
    void destroy() noexcept;

    Type type_ = Type::Null;
    union {
        bool b_;
        int64_t i_;
        uint64_t u_;
        double d_;
        std::string s_;
        ns::Data data_;
        ns::Date date_;
        ns::Array a_;
        ns::Dictionary dict_;
    };
};

template <class K, class... A>
requires std::convertible_to<K, std::string_view> std::pair<Dictionary::iterator, bool>
Dictionary::try_emplace(K&& key, A&&... args) {
    bool found = false;
    const size_t at = placeFor(std::string_view(key), found);
    if (found) return {members_.begin() + at, false};
    // The new member is made before the block may move: its arguments may lie inside it.
    Value value(std::forward<A>(args)...);
    return {insertAt(at, std::string(std::forward<K>(key)), std::move(value)), true};
}

template <class K, class... A>
requires std::convertible_to<K, std::string_view> Dictionary::iterator Dictionary::try_emplace(
    const_iterator hint, K&& key, A&&... args) {
    bool found = false;
    const size_t at = placeFor(hint, std::string_view(key), found);
    if (found) return members_.begin() + at;
    Value value(std::forward<A>(args)...);
    return insertAt(at, std::string(std::forward<K>(key)), std::move(value));
}

template <class K, class V>
requires std::convertible_to<K, std::string_view> std::pair<Dictionary::iterator, bool>
Dictionary::insert_or_assign(K&& key, V&& value) {
    bool found = false;
    const size_t at = placeFor(std::string_view(key), found);
    if (found) {
        members_[at].second = std::forward<V>(value);
        return {members_.begin() + at, false};
    }
    Value made(std::forward<V>(value));
    return {insertAt(at, std::string(std::forward<K>(key)), std::move(made)), true};
}

inline Dictionary::Dictionary(std::initializer_list<value_type> items)
    : Dictionary(items.begin(), items.end()) {}

inline std::pair<Dictionary::iterator, bool> Dictionary::insert(value_type member) {
    return try_emplace(std::move(member.first), std::move(member.second));
}

inline Dictionary::iterator Dictionary::begin() noexcept {
    return members_.begin();
}

inline Dictionary::iterator Dictionary::end() noexcept {
    return members_.end();
}

inline Dictionary::const_iterator Dictionary::begin() const noexcept {
    return members_.begin();
}

inline Dictionary::const_iterator Dictionary::end() const noexcept {
    return members_.end();
}

inline Dictionary::const_iterator Dictionary::cbegin() const noexcept {
    return members_.cbegin();
}

inline Dictionary::const_iterator Dictionary::cend() const noexcept {
    return members_.cend();
}

inline Dictionary::reverse_iterator Dictionary::rbegin() noexcept {
    return members_.rbegin();
}

inline Dictionary::reverse_iterator Dictionary::rend() noexcept {
    return members_.rend();
}

inline Dictionary::const_reverse_iterator Dictionary::rbegin() const noexcept {
    return members_.rbegin();
}

inline Dictionary::const_reverse_iterator Dictionary::rend() const noexcept {
    return members_.rend();
}

inline bool Dictionary::empty() const noexcept {
    return members_.empty();
}

inline size_t Dictionary::size() const noexcept {
    return members_.size();
}

inline void Dictionary::clear() noexcept {
    members_.clear();
}

inline void Dictionary::reserve(size_t n) {
    members_.reserve(n);
}

inline void Dictionary::swap(Dictionary& other) noexcept {
    members_.swap(other.members_);
}

inline Dictionary::iterator Dictionary::lower_bound(std::string_view key) {
    return members_.begin() + lowerIndex(key);
}

inline Dictionary::const_iterator Dictionary::lower_bound(std::string_view key) const {
    return members_.begin() + lowerIndex(key);
}

inline size_t Dictionary::findIndex(std::string_view key) const {
    const size_t i = lowerIndex(key);
    return i < members_.size() && members_[i].first == key ? i : members_.size();
}

inline bool Dictionary::operator==(const Dictionary& other) const {
    return members_ == other.members_;
}

inline Dictionary::iterator Dictionary::find(std::string_view key) {
    return members_.begin() + findIndex(key);
}

inline Dictionary::const_iterator Dictionary::find(std::string_view key) const {
    return members_.begin() + findIndex(key);
}

inline bool Dictionary::contains(std::string_view key) const {
    return findIndex(key) != members_.size();
}

inline size_t Dictionary::count(std::string_view key) const {
    return contains(key) ? 1 : 0;
}

inline Dictionary::iterator Dictionary::erase(const_iterator position) {
    return members_.erase(position);
}

inline Dictionary::iterator Dictionary::erase(const_iterator first, const_iterator last) {
    return members_.erase(first, last);
}

inline void Dictionary::finishAppending() {
    sortMembers(Repeated::KeepLast);
}

}  // namespace ns
