#pragma once

namespace p2sp {

// P2SP_FAULT=<name> in the environment ends the process at once at the point
// of that name, as a kill there would, for the tests of what survives it.
void FaultPoint(const char* name);

}  // namespace p2sp
