// Failures of the platform layer on demand, for the tests only: the next
// `count` calls at a point fail, as on a machine in trouble.
#pragma once

#include "platform/fault_point.h"

namespace faults {

using platform::FaultPoint;

void arm(FaultPoint point, int count);
int remaining(FaultPoint point);
void disarm_all();

} // namespace faults
