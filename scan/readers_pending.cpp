// Formats whose readers are not in this build yet end the program plainly.
#include "scan/readers.h"
#include "shell/command_loop.h"

namespace kalvex {
int ReadXcaliburHeader(ProgramState&) { StopWithMessage("Xcalibur reader not available"); }
int ReadXcaliburReflection(ProgramState&, int, const Hkl&) { StopWithMessage("Xcalibur reader not available"); }
}  // namespace kalvex
