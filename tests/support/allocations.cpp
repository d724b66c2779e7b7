#include "tests/support/allocations.h"

#include <cstdlib>
#include <new>

namespace {

thread_local long count = 0;
thread_local bool fail_next = false;

} // namespace

long allocations_on_this_thread() { return count; }
void fail_next_allocation() { fail_next = true; }

void *operator new(std::size_t size) {
  ++count;
  void *memory = fail_next ? nullptr : std::malloc(size == 0 ? 1 : size);
  fail_next = false;
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}
void *operator new[](std::size_t size) { return operator new(size); }
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t /*size*/) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t /*size*/) noexcept { std::free(memory); }
