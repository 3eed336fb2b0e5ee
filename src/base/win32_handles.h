// Move-only owners of Win32 handles, one type per handle kind, each with its own empty value.
#pragma once
#include <windows.h>

#include <utility>

template <class Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    Value get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::empty(); }
    Value release() { return std::exchange(value_, Traits::empty()); }
    void reset(Value value = Traits::empty()) {
        Value old = std::exchange(value_, value);
        if (old != Traits::empty()) Traits::close(old);
    }
    // For a call that hands the handle back through a pointer: lets go of the one held and gives
    // the place to fill, so no raw handle is held by hand in between.
    Value* put() {
        reset();
        return &value_;
    }

private:
    Value value_ = Traits::empty();
};

// Handles whose empty value is NULL: threads, processes, events, mutexes, snapshots…
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value empty() { return nullptr; }
    static void close(Value h) { CloseHandle(h); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// CreateFileW and CreateToolhelp32Snapshot hand back INVALID_HANDLE_VALUE, not NULL, when they fail.
struct FileHandleTraits {
    using Value = HANDLE;
    static Value empty() { return INVALID_HANDLE_VALUE; }
    static void close(Value h) { CloseHandle(h); }
};
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueSnapshot = UniqueResource<FileHandleTraits>;

struct FindHandleTraits {
    using Value = HANDLE;
    static Value empty() { return INVALID_HANDLE_VALUE; }
    static void close(Value h) { FindClose(h); }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

// Text the system allocated for the caller with LocalAlloc (a SID as text, say).
struct LocalStringTraits {
    using Value = wchar_t*;
    static Value empty() { return nullptr; }
    static void close(Value text) { LocalFree(text); }
};
using UniqueLocalString = UniqueResource<LocalStringTraits>;

// Holds a slim reader/writer lock exclusively for one scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};
