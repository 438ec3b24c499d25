// The messages of one compilation, in the form the workbench reads from the listing.
#include "cc.h"

namespace comp86::cc {

int TDiagnostics::AddFile(std::string name) {
  files.push_back(std::move(name));
  return static_cast<int>(files.size()) - 1;
}

void TDiagnostics::Error(int file, int line, std::string text) {
  // Past the limit the messages are dropped: the student reads the first ones, and the
  // compiler checks TooManyErrors() to stop.
  if (TooManyErrors()) return;
  messages.push_back({false, file, line, std::move(text)});
}

void TDiagnostics::Warning(int file, int line, std::string text) {
  messages.push_back({true, file, line, std::move(text)});
}

int TDiagnostics::errors() const {
  int n = 0;
  for (const TCompilerMessage& m : messages) n += m.warning ? 0 : 1;
  return n;
}

int TDiagnostics::warnings() const { return static_cast<int>(messages.size()) - errors(); }

std::string TDiagnostics::Format(const TCompilerMessage& message) const {
  const std::string source = message.file >= 0 && message.file < static_cast<int>(files.size())
                                 ? files[message.file]
                                 : std::string("?");
  std::string out = (message.warning ? "Warning " : "Error ") + source + " " +
                    std::to_string(message.line) + ": " + message.text;
  // One message is one line of the listing.
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  // The workbench skips an "Error" line ending in "None" (the summary line of other tools);
  // an #error text could end that way.
  if (out.size() >= 4 && out.compare(out.size() - 4, 4, "None") == 0) out += '.';
  return out;
}

}  // namespace comp86::cc
