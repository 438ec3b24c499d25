// The I/O panel: a port address, a width and (for a write) a value typed as hexadecimal,
// sent to the trainer's port; every action, and every refusal, becomes one numbered line of
// the panel's record.
#pragma once

#include <cstdint>
#include <string>

enum class TIoAction { Read, Write };

// 0: 8-bit, 1: 16-bit, 2: 32-bit.
inline constexpr const char* kIoWidthTexts[] = {"8-bit", "16-bit", "32-bit"};

// The trainer's ports as the panel reaches them; each call applies the link's retry rule
// and returns false when it finally failed.
class IIoPorts {
 public:
  virtual ~IIoPorts() = default;
  virtual bool Online() = 0;
  virtual bool In(int width, uint16_t port, uint32_t& value) = 0;
  virtual bool Out(int width, uint16_t port, uint32_t value) = 0;
};

struct TIoRequest {
  TIoAction action = TIoAction::Read;
  std::string address;  // as typed
  std::string data;     // as typed; writes only
  int width = 0;
  bool programRunning = false;
};

// Carries out the request and returns its record line, numbered `lineNumber`. The port
// receives the typed value (cut to the width); the record shows the value that travelled,
// and for an exchange that finally failed only that it failed.
std::string IoPanelAction(const TIoRequest& request, IIoPorts& ports, int lineNumber);
