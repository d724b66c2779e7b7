#include "tests/support/allocation_failure.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int countdown = 0;
thread_local bool failed = false;

void *allocate(std::size_t size) {
  if (countdown > 0 && --countdown == 0) {
    failed = true;
    throw std::bad_alloc();
  }
  void *memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}

} // namespace

void arm_allocation_failure(int n) {
  countdown = n;
  failed = false;
}

void disarm_allocation_failure() { countdown = 0; }

bool allocation_failure_happened() { return failed; }

void *operator new(std::size_t size) { return allocate(size); }
void *operator new[](std::size_t size) { return allocate(size); }
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t /*size*/) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t /*size*/) noexcept { std::free(memory); }
