#pragma once
#include <atomic>
#include <exception>
#include <utility>

namespace vardelin::lib {

// Raised as RuntimeError: a conflicting call fails at once instead of waiting, because the
// holder may be a call that released the interpreter lock and waiting would deadlock it.
struct BorrowError : std::exception {
    const char* message;
    explicit BorrowError(const char* m) noexcept : message(m) {}
    const char* what() const noexcept override { return message; }
};

// A record exposed to Python with the per-object borrow flag: any number of shared borrows,
// or one exclusive borrow.
template <class T>
class Borrowed {
public:
    explicit Borrowed(T&& value) : value_(std::move(value)) {}
    Borrowed(Borrowed&& other) noexcept : value_(std::move(other.value_)) {}
    Borrowed& operator=(Borrowed&&) = delete;

    class SharedRef {
    public:
        explicit SharedRef(Borrowed& owner) : owner_(&owner) {
            long s = owner.state_.load(std::memory_order_relaxed);
            do {
                if (s < 0) throw BorrowError("Already mutably borrowed");
            } while (!owner.state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire));
        }
        ~SharedRef() { owner_->state_.fetch_sub(1, std::memory_order_release); }
        SharedRef(const SharedRef&) = delete;
        SharedRef& operator=(const SharedRef&) = delete;
        const T& operator*() const noexcept { return owner_->value_; }
        const T* operator->() const noexcept { return &owner_->value_; }

    private:
        Borrowed* owner_;
    };

    class ExclusiveRef {
    public:
        explicit ExclusiveRef(Borrowed& owner) : owner_(&owner) {
            long expected = 0;
            if (!owner.state_.compare_exchange_strong(expected, -1, std::memory_order_acquire)) {
                throw BorrowError("Already borrowed");
            }
        }
        ~ExclusiveRef() { owner_->state_.store(0, std::memory_order_release); }
        ExclusiveRef(const ExclusiveRef&) = delete;
        ExclusiveRef& operator=(const ExclusiveRef&) = delete;
        T& operator*() const noexcept { return owner_->value_; }
        T* operator->() const noexcept { return &owner_->value_; }

    private:
        Borrowed* owner_;
    };

    SharedRef shared() { return SharedRef(*this); }
    ExclusiveRef exclusive() { return ExclusiveRef(*this); }

private:
    T value_;
    std::atomic<long> state_{0};  // > 0: shared borrows; -1: exclusive
};

}  // namespace vardelin::lib
