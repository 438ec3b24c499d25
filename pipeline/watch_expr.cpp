#include "watch_expr.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

#include "dos_names.h"
#include "mem_image.h"

namespace {

using S = TCPUState;

struct TRegisterName {
  std::string_view name;
  uint32_t S::*wide;     // general registers, IP and the flags
  uint16_t S::*segment;  // segment registers
  int size;
  int shift;       // 8 for AH..DH
  bool addresses;  // may stand in a memory operand
};

constexpr TRegisterName Reg32(std::string_view name, uint32_t S::*reg, bool addresses = true) {
  return {name, reg, nullptr, 4, 0, addresses};
}
constexpr TRegisterName Reg16(std::string_view name, uint32_t S::*reg, bool addresses = false) {
  return {name, reg, nullptr, 2, 0, addresses};
}
constexpr TRegisterName Reg8(std::string_view name, uint32_t S::*reg, int shift) {
  return {name, reg, nullptr, 1, shift, false};
}
constexpr TRegisterName SegReg(std::string_view name, uint16_t S::*reg) {
  return {name, nullptr, reg, 2, 0, false};
}

constexpr std::array<TRegisterName, 34> kRegisters = {
    Reg32("EAX", &S::EAX),        Reg32("EBX", &S::EBX),
    Reg32("ECX", &S::ECX),        Reg32("EDX", &S::EDX),
    Reg32("ESP", &S::ESP),        Reg32("EBP", &S::EBP),
    Reg32("ESI", &S::ESI),        Reg32("EDI", &S::EDI),
    Reg32("EIP", &S::EIP, false), Reg32("EFLAGS", &S::EFLAGS, false),
    Reg16("AX", &S::EAX),         Reg16("BX", &S::EBX, true),
    Reg16("CX", &S::ECX),         Reg16("DX", &S::EDX),
    Reg16("SP", &S::ESP),         Reg16("BP", &S::EBP, true),
    Reg16("SI", &S::ESI, true),   Reg16("DI", &S::EDI, true),
    Reg16("IP", &S::EIP),         Reg16("FLAGS", &S::EFLAGS),
    Reg8("AL", &S::EAX, 0),       Reg8("BL", &S::EBX, 0),
    Reg8("CL", &S::ECX, 0),       Reg8("DL", &S::EDX, 0),
    Reg8("AH", &S::EAX, 8),       Reg8("BH", &S::EBX, 8),
    Reg8("CH", &S::ECX, 8),       Reg8("DH", &S::EDX, 8),
    SegReg("CS", &S::CS),         SegReg("DS", &S::DS),
    SegReg("ES", &S::ES),         SegReg("SS", &S::SS),
    SegReg("FS", &S::FS),         SegReg("GS", &S::GS),
};
constexpr std::array<std::string_view, 6> kSegmentNames = {"CS", "DS", "ES", "SS", "FS", "GS"};

const TRegisterName* FindRegister(std::string_view upper) {
  for (const TRegisterName& reg : kRegisters)
    if (reg.name == upper) return &reg;
  return nullptr;
}

uint32_t RegisterValue(const TRegisterName& reg, const TCPUState& cpu) {
  if (reg.segment) return cpu.*reg.segment;
  const uint32_t all = cpu.*reg.wide >> reg.shift;
  return reg.size == 4 ? all : all & (reg.size == 2 ? 0xFFFFu : 0xFFu);
}

std::optional<TWatchSegment> SegmentOf(std::string_view upper) {
  for (size_t i = 0; i < kSegmentNames.size(); ++i)
    if (kSegmentNames[i] == upper) return TWatchSegment(i);
  return std::nullopt;
}

uint16_t SegmentBase(const TCPUState& cpu, TWatchSegment segment) {
  const std::array<uint16_t, 6> values = {cpu.CS, cpu.DS, cpu.ES, cpu.SS, cpu.FS, cpu.GS};
  return values[size_t(segment)];
}

int TypeSize(std::string_view type) {
  if (type == "BYTE") return 1;
  if (type == "WORD") return 2;
  if (type == "DWORD") return 4;
  return 0;
}

bool NameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '?' || c == '@' ||
         c == '$';
}
bool NameChar(char c) { return NameStart(c) || (c >= '0' && c <= '9'); }

