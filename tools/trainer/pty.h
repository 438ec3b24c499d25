// The stand-in's end of the serial line: the master side of a pseudo-terminal, whose slave
// device the workbench opens as its port (POSIX only).
#pragma once

#include <string>

#include "byte_link.h"

namespace trainer {

class TPseudoTerminal final : public IByteLink {
 public:
  // Opens the pair in raw mode. The slave is held open here too: its line settings then
  // survive the workbench closing and reopening it, and the master never sees a hang-up
  // between two connections. Throws std::system_error when the system refuses.
  TPseudoTerminal();
  ~TPseudoTerminal() override;
  TPseudoTerminal(const TPseudoTerminal&) = delete;
  TPseudoTerminal& operator=(const TPseudoTerminal&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  // Waits up to timeoutMs until the far side has read everything sent, so closing the
  // line does not take the last reply with it.
  void Drain(int timeoutMs);
  // Closes both sides: whoever has the slave open reads the end of the line.
  void Close();

  int Read(uint8_t* buffer, size_t max, int timeoutMs) override;
  // Waits at most 200 ms for room; what still does not fit is dropped.
  void Write(std::span<const uint8_t> bytes) override;

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

// A symbolic link with a fixed name to the slave device, so a workbench's settings can
// name the port once; removed again when this object goes, if it still points there.
class TDeviceLink {
 public:
  // Replaces an existing symbolic link of that name; throws std::system_error when the
  // name is taken by something else or cannot be created.
  TDeviceLink(std::string path, std::string target);
  ~TDeviceLink();
  TDeviceLink(const TDeviceLink&) = delete;
  TDeviceLink& operator=(const TDeviceLink&) = delete;

 private:
  std::string path_;
  std::string target_;
};

}  // namespace trainer
