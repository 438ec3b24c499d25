// TLINK.EXE: the Borland-style command line of our linker.
#include <iostream>

#include "link.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return comp86::RunTlink(args, std::cout);
}