// A number as assembly writes it: decimal, hex with an H suffix (0FFH) or a 0x prefix; the
// reason in `error` when it is none or does not fit 32 bits.
std::optional<uint32_t> ParseNumber(std::string_view text, std::string& error) {
  int base = 10;
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  } else if (digits.size() > 1 && (digits.back() == 'h' || digits.back() == 'H')) {
    base = 16;
    digits.remove_suffix(1);
  }
  uint32_t value = 0;
  const auto [end, code] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (code == std::errc() && end == digits.data() + digits.size()) return value;
  error = code == std::errc::result_out_of_range ? fmt::format("数太大（超过32位）：{}", text)
                                                 : fmt::format("数字写错了：{}", text);
  return std::nullopt;
}

std::string OffsetText(uint32_t offset, bool wide) {
  return fmt::format("{:0{}X}", offset, wide ? 8 : 4);
}

// The parts of an expression as they are read; resolved into a location at the end.
class TParser {
 public:
  TParser(std::string_view text, const TWatchContext& context) : text_(text), context_(context) {}

  TWatchResult Run() {
    Skip();
    if (AtEnd()) return Fail("表达式是空的");
    if (!ReadSizeOverride() || !ReadSegmentOverride() || !ReadSum()) return Fail();
    Skip();
    if (!AtEnd()) return Fail(fmt::format("多余的内容“{}”", text_.substr(at_)));
    return Resolve();
  }

