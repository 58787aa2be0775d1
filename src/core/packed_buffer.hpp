#pragma once
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace vardelin {

// One contiguous, 64-byte aligned block of raw bytes that a packed index lays out by hand
// (header, ids, coordinates). Storage obtained from operator new implicitly creates the
// arrays of plain numbers the layout views it as, so typed access through `at` is defined.
class PackedBuffer {
public:
    PackedBuffer() = default;
    explicit PackedBuffer(std::size_t bytes)
        : size_(bytes), data_(static_cast<std::byte*>(::operator new(bytes == 0 ? 1 : bytes, kAlign))) {}

    std::size_t size() const noexcept { return size_; }
    std::byte* data() noexcept { return data_.get(); }
    const std::byte* data() const noexcept { return data_.get(); }

    template <class T>
    T* at(std::size_t offset) noexcept {
        return reinterpret_cast<T*>(data_.get() + offset);
    }
    template <class T>
    const T* at(std::size_t offset) const noexcept {
        return reinterpret_cast<const T*>(data_.get() + offset);
    }

    // Zeroes a range the layout leaves unused (padding), so the buffer's bytes are all defined.
    void zero(std::size_t offset, std::size_t bytes) noexcept {
        if (bytes) std::memset(data_.get() + offset, 0, bytes);
    }

private:
    static constexpr std::align_val_t kAlign{64};
    struct Free {
        void operator()(std::byte* p) const noexcept { ::operator delete(p, kAlign); }
    };
    std::size_t size_ = 0;
    std::unique_ptr<std::byte, Free> data_;
};

}  // namespace vardelin
