// Success with a value, or failure with one human-readable text (UTF-8). A result must be looked
// at: one dropped on purpose goes through ignore_failure(), so that the intent shows.
#pragma once
#include <optional>
#include <string>
#include <utility>

template <class T>
class [[nodiscard]] Result {
public:
    static Result success(T value) {
        Result r;
        r.value_.emplace(std::move(value));
        return r;
    }
    static Result failure(std::string text) {
        Result r;
        r.error_ = std::move(text);
        return r;
    }

    bool ok() const { return value_.has_value(); }
    // Asking a failure for its value is a programming error; it stops the process in every build
    // (NDEBUG included) rather than read a value that is not there.
    const T& value() const {
        if (!ok()) __builtin_trap();
        return *value_;
    }
    T& value() {
        if (!ok()) __builtin_trap();
        return *value_;
    }
    const std::string& error() const { return error_; }

private:
    Result() = default;
    std::optional<T> value_;
    std::string error_;
};

// A fallible step with no value: empty text on success.
class [[nodiscard]] Status {
public:
    static Status success() { return Status(); }
    static Status failure(std::string text) {
        Status s;
        s.failed_ = true;
        s.error_ = std::move(text);
        return s;
    }

    bool ok() const { return !failed_; }
    const std::string& error() const { return error_; }

private:
    bool failed_ = false;
    std::string error_;
};

// For a best-effort step whose failure changes nothing for the caller (a clean-up, say).
template <class T>
void ignore_failure(const Result<T>&) {}
inline void ignore_failure(const Status&) {}
