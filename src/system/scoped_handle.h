#pragma once

// Owns one handle obtained through an out-parameter and closes it on every path out of scope.
template <typename Handle, auto Close>
class ScopedHandle {
public:
    ScopedHandle() = default;
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() {
        if (handle_ != nullptr) Close(handle_);
    }
    Handle* Receive() { return &handle_; }
    Handle Get() const { return handle_; }

private:
    Handle handle_ = nullptr;
};