 private:
  bool AtEnd() const { return at_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[at_]; }
  void Skip() {
    while (!AtEnd() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
  }
  bool SetError(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
  }
  TWatchResult Fail(std::string message = {}) {
    if (!message.empty()) SetError(std::move(message));
    return {std::nullopt, error_};
  }

  // The word at the cursor, upper-cased, without consuming it; empty when none stands there.
  std::string PeekWord(size_t* end = nullptr) {
    Skip();
    size_t stop = at_;
    if (!AtEnd() && NameStart(text_[at_])) {
      while (stop < text_.size() && NameChar(text_[stop])) ++stop;
    }
    if (end) *end = stop;
    return UpperAscii(text_.substr(at_, stop - at_));
  }

  bool ReadSizeOverride() {
    size_t end = 0;
    const std::string word = PeekWord(&end);
    const int size = TypeSize(word);
    if (!size) return true;
    at_ = end;
    size_ = size;
    if (PeekWord(&end) == "PTR") at_ = end;
    Skip();
    return AtEnd() ? SetError("表达式不完整：" + word + " 后面缺少内存操作数") : true;
  }

  bool ReadSegmentOverride() {
    size_t end = 0;
    const std::optional<TWatchSegment> segment = SegmentOf(PeekWord(&end));
    if (!segment) return true;
    size_t colon = end;
    while (colon < text_.size() && text_[colon] == ' ') ++colon;
    if (colon >= text_.size() || text_[colon] != ':') return true;  // the register itself
    segmentOverride_ = segment;
    at_ = colon + 1;
    Skip();
    return AtEnd() ? SetError("表达式不完整：段前缀后面缺少偏移") : true;
  }

  // [+|-] term (+|- term)*
  bool ReadSum() {
    bool negative = false;
    Skip();
    if (Peek() == '+' || Peek() == '-') {
      negative = Peek() == '-';
      ++at_;
    }
    for (;;) {
      if (!ReadTerm(negative)) return false;
      Skip();
      if (Peek() == '[') {  // [BX][SI] is [BX+SI]
        negative = false;
        continue;
      }
      if (Peek() != '+' && Peek() != '-') return true;
      negative = Peek() == '-';
      ++at_;
    }
  }

  bool ReadTerm(bool negative) {
    Skip();
    if (AtEnd()) return SetError("表达式不完整");
    const char c = Peek();
    if (c == '[') {
      if (negative) return SetError("方括号前不能用减号");
      return ReadBrackets();
    }
    if (c >= '0' && c <= '9') {
      size_t stop = at_;
      while (stop < text_.size() && NameChar(text_[stop])) ++stop;
      const std::string_view word = text_.substr(at_, stop - at_);
      std::string error;
      const std::optional<uint32_t> number = ParseNumber(word, error);
      if (!number) return SetError(error);
      at_ = stop;
      constant_ += negative ? -int64_t(*number) : int64_t(*number);
      return true;
    }
    if (!NameStart(c)) return SetError(fmt::format("不认识的符号“{}”", c));
    size_t end = 0;
    const std::string word = PeekWord(&end);
    const std::string_view original = text_.substr(at_, end - at_);
    at_ = end;
    if (const TRegisterName* reg = FindRegister(word)) {
      if (negative) return SetError(fmt::format("寄存器 {} 前不能用减号", word));
      int scale = 1;
      Skip();
      if (Peek() == '*') {  // TABLE[ESI*4]
        ++at_;
        Skip();
        const char factor = Peek();
        if (factor != '1' && factor != '2' && factor != '4' && factor != '8')
          return SetError("比例因子只能是 1、2、4 或 8");
        if (reg->size != 4 || !reg->addresses)
          return SetError(fmt::format("{} 不能乘比例因子，只有32位通用寄存器可以", reg->name));
        ++at_;
        scale = factor - '0';
      }
      registers_.push_back({reg, scale});
      return true;
    }
    if (TypeSize(word) || word == "PTR") return SetError(fmt::format("{} 只能写在最前面", word));
    if (word == "OFFSET") return ReadOffset(negative);
    const TWatchRow* row = FindVariable(word);
    if (!row) return SetError(fmt::format("未知的名字 {}", original));
    if (negative) return SetError(fmt::format("变量 {} 前不能用减号", original));
    if (variable_) return SetError("一个表达式里只能有一个变量");
    variable_ = row;
    Skip();
    return Peek() == '[' ? ReadBrackets() : true;  // ARR[SI] is [ARR+SI]
  }

  const TWatchRow* FindVariable(std::string_view upper) const {
    for (const TWatchRow& row : context_.variables)
      if (UpperAscii(row.name) == upper) return &row;
    return nullptr;
  }

  // OFFSET NAME: the variable's offset, a constant.
  bool ReadOffset(bool negative) {
    size_t end = 0;
    const std::string name = PeekWord(&end);
    if (name.empty()) return SetError("表达式不完整：OFFSET 后面缺少变量名");
    const TWatchRow* row = FindVariable(name);
    if (!row)
      return SetError(fmt::format("OFFSET 后面要写变量名：{}", text_.substr(at_, end - at_)));
    at_ = end;
    const std::optional<TWatchLocation> at = VariableLocation(*row, context_);
    if (!at) return SetError(fmt::format("变量 {} 没有地址", row->name));
    constant_ += negative ? -int64_t(at->offset) : int64_t(at->offset);
    return true;
  }

  bool ReadBrackets() {
    ++at_;  // '['
    if (++depth_ > 8) return SetError("方括号太多");
    brackets_ = true;
    if (!ReadSum()) return false;
    Skip();
    if (Peek() != ']') return SetError(AtEnd() ? "表达式不完整：缺少 ]" : "缺少 ]");
    ++at_;
    --depth_;
    return true;
  }

  TWatchResult Resolve() {
    const TCPUState& cpu = context_.cpu;
    const bool memory = brackets_ || variable_ || segmentOverride_;
    if (!memory) {
      if (size_) return Fail("BYTE/WORD/DWORD 只能用于内存操作数，例如 BYTE [SI]");
      TWatchLocation value;
      uint64_t sum = uint64_t(constant_);
      int size = registers_.empty() ? (uint64_t(constant_) <= 0xFFFF ? 2 : 4) : 1;
      for (const auto& [reg, scale] : registers_) {
        sum += uint64_t(RegisterValue(*reg, cpu)) * uint64_t(scale);
        size = std::max(size, reg->size);
      }
      value.size = size;
      value.value = uint32_t(sum) & (size == 4 ? 0xFFFFFFFFu : (1u << (size * 8)) - 1);
      return {value, {}};
    }
    bool wide = false;
    bool stackBase = false;
    uint64_t offset = uint64_t(constant_);
    for (const auto& [reg, scale] : registers_) {
      if (!reg->addresses) return Fail(fmt::format("寄存器 {} 不能用在内存地址里", reg->name));
      wide = wide || reg->size == 4;
      stackBase = stackBase || reg->name == "BP" || reg->name == "EBP" || reg->name == "ESP";
      offset += uint64_t(RegisterValue(*reg, cpu)) * uint64_t(scale);
    }
    TWatchLocation location;
    if (variable_) {
      const std::optional<TWatchLocation> at = VariableLocation(*variable_, context_);
      if (!at) return Fail(fmt::format("变量 {} 没有地址", variable_->name));
      location = *at;
      offset += at->offset;
    }
    offset &= wide ? 0xFFFFFFFFu : 0xFFFFu;
    const std::string offsetText = OffsetText(uint32_t(offset), wide);
    if (segmentOverride_ || !variable_) {
      location.segment =
          segmentOverride_.value_or(stackBase ? TWatchSegment::SS : TWatchSegment::DS);
      location.linear = TMemImage::Linear(SegmentBase(cpu, location.segment), 0) + uint32_t(offset);
      location.address = std::string(kSegmentNames[size_t(location.segment)]) + ":" + offsetText;
    } else {
      // The variable's own segment, wherever it was loaded.
      location.linear += uint32_t(offset) - location.offset;
      location.address = location.address.substr(0, location.address.find(':') + 1) + offsetText;
    }
    location.inMemory = true;
    location.offset = uint32_t(offset);
    if (size_) location.size = size_;
    else if (!variable_) location.size = 2;
    return {location, {}};
  }

  std::string_view text_;
  const TWatchContext& context_;
  size_t at_ = 0;
  int depth_ = 0;
  std::string error_;
  int size_ = 0;
  std::optional<TWatchSegment> segmentOverride_;
  bool brackets_ = false;
  int64_t constant_ = 0;
  struct TScaledRegister {
    const TRegisterName* reg;
    int scale;
  };
  std::vector<TScaledRegister> registers_;
  const TWatchRow* variable_ = nullptr;
};

std::string AssemblyHex(uint32_t value, int size) {
  std::string digits = fmt::format("{:0{}X}", value, size * 2);
  if (digits.front() > '9') digits.insert(0, "0");
  return digits + "H";
}

}  // namespace

