#pragma once
#include <cstddef>
#include <memory>
#include <new>
#include <span>
#include <vector>

namespace vardelin {

// Large buffers go on transparent huge pages: filling 100 MB of fresh 4 KiB pages costs more
// in page faults than the work done on the data.
void* allocate_bytes(std::size_t bytes);
void deallocate_bytes(void* p, std::size_t bytes) noexcept;

// Leaves new elements uninitialised on resize: large buffers are filled in parallel right
// after, and zeroing them first on one thread would cost as much as the fill itself.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    using std::allocator<T>::allocator;
    using value_type = T;

    T* allocate(std::size_t n) { return static_cast<T*>(allocate_bytes(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { deallocate_bytes(p, n * sizeof(T)); }

    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <class T>
using Buffer = std::vector<T, DefaultInitAllocator<T>>;

// Large arrays are held once, reference-counted and never written in place: coordinate views,
// indexes and subsets share them, and a merge replaces them with new arrays.
template <class T>
using SharedArray = std::shared_ptr<const Buffer<T>>;

template <class T>
SharedArray<T> make_shared_array(Buffer<T>&& values) {
    return std::make_shared<const Buffer<T>>(std::move(values));
}

template <class T>
std::span<const T> view(const SharedArray<T>& a) {
    return a ? std::span<const T>(a->data(), a->size()) : std::span<const T>();
}

}  // namespace vardelin
