#include "tests/support/allocations.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

thread_local long count = 0;
thread_local bool fail_next = false;
std::atomic<std::uint64_t> heap_calls{0};

} // namespace

long allocations_on_this_thread() { return count; }
std::uint64_t heap_calls_so_far() { return heap_calls.load(std::memory_order_relaxed); }
void fail_next_allocation() { fail_next = true; }

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define RING2OSC_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define RING2OSC_SANITIZED 1
#endif

// liblo and the resolver call malloc, operator new calls it too: glibc's own
// entry points do the work. The sanitizers have their malloc of their own.
#if defined(__GLIBC__) && !defined(RING2OSC_SANITIZED)
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *memory, std::size_t size);
void __libc_free(void *memory);

void *malloc(std::size_t size) {
  heap_calls.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) {
  heap_calls.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
void *realloc(void *memory, std::size_t size) {
  if (memory == nullptr) {
    heap_calls.fetch_add(1, std::memory_order_relaxed);
  }
  return __libc_realloc(memory, size);
}
void free(void *memory) { __libc_free(memory); }
}
#endif

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