TWatchResult EvaluateWatch(std::string_view expression, const TWatchContext& context) {
  // Long enough for any sensible operand; the sum of its constants then stays far from
  // overflowing.
  if (expression.size() > 200) return {std::nullopt, "表达式太长"};
  return TParser(expression, context).Run();
}

std::optional<TWatchLocation> VariableLocation(const TWatchRow& row, const TWatchContext& context,
                                               int unknownSize) {
  const std::string_view address = row.address;
  if (address.size() < 4) return std::nullopt;
  uint16_t offset = 0;
  const char* first = address.data() + address.size() - 4;
  const auto [end, error] = std::from_chars(first, address.data() + address.size(), offset, 16);
  if (error != std::errc() || end != address.data() + address.size()) return std::nullopt;
  TWatchLocation location;
  location.inMemory = true;
  location.size = TypeSize(UpperAscii(row.type));
  if (!location.size) location.size = unknownSize;
  location.segment = TWatchSegment::DS;
  location.offset = offset;
  const uint16_t ds = context.cpu.DS;
  const bool placed = row.segmentStart && !context.variablesAtDs;
  location.linear = placed ? *row.segmentStart + offset : TMemImage::Linear(ds, offset);
  // DS names the segment once the program has pointed it there.
  const bool atDs = !placed || *row.segmentStart == TMemImage::Linear(ds, 0);
  const size_t colon = address.find(':');
  const std::string_view segmentName =
      atDs || colon == std::string_view::npos ? "DS" : address.substr(0, colon);
  location.address = std::string(segmentName) + ":" + OffsetText(offset, false);
  return location;
}

std::string_view SizeTypeName(int size) {
  return size == 1 ? "BYTE" : size == 4 ? "DWORD" : "WORD";
}

uint32_t ReadWatchElement(const TMemImage& memory, const TWatchLocation& location, int index) {
  if (!location.inMemory) return index == 0 ? location.value : 0;
  const uint32_t first = location.linear + uint32_t(index) * uint32_t(location.size);
  uint32_t value = 0;
  for (int i = location.size - 1; i >= 0; --i)
    value = value << 8 | memory.Byte(first + uint32_t(i));
  return value;
}

std::string WatchElementText(uint32_t value, int size, TWatchFormat format) {
  const int bits = size * 8;
  switch (format) {
    case TWatchFormat::Hex: return fmt::format("{:0{}X}", value, size * 2);
    case TWatchFormat::Decimal: return std::to_string(value);
    case TWatchFormat::Signed: {
      const int64_t sign = int64_t(1) << (bits - 1);
      const int64_t v = int64_t(value);
      return std::to_string(v & sign ? v - 2 * sign : v);
    }
    case TWatchFormat::Chars: {
      std::string chars;
      for (int i = 0; i < size; ++i) {
        const char c = char(value >> (8 * i) & 0xFF);
        if (c < 0x20 || c > 0x7E) return fmt::format("{:0{}X}", value, size * 2);
        chars.push_back(c);
      }
      return "'" + chars + "'";
    }
  }
  return {};
}

std::string WatchHoverText(std::string_view name, const TWatchLocation& location, uint32_t value) {
  std::string values = fmt::format("{}  {}", AssemblyHex(value, location.size), value);
  // A negative number's value as a signed one too.
  const std::string signedText = WatchElementText(value, location.size, TWatchFormat::Signed);
  if (signedText.front() == '-') values += " (" + signedText + ")";
  if (!location.inMemory) return fmt::format("{} = {}", name, values);
  return fmt::format("{} ({}) {} = {}", name, SizeTypeName(location.size), location.address,
                     values);
}
