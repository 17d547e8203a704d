#pragma once

#include <utility>
#include <variant>

#include "platform/ns/Error.h"
#include "platform/ns/Exception.h"

namespace ns {

// What an operation with an error out-parameter returns: the value, or the error.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return checked(); }
    const T& value() const& { return const_cast<Result*>(this)->checked(); }
    T&& value() && { return std::move(checked()); }
    T* operator->() { return &checked(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return checked(); }
    const T& operator*() const { return value(); }
    T valueOr(T fallback) const { return ok() ? std::get<0>(v_) : std::move(fallback); }

    const Error& error() const {
        if (ok()) throw Exception(kInternalInconsistencyException, "Result holds a value");
        return std::get<1>(v_);
    }

private:
    T& checked() {
        if (!ok()) throw Exception(kInternalInconsistencyException, std::get<1>(v_).description());
        return std::get<0>(v_);
    }
    std::variant<T, Error> v_;
};

// Success or an error, for operations that answer YES/NO with an error out-parameter.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const {
        if (!failed_) throw Exception(kInternalInconsistencyException, "Result holds no error");
        return error_;
    }

private:
    Error error_;
    bool failed_ = false;
};

using Status = Result<void>;

}  // namespace ns
