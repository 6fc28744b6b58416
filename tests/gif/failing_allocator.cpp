// The test program's allocation functions: allocations of gFailAllocationsFrom bytes or more fail
// while it is set. Every plain and nothrow form is replaced, so that blocks from any of them meet
// the matching release. Kept in a file of their own so that the compiler does not see through
// them into the tests.
#include <cstddef>
#include <cstdlib>
#include <new>

std::size_t gFailAllocationsFrom = 0;

void* operator new(std::size_t size) {
  if (gFailAllocationsFrom != 0 && size >= gFailAllocationsFrom) throw std::bad_alloc();
  if (void* block = std::malloc(size != 0 ? size : 1)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
