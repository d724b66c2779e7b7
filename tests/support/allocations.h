// This process's heap, counted: the program's own allocations (operator new)
// on the calling thread, and where the C library allows it (glibc) every
// malloc, calloc and new of every thread, the libraries' too; and the next
// operator new made to fail as it does when memory runs out. Linked only into
// the programs that count: it replaces the allocation functions.
#pragma once

#include <cstdint>

long allocations_on_this_thread();
// 0 where the C library's calls cannot be counted (and under the sanitizers).
std::uint64_t heap_calls_so_far();
void fail_next_allocation();
