// The editing of a line typed for buffered input, shared by every screen that collects one
// so the line the program receives is the line the user saw.
#pragma once

#include <cstdint>
#include <string>

#include "seams.h"

class TLineInput {
 public:
  // capacity: the characters the line holds, the Enter that ends it included; keys beyond
  // it are refused without a sound.
  explicit TLineInput(unsigned capacity) : capacity_(capacity) {}

  // Applies one typed key to the line and echoes the change on the screen. True when the
  // key was Enter: the line is complete and the Enter is not part of it.
  bool Type(uint8_t key, IConsole& screen);
  const std::string& Line() const { return line_; }

 private:
  void EraseLast(IConsole& screen);

  unsigned capacity_;
  std::string line_;
};
