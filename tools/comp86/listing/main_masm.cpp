// MASM.EXE: the assembler with the Microsoft command line and listing.
#include "listing.h"

int main(int argc, char** argv) {
  return comp86::RunAssemblerTool(comp86::TDialect::Masm,
                                  std::vector<std::string>(argv + 1, argv + argc));
}
