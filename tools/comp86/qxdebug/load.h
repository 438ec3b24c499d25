// What the debugger has in memory when its first prompt appears.
#pragma once

#include <string>

#include "cpu_state.h"
#include "mem_image.h"

namespace comp86::qxdebug {

// Loads the program at path for debugging and sets the registers:
// - a name ending in .EXE (any case) is loaded as DOS loads an executable, with the
//   registers DOS gives it;
// - any other file is a raw image at PSP:0100, as DOS debuggers load a .COM program:
//   CS = DS = ES = SS = the prefix's segment, IP = 0100, SP = FFFE, the rest 0;
// - an empty path loads nothing, with the registers of a raw image.
// Memory outside the program is FFh, apart from the program segment prefix, whose INT 20h
// and the zero word on top of the stack let a final RET end the program. Returns an empty
// string, or a one-line reason why the file was not loaded (memory then holds no program).
std::string LoadForDebugging(const std::string& path, TCPUState& state, TMemImage& mem);

}  // namespace comp86::qxdebug
