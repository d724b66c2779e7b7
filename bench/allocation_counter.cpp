#include "bench/allocation_counter.h"

#include <atomic>
#include <cstddef>

// Every heap allocation of the program, C's and C++'s alike, passes through
// these: liblo and the resolver call malloc, operator new calls malloc too.
// glibc's own entry points do the work.
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *memory, std::size_t size);
void __libc_free(void *memory);
}

namespace {
std::atomic<std::uint64_t> allocations{0};
}

std::uint64_t allocations_so_far() { return allocations.load(std::memory_order_relaxed); }

extern "C" {

void *malloc(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}

void *calloc(std::size_t count, std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}

void *realloc(void *memory, std::size_t size) {
  if (memory == nullptr) {
    allocations.fetch_add(1, std::memory_order_relaxed);
  }
  return __libc_realloc(memory, size);
}

void free(void *memory) { __libc_free(memory); }
}
