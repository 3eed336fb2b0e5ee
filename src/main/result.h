// Success with a value, or failure with one human-readable text (UTF-8).
#pragma once
#include <optional>
#include <string>
#include <utility>

template <class T>
class Result {
public:
    static Result success(T value) { Result r; r.value_.emplace(std::move(value)); return r; }
    static Result failure(std::string text) { Result r; r.error_ = std::move(text); return r; }

    bool ok() const { return value_.has_value(); }
    const T& value() const { return *value_; }
    T& value() { return *value_; }
    const std::string& error() const { return error_; }

private:
    Result() = default;
    std::optional<T> value_;
    std::string error_;
};

// A fallible step with no value: empty text on success.
class Status {
public:
    static Status success() { return Status(); }
    static Status failure(std::string text) { Status s; s.failed_ = true; s.error_ = std::move(text); return s; }

    bool ok() const { return !failed_; }
    const std::string& error() const { return error_; }

private:
    bool failed_ = false;
    std::string error_;
};
