// What the assembler says: messages with their places, the flood cap, file-level errors.
#include "assembler_internal.h"

namespace comp86::asmi {

std::string TAsm::MessageText(bool warning, int code, const std::string& tasm,
                              const std::string& masm) const {
  if (!Masm()) return tasm;
  return std::string(warning ? "warning A" : "error A") + std::to_string(code) + ": " + masm;
}

void TAsm::Message(bool warning, int code, const std::string& tasm, const std::string& masm) {
  TMessage m;
  m.warning = warning;
  if (srcLine_) {
    m.file = srcLine_->file;
    m.line = srcLine_->line;
  }
  m.text = MessageText(warning, code, tasm, masm);
  // One line says one thing once, also past the listed messages.
  if (curLine_ != SIZE_MAX) {
    for (size_t i : out_.lines[curLine_].messages)
      if (out_.messages[i].text == m.text) return;
    if (out_.messages.size() >= kMaxListedMessages) {
      if (omittedLine_ != curLine_) {
        omittedLine_ = curLine_;
        omittedTexts_.clear();
      }
      if (std::find(omittedTexts_.begin(), omittedTexts_.end(), m.text) != omittedTexts_.end())
        return;
      omittedTexts_.push_back(m.text);
    }
  }
  Keep(std::move(m), curLine_);
}

// Every message of a pass ends here: the first kMaxListedMessages are kept (and listed after
// the listed line `line`, unless SIZE_MAX), the others only counted. The first error past
// them stops a pass that reports (the second and later; the first pass must see every
// definition): what follows would not be listed, and a flood of errors only costs time.
void TAsm::Keep(TMessage m, size_t line) {
  if (m.file.empty()) {  // every message names a file, or the workbench would not show it
    m.file = opt_.sourcePath;
    m.line = std::max(m.line, 1);
  }
  if (out_.messages.size() >= kMaxListedMessages) {
    ++(m.warning ? out_.omittedWarnings : out_.omittedErrors);
    if (!m.warning && pass_ >= 2 && !stoppedAt_) stoppedAt_ = m;
    if (!firstOmitted_) firstOmitted_ = std::move(m);
    return;
  }
  if (line != SIZE_MAX && line < out_.lines.size())
    out_.lines[line].messages.push_back(out_.messages.size());
  out_.messages.push_back(std::move(m));
}

// The one message that stands for those left out, at the line of the first of them.
void TAsm::NoteOmitted() {
  const int errors = out_.omittedErrors, warnings = out_.omittedWarnings;
  if (errors + warnings == 0 || !firstOmitted_) return;
  const std::string more = std::to_string(errors + warnings) + " more not listed";
  std::string text;
  if (warnings == 0) text = "Too many errors: " + more;
  else if (errors == 0) text = "Too many warnings: " + more;
  else
    text = "Too many errors and warnings: " + more + " (" + std::to_string(errors) + " errors, " +
           std::to_string(warnings) + " warnings)";
  TMessage m;
  m.warning = errors == 0;
  m.file = firstOmitted_->file;
  m.line = firstOmitted_->line;
  if (stoppedAt_) {
    // The totals count what came up to the line where the assembly stopped.
    text = "Too many errors: the assembly stops at this line";
    if (warnings > 0) text += " (" + std::to_string(warnings) + " more warnings not listed)";
    m.file = stoppedAt_->file;
    m.line = stoppedAt_->line;
  }
  // Without a stop the assembly goes on to the end (the totals count everything); only the
  // listing stops.
  m.text = MessageText(m.warning, 1012, text, text);
  out_.omitted = std::move(m);
}

// A message about the source file as a whole rather than one of its listed lines.
void TAsm::FileError(int line, int code, const std::string& tasm, const std::string& masm) {
  TMessage m;
  m.file = opt_.sourcePath;
  m.line = line;
  m.text = MessageText(false, code, tasm, masm);
  Keep(std::move(m), SIZE_MAX);
}

void TAsm::ReportError(const TSourceLine& where, const std::string& message) {
  TMessage m;
  m.file = where.file;
  m.line = where.line;
  bool hasCode = message.rfind("error A", 0) == 0 || message.rfind("warning A", 0) == 0;
  if (Masm() && !hasCode) {
    bool io = message.rfind("Cannot open", 0) == 0 || message.rfind("Cannot read", 0) == 0;
    m.text = (io ? "error A1000: " : "error A2010: ") + message;
  } else {
    m.text = message;
  }
  if (curLine_ != SIZE_MAX && out_.lines[curLine_].file == where.file &&
      out_.lines[curLine_].line == where.line) {
    Keep(std::move(m), curLine_);
  } else {
    pendingReader_.push_back(std::move(m));
  }
}

}  // namespace comp86::asmi
