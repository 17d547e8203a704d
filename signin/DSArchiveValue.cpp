#include "signin/DSArchiveValue.h"

DSArchiveValue DSArchiveValue::boolean(bool b) {
    DSArchiveValue v(Kind::Bool);
    v.b_ = b;
    return v;
}

DSArchiveValue DSArchiveValue::integer(int64_t i) {
    DSArchiveValue v(Kind::Integer);
    v.i_ = i;
    return v;
}

DSArchiveValue DSArchiveValue::real(double d) {
    DSArchiveValue v(Kind::Real);
    v.d_ = d;
    return v;
}

DSArchiveValue DSArchiveValue::text(std::string s) {
    DSArchiveValue v(Kind::String);
    v.s_ = std::move(s);
    return v;
}

DSArchiveValue DSArchiveValue::text(const std::optional<std::string>& s) {
    return s ? text(*s) : DSArchiveValue();
}

DSArchiveValue DSArchiveValue::data(const std::optional<ns::Data>& d) {
    if (!d) return {};
    DSArchiveValue v(Kind::Data);
    v.data_ = *d;
    return v;
}

DSArchiveValue DSArchiveValue::date(const std::optional<ns::Date>& d) {
    if (!d) return {};
    DSArchiveValue v(Kind::Date);
    v.d_ = d->timeIntervalSinceReferenceDate();
    return v;
}

DSArchiveValue DSArchiveValue::null() {
    return DSArchiveValue(Kind::Null);
}

DSArchiveValue DSArchiveValue::array(std::vector<DSArchiveValue> items, bool isMutable) {
    DSArchiveValue v(Kind::Array);
    v.mutable_ = isMutable;
    v.items_ = std::move(items);
    return v;
}

DSArchiveValue DSArchiveValue::dictionary(Pairs pairs, bool isMutable) {
    DSArchiveValue v(Kind::Dictionary);
    v.mutable_ = isMutable;
    v.pairs_ = std::move(pairs);
    return v;
}

DSArchiveValue DSArchiveValue::object(std::shared_ptr<const DSArchiveObject> object) {
    if (!object) return {};
    DSArchiveValue v(Kind::Object);
    v.object_ = std::move(object);
    return v;
}

DSArchiveValue DSArchiveValue::fromValue(const ns::Value& value) {
    switch (value.type()) {
        case ns::Value::Type::Null:
            return null();
        case ns::Value::Type::Bool:
            return boolean(*value.boolean());
        case ns::Value::Type::Integer:
            return integer(*value.int64());
        case ns::Value::Type::Unsigned:
            return real(static_cast<double>(*value.uint64()));
        case ns::Value::Type::Double:
            return real(value.doubleValue());
        case ns::Value::Type::String:
            return text(*value.string());
        case ns::Value::Type::Data:
            return data(*value.data());
        case ns::Value::Type::Date:
            return date(*value.date());
        case ns::Value::Type::Array: {
            std::vector<DSArchiveValue> items;
            items.reserve(value.array()->size());
            for (const ns::Value& item : *value.array()) items.push_back(fromValue(item));
            return array(std::move(items), true);
        }
        case ns::Value::Type::Dictionary: {
            Pairs pairs;
            pairs.reserve(value.dictionary()->size());
            for (const auto& [key, item] : *value.dictionary())
                pairs.emplace_back(text(key), fromValue(item));
            return dictionary(std::move(pairs), true);
        }
    }
    return {};
}

std::optional<double> DSArchiveValue::number() const {
    switch (kind_) {
        case Kind::Bool:
            return b_ ? 1.0 : 0.0;
        case Kind::Integer:
            return static_cast<double>(i_);
        case Kind::Real:
            return d_;
        default:
            return std::nullopt;
    }
}

std::optional<ns::Date> DSArchiveValue::dateValue() const {
    if (kind_ != Kind::Date) return std::nullopt;
    return ns::Date::fromTimeIntervalSinceReferenceDate(d_);
}

const DSArchiveObject* DSArchiveValue::objectOf(std::string_view className) const {
    if (kind_ != Kind::Object || object_->className() != className) return nullptr;
    return object_.get();
}

const DSArchiveValue* DSArchiveValue::member(std::string_view key) const {
    if (kind_ != Kind::Dictionary) return nullptr;
    for (const auto& [k, v] : pairs_) {
        if (k.string() && *k.string() == key) return &v;
    }
    return nullptr;
}

std::optional<ns::Value> DSArchiveValue::toValue() const {
    switch (kind_) {
        case Kind::Nil:
        case Kind::Null:
            return ns::Value();
        case Kind::Bool:
            return ns::Value(b_);
        case Kind::Integer:
            return ns::Value(static_cast<long long>(i_));
        case Kind::Real:
            return ns::Value(d_);
        case Kind::String:
            return ns::Value(s_);
        case Kind::Data:
            return ns::Value(data_);
        case Kind::Date:
            return ns::Value(*dateValue());
        case Kind::Array: {
            ns::Array out;
            for (const DSArchiveValue& item : items_) {
                std::optional<ns::Value> v = item.toValue();
                if (!v) return std::nullopt;
                out.push_back(std::move(*v));
            }
            return ns::Value(std::move(out));
        }
        case Kind::Dictionary: {
            ns::Dictionary out;
            for (const auto& [key, item] : pairs_) {
                std::optional<ns::Value> v = item.toValue();
                if (!key.string() || !v) return std::nullopt;
                out.insert_or_assign(*key.string(), std::move(*v));
            }
            return ns::Value(std::move(out));
        }
        case Kind::Object:
            return std::nullopt;
    }
    return std::nullopt;
}

void DSArchiveObject::set(std::string key, DSArchiveValue value) {
    // A key given twice keeps its last value, as a property-list dictionary does.
    for (auto& [k, v] : fields_) {
        if (k == key) {
            v = std::move(value);
            return;
        }
    }
    fields_.emplace_back(std::move(key), std::move(value));
}

const DSArchiveValue* DSArchiveObject::field(std::string_view key) const {
    for (const auto& [k, v] : fields_) {
        if (k == key) return &v;
    }
    return nullptr;
}

std::optional<std::string> DSArchiveObject::text(std::string_view key) const {
    const DSArchiveValue* v = field(key);
    if (!v || !v->string()) return std::nullopt;
    return *v->string();
}

std::optional<ns::Data> DSArchiveObject::data(std::string_view key) const {
    const DSArchiveValue* v = field(key);
    if (!v || !v->dataValue()) return std::nullopt;
    return *v->dataValue();
}

std::optional<ns::Date> DSArchiveObject::date(std::string_view key) const {
    const DSArchiveValue* v = field(key);
    return v ? v->dateValue() : std::nullopt;
}

bool DSArchiveObject::boolean(std::string_view key) const {
    const DSArchiveValue* v = field(key);
    return v && v->number().value_or(0) != 0;
}
