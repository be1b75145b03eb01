#pragma once
// The memory that holds a file read whole. Reading fills every byte, so the
// bytes are not set to zero first: for a file of many megabytes that pass,
// with the page faults of fresh memory, costs more than the read itself.
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace veltra::platform {

// Uninitialised memory for `size` bytes (not 0), aligned for any type; throws
// std::bad_alloc when there is none. A large block comes in the system's large
// pages where it has them, so that taking it into use costs few page faults.
void* AllocateFileMemory(std::size_t size);
// Gives back a block of AllocateFileMemory with the size it was asked for.
void FreeFileMemory(void* memory, std::size_t size) noexcept;

// An allocator of that memory whose containers leave new elements
// default-initialised: uninitialised, for bytes.
template <typename T>
struct FileMemoryAllocator {
    using value_type = T;

    FileMemoryAllocator() = default;
    template <typename U>
    FileMemoryAllocator(const FileMemoryAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) { return static_cast<T*>(AllocateFileMemory(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { FreeFileMemory(p, n * sizeof(T)); }

    template <typename U>
    void construct(U* p) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    template <typename U>
    bool operator==(const FileMemoryAllocator<U>&) const noexcept {
        return true;
    }
};

using FileBytes = std::vector<std::uint8_t, FileMemoryAllocator<std::uint8_t>>;

}  // namespace veltra::platform
