// CPU time, for the closing tables that weigh a run against its aim.
#pragma once

namespace bench {

// The CPU time of the process so far, in milliseconds: unlike the wall
// clock, it does not grow while other work has the machine.
double CpuMilliseconds();

}  // namespace bench
