// The memory of a file read whole, on Linux: a small file from the ordinary
// heap; a large one mapped from the system on a boundary of its large pages
// (2 MiB) and marked for them (madvise MADV_HUGEPAGE), so that 64 MiB take 32
// page faults instead of 16384. Where the system has no large pages the mark
// does nothing and the memory works all the same.
#include <sys/mman.h>

#include <cstdint>
#include <new>

#include "firmware/FileBytes.h"

namespace veltra::platform {
namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;

// A large block is mapped and unmapped in whole large pages.
std::size_t MappedSize(std::size_t size) { return (size + kLargePage - 1) & ~(kLargePage - 1); }

}  // namespace

void* AllocateFileMemory(std::size_t size) {
    if (size < kLargePage) return ::operator new(size);
    // Mapped a large page longer than needed, then cut to the block that
    // starts on the first large page boundary.
    const std::size_t kept = MappedSize(size);
    const std::size_t mapped = kept + kLargePage;
    void* start = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) throw std::bad_alloc();
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t aligned = (first + kLargePage - 1) & ~std::uintptr_t{kLargePage - 1};
    if (aligned > first) ::munmap(start, aligned - first);
    ::munmap(reinterpret_cast<void*>(aligned + kept), first + mapped - (aligned + kept));
    void* memory = reinterpret_cast<void*>(aligned);
    ::madvise(memory, kept, MADV_HUGEPAGE);
    return memory;
}

void FreeFileMemory(void* memory, std::size_t size) noexcept {
    if (size < kLargePage) {
        ::operator delete(memory);
    } else {
        ::munmap(memory, MappedSize(size));
    }
}

}  // namespace veltra::platform
