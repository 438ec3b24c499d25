// TCC.EXE: the C compiler of the toolchain.
#include <iostream>

#include "tcc_cli.h"

int main(int argc, char** argv) {
  comp86::cc::SetTccProgramPath(argc > 0 ? argv[0] : "");
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const int status = comp86::cc::RunTcc(args, std::cout);
  std::cout.flush();
  return status;
}
