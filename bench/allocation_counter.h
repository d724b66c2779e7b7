// Counts the heap allocations (malloc, calloc, new) made in this program.
#pragma once

#include <cstdint>

std::uint64_t allocations_so_far();
