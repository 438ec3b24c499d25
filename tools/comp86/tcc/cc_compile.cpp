// Compile(): the parsed and generated unit goes through our assembler; its line records
// (by assembly line) become the C line records of the module.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "assembly.h"
#include "cc_internal.h"

namespace comp86::cc {

namespace {

// A file in the temporary folder that nobody else uses, removed when this goes away.
class TTempFile {
 public:
  TTempFile() {
    static std::atomic<unsigned> counter{0};
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = ".";
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::filesystem::path p =
          dir / ("tcc-" + std::to_string(rd()) + "-" + std::to_string(counter++) + ".asm");
      if (!std::filesystem::exists(p, ec)) {
        path_ = p.string();
        break;
      }
    }
  }
  ~TTempFile() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// '$' and '@' come from the lexer for asm statements only: anywhere else each is reported
// as the illegal character it is there, and dropped. An asm statement runs from "asm" to the
// end of its line, a ';' or a '}', or is the braces after "asm".
std::vector<TToken> WithoutStrayCharacters(const std::vector<TToken>& tokens,
                                           TDiagnostics& diagnostics) {
  std::vector<TToken> kept;
  kept.reserve(tokens.size());
  const auto isPunct = [](const TToken& t, std::string_view text) {
    return t.kind == TTokenKind::Punctuator && t.text == text;
  };
  enum { kC, kAsmLine, kAsmBlock } mode = kC;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const TToken& t = tokens[i];
    if (mode == kAsmLine && (t.lineStart || isPunct(t, ";") || isPunct(t, "}"))) mode = kC;
    if (mode == kAsmBlock && isPunct(t, "}")) mode = kC;
    if (mode == kC && (isPunct(t, "$") || isPunct(t, "@"))) {
      char text[48];
      std::snprintf(text, sizeof text, "Illegal character '%c' (0x%02X)", t.text[0], t.text[0]);
      diagnostics.Error(t.file, t.line, text);
      continue;
    }
    if (mode == kC && t.kind == TTokenKind::Identifier && t.text == "asm") {
      mode = i + 1 < tokens.size() && isPunct(tokens[i + 1], "{") ? kAsmBlock : kAsmLine;
    }
    kept.push_back(t);
  }
  return kept;
}

}  // namespace

TCompileResult Compile(const std::vector<TToken>& tokens, const TCompileOptions& options,
                       TDiagnostics& diagnostics) {
  TCompileResult result;
  if (diagnostics.files.empty()) diagnostics.AddFile(options.sourcePath);
  // Names reach the object file, whose records hold at most 255 characters per name, with a
  // leading underscore and a suffix for statics.
  constexpr size_t kMaxIdentifier = 200;
  for (const TToken& t : tokens) {
    if (t.kind == TTokenKind::Identifier && t.text.size() > kMaxIdentifier) {
      diagnostics.Error(t.file, t.line,
                        "Identifier too long: '" + t.text.substr(0, 32) + "...' has " +
                            std::to_string(t.text.size()) + " characters, at most " +
                            std::to_string(kMaxIdentifier) + " are allowed");
      return result;
    }
  }
  const std::vector<TToken> cTokens = WithoutStrayCharacters(tokens, diagnostics);
  detail::TCompiler compiler(cTokens, options, diagnostics);
  const int errorsBefore = diagnostics.errors();
  if (!compiler.Run() || diagnostics.errors() > errorsBefore) return result;

  TTempFile temp;
  {
    std::ofstream out(temp.path(), std::ios::binary);
    out << compiler.assembly;
    if (temp.path().empty() || !out) {
      diagnostics.Error(0, 0, "Unable to write a temporary file in the temporary folder");
      return result;
    }
  }
  TAssembleOptions ao;
  ao.sourcePath = temp.path();
  ao.caseSensitive = true;
  ao.lineNumbers = true;
  TAssembly assembly = Assemble(ao);
  const std::vector<detail::TAsmLine>& lines = compiler.asmLines;
  auto origin = [&](int asmLine) -> const detail::TAsmLine* {
    if (asmLine < 1 || size_t(asmLine) > lines.size()) return nullptr;
    return &lines[size_t(asmLine) - 1];
  };
  // The tiny model keeps code, and data, within 64 KB each. Past that the program, not the
  // compiler, is too big: one message each at the first line past the limit, and nothing of
  // what follows from it (offsets out of range) as an internal error.
  bool codeTooLarge = false, dataTooLarge = false;
  for (const TMessage& m : assembly.messages) {
    if (m.warning || !m.text.starts_with("Segment exceeds 64 KB")) continue;
    const bool code = m.text.find("_TEXT") != std::string::npos;
    bool& said = code ? codeTooLarge : dataTooLarge;
    if (said) continue;
    said = true;
    const detail::TAsmLine* at = origin(m.line);
    diagnostics.Error(at && at->file >= 0 ? at->file : 0, at ? at->line : 0,
                      code ? "Too much code: the program's code exceeds 64 KB from here on"
                           : "Too much global data: it exceeds 64 KB from here on");
  }
  const bool tooLarge = codeTooLarge || dataTooLarge;
  for (const TMessage& m : assembly.messages) {
    if (m.warning || tooLarge) continue;
    const detail::TAsmLine* at = origin(m.line);
    int file = at && at->file >= 0 ? at->file : 0;
    int line = at ? at->line : 0;
    if (at && at->user) diagnostics.Error(file, line, "asm: " + m.text);
    else
      diagnostics.Error(file, line,
                        "Internal error: " + m.text + (at ? " in '" + at->text + "'" : ""));
  }
  if (assembly.errors() > 0 || diagnostics.errors() > errorsBefore) return result;

  result.module = std::move(assembly.module);
  result.module.name = options.sourcePath;
  result.module.translator = "Corvale C compiler 1.0";
  // The assembler's own records count assembly lines in 16 bits; its listing does not.
  std::vector<omf::TLineNumber> records;
  int text = 0;
  for (size_t i = 0; i < assembly.segments.size(); ++i)
    if (assembly.segments[i].name == "_TEXT") text = int(i) + 1;
  if (options.lineNumbers) {
    for (const TListedLine& l : assembly.lines) {
      if (l.includeLevel != 0 || l.bytes.empty() || l.segment != text) continue;
      const detail::TAsmLine* at = origin(l.line);
      if (!at || !at->statementStart || at->file != 0) continue;
      if (!records.empty() && l.offset <= records.back().offset) continue;
      records.push_back({text, uint16_t(std::min(at->line, 0xFFFF)), l.offset});
    }
  }
  result.module.lines = std::move(records);
  result.assembly = compiler.assembly;
  result.ok = true;
  return result;
}

}  // namespace comp86::cc
