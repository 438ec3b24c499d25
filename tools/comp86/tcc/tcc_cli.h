// The TCC.EXE command line: `TCC -mt -v -c -oT.OBJ T.C` as the workbench gives it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace comp86::cc {

// `args` excludes the program name. The listing (banner, messages, summary) goes to `out`;
// the result is the exit status: 0 compiled, 1 errors, 2 a bad command line.
int RunTcc(const std::vector<std::string>& args, std::ostream& out);

// The folder whose INCLUDE subfolder holds the standard headers: the executable's own.
// main() passes argv[0]; where /proc/self/exe exists it wins.
void SetTccProgramPath(const std::string& argv0);

}  // namespace comp86::cc
