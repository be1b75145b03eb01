// The memory of a file read whole, on Windows: the ordinary heap. Large pages
// there need a privilege that an ordinary user lacks.
#include <new>

#include "firmware/FileBytes.h"

namespace veltra::platform {

void* AllocateFileMemory(std::size_t size) { return ::operator new(size); }

void FreeFileMemory(void* memory, std::size_t) noexcept { ::operator delete(memory); }

}  // namespace veltra::platform
