// Makes an allocation on the calling thread fail with std::bad_alloc, as it
// would when memory runs out.
#pragma once

// The n-th allocation from now on this thread throws; 0 disarms.
void arm_allocation_failure(int n);
void disarm_allocation_failure();
// Whether the armed allocation was reached and failed.
bool allocation_failure_happened();
