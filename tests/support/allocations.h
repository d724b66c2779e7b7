// This process's operator new, counting every allocation on a thread and
// able to make the next one fail as it does when memory runs out.
#pragma once

long allocations_on_this_thread();
void fail_next_allocation();
