// Formats whose readers are not in this build yet end the program plainly.
#include "scan/readers.h"
#include "shell/command_loop.h"

namespace kalvex {
int ReadXcaliburHeader(ProgramState&) { StopWithMessage("Xcalibur reader not available"); }
int ReadXcaliburReflection(ProgramState&, int, const Hkl&) { StopWithMessage("Xcalibur reader not available"); }
int ReadCad4Header(ProgramState&) { StopWithMessage("CAD4 reader not available"); }
int ReadCad4Reflection(ProgramState&, int, const Hkl&) { StopWithMessage("CAD4 reader not available"); }
int ReadSingleHeader(ProgramState&) { StopWithMessage("Single reader not available"); }
int ReadSingleReflection(ProgramState&, int, const Hkl&) { StopWithMessage("Single reader not available"); }
int ReadXscansHeader(ProgramState&) { StopWithMessage("Xscans reader not available"); }
int ReadXscansReflection(ProgramState&, int, const Hkl&) { StopWithMessage("Xscans reader not available"); }
}  // namespace kalvex
