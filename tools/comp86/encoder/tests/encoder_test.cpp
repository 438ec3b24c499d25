#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "asm_text.h"
#include "encoder.h"
#include "encoding_table.h"

namespace comp86 {
namespace {

using asmtext::Bytes;
using asmtext::Context;
using asmtext::Hex;

std::string Error(const std::string& text, const TEncodeContext& ctx = Context(16)) {
  return Encode(asmtext::Parse(text), ctx).error;
}

TEST(EncoderTable, EveryFamilyMatchesTheReferenceBytes) {
  for (const asmtext::TTableEntry& e : asmtext::kTable)
    EXPECT_EQ(Bytes(e.text, Context(e.bits)), e.hex) << e.bits << "-bit: " << e.text;
}

TEST(EncoderTable, MnemonicsAndPrefixesAreKnown) {
  for (const char* name : {"MOV", "REP", "LOCK", "JNBE", "SETPO", "LOOPZ", "MOVSD", "IRETD", "LGDT",
                           "XLAT", "CMPS", "INT3"})
    EXPECT_TRUE(IsMnemonic(name)) << name;
  EXPECT_FALSE(IsMnemonic("MOVE"));
  EXPECT_FALSE(IsMnemonic("mov"));
  EXPECT_FALSE(IsMnemonic(""));
}

// The opcode byte after the prefixes, "0F xx" for the two-byte map.
std::string Opcode(const std::vector<uint8_t>& bytes) {
  size_t i = 0;
  while (i < bytes.size() &&
         (bytes[i] == 0x26 || bytes[i] == 0x2E || bytes[i] == 0x36 || bytes[i] == 0x3E ||
          bytes[i] == 0x64 || bytes[i] == 0x65 || bytes[i] == 0x66 || bytes[i] == 0x67 ||
          bytes[i] == 0xF0 || bytes[i] == 0xF2 || bytes[i] == 0xF3))
    ++i;
  if (i >= bytes.size()) return "";
  if (bytes[i] == 0x0F && i + 1 < bytes.size()) return Hex({0x0F, bytes[i + 1]});
  return Hex({bytes[i]});
}

// Every opcode the simulator's one-byte and 0Fh maps execute has a source form. Prefix bytes
// are covered by the table (segment overrides, 66h/67h, LOCK, REP) and 82h, an undocumented
// alias of 80h, is never produced by an assembler.
TEST(EncoderTable, CoversEveryOpcodeTheSimulatorRuns) {
  std::vector<std::string> texts;
  const char* alu[] = {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"};
  for (const char* m : alu)
    for (const char* ops : {"[bx], al", "[bx], ax", "al, [bx]", "ax, [bx]", "al, 1", "ax, 300",
                            "byte [bx], 1", "word [bx], 300", "word [bx], 1"})
      texts.push_back(std::string(m) + " " + ops);
  const char* r16[] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
  const char* r8[] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
  for (int r = 0; r < 8; ++r) {
    for (const char* m : {"inc", "dec", "push", "pop"})
      texts.push_back(std::string(m) + " " + r16[r]);
    texts.push_back(std::string("xchg ax, ") + r16[r]);
    texts.push_back(std::string("mov ") + r8[r] + ", 1");
    texts.push_back(std::string("mov ") + r16[r] + ", 1");
  }
  const char* cc[] = {"o", "no", "b", "ae", "e", "ne", "be", "a",
                      "s", "ns", "p", "np", "l", "ge", "le", "g"};
  for (const char* c : cc) {
    texts.push_back(std::string("j") + c + " $$+2");
    texts.push_back(std::string("j") + c + " near $$+0x200");
    texts.push_back(std::string("set") + c + " al");
  }
  const std::string others =
      "test [bx], al; test [bx], ax; test al, 1; test ax, 300; imul ax, bx, 300; "
      "imul ax, bx, 3; rol al, 3; rol ax, 3; rol al, 1; rol ax, 1; rol al, cl; rol ax, cl; "
      "neg al; neg ax; inc byte [bx]; mov [bx], al; mov [bx], ax; mov al, [bx]; "
      "mov ax, [bx]; mov ax, es; mov es, ax; mov al, [1]; mov ax, [1]; mov [1], al; "
      "mov [1], ax; mov byte [bx], 1; mov word [bx], 1; xchg [bx], al; xchg [bx], ax; nop; "
      "wait; lea ax, [bx]; cbw; cwd; xlatb; les ax, [bx]; lds ax, [bx]; push es; push cs; "
      "push ss; push ds; pop es; pop ss; pop ds; push 300; push 1; pop word [bx]; pusha; "
      "popa; pushf; popf; enter 1, 0; leave; movsb; movsw; cmpsb; cmpsw; stosb; stosw; "
      "lodsb; lodsw; scasb; scasw; insb; insw; outsb; outsw; in al, 1; in ax, 1; out 1, al; "
      "out 1, ax; in al, dx; in ax, dx; out dx, al; out dx, ax; bound ax, [bx]; arpl ax, bx; "
      "loopne $$; loope $$; loop $$; jcxz $$; jmp short $$; jmp near $$; jmp 1:2; call $$; "
      "call 1:2; ret 2; ret; retf 2; retf; int 3; into; int 0x21; iret; hlt; jmp ax; daa; "
      "das; aaa; aas; aam; aad; sahf; lahf; cmc; clc; stc; cli; sti; cld; std; imul ax, bx; "
      "bt ax, bx; bts ax, bx; btr ax, bx; btc ax, bx; bt ax, 1; shld ax, bx, 1; "
      "shld ax, bx, cl; shrd ax, bx, 1; shrd ax, bx, cl; bsf ax, bx; bsr ax, bx; "
      "movzx ax, bl; movzx eax, bx; movsx ax, bl; movsx eax, bx; lss ax, [bx]; lfs ax, [bx]; "
      "lgs ax, [bx]; push fs; push gs; pop fs; pop gs; sldt ax; lgdt [bx]; lar ax, bx; "
      "lsl ax, bx; clts; mov eax, cr0; mov eax, dr0; mov cr0, eax; mov dr0, eax; "
      "mov eax, tr6; mov tr6, eax";
  for (size_t i = 0; i < others.size();) {
    const size_t end = std::min(others.find(';', i), others.size());
    texts.push_back(others.substr(i, end - i));
    i = end + 1;
  }
  std::set<std::string> produced;
  for (const std::string& t : texts) {
    const TEncodeResult r = Encode(asmtext::Parse(t), Context(16));
    EXPECT_EQ(r.error, "") << t;
    produced.insert(Opcode(r.bytes));
  }
  std::set<int> oneByte, twoByte;
  auto range = [](std::set<int>& set, int from, int to) {
    for (int op = from; op <= to; ++op) set.insert(op);
  };
  for (int op = 0; op < 0x40; ++op)
    if ((op & 7) < 6) oneByte.insert(op);
  for (int op : {0x06, 0x07, 0x0E, 0x16, 0x17, 0x1E, 0x1F, 0x27, 0x2F, 0x37, 0x3F})
    oneByte.insert(op);
  range(oneByte, 0x40, 0x63);
  range(oneByte, 0x68, 0x81);
  range(oneByte, 0x83, 0xD5);
  range(oneByte, 0xD7, 0xD7);
  range(oneByte, 0xE0, 0xEF);
  range(oneByte, 0xF4, 0xFF);
  twoByte = {0x00, 0x01, 0x02, 0x03, 0x06, 0x20, 0x21, 0x22, 0x23, 0x24, 0x26, 0xA0,
             0xA1, 0xA3, 0xA4, 0xA5, 0xA8, 0xA9, 0xAB, 0xAC, 0xAD, 0xAF, 0xB2, 0xB3,
             0xB4, 0xB5, 0xB6, 0xB7, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF};
  range(twoByte, 0x80, 0x9F);
  for (int op : oneByte) EXPECT_TRUE(produced.count(Hex({uint8_t(op)}))) << std::hex << op;
  for (int op : twoByte)
    EXPECT_TRUE(produced.count(Hex({0x0F, uint8_t(op)}))) << "0F " << std::hex << op;
}

TEST(EncoderErrors, OperandSizes) {
  EXPECT_EQ(Error("mov ax, bl"), "Operand types do not match");
  EXPECT_EQ(Error("add al, word [bx]"), "Operand types do not match");
  EXPECT_EQ(Error("movzx ax, ax"), "Operand types do not match");
  EXPECT_EQ(Error("mov [bx], 1"), "Operand size not specified; use BYTE PTR or WORD PTR");
  EXPECT_EQ(Error("inc [bx]"), "Operand size not specified; use BYTE PTR or WORD PTR");
  EXPECT_EQ(Error("movs [di], [si]"), "Operand size not specified; use BYTE PTR or WORD PTR");
}

TEST(EncoderErrors, AddressingModes) {
  for (const char* text : {"mov ax, [ax]", "mov ax, [bx+bp]", "mov ax, [si+di]", "mov ax, [bx*2]",
                           "mov ax, [esp*2]", "mov ax, [esp+esp]"})
    EXPECT_EQ(Error(text), "Illegal addressing mode") << text;
}

TEST(EncoderErrors, ValueRanges) {
  for (const char* text :
       {"mov al, 300", "mov al, -129", "mov ax, 65536", "mov ax, -32769", "add byte [bx], 256",
        "int 256", "in al, 256", "shl ax, 256", "ret 0x10000", "mov ax, [bx+0x10000]"})
    EXPECT_TRUE(Error(text).starts_with("Value out of range")) << text;
  EXPECT_EQ(Error("out 300h, al"),
            "Value out of range: a port above 0FFh is reached through DX (MOV DX,port)");
  // Bytes and words take both signed and unsigned spellings.
  EXPECT_EQ(Bytes("mov al, -128", Context(16)), "B0 80");
  EXPECT_EQ(Bytes("mov al, 255", Context(16)), "B0 FF");
  EXPECT_EQ(Bytes("mov ax, -32768", Context(16)), "B8 00 80");
  EXPECT_EQ(Bytes("mov ax, 65535", Context(16)), "B8 FF FF");
}

TEST(EncoderErrors, ProcessorAndPrivilege) {
  const std::string use386 = "Illegal instruction for the selected processor; use .386";
  const std::string use186 = "Illegal instruction for the selected processor; use .186";
  EXPECT_EQ(Error("movzx ax, bl", Context(16, 86)), use386);
  EXPECT_EQ(Error("mov eax, 1", Context(16, 286)), use386);
  EXPECT_EQ(Error("mov ax, [ebx]", Context(16, 286)), use386);
  EXPECT_EQ(Error("mov fs, ax", Context(16, 286)), use386);
  EXPECT_EQ(Error("jne near 0x300", Context(16, 286)), use386);
  EXPECT_EQ(Error("push 5", Context(16, 86)), use186);
  EXPECT_EQ(Error("shl ax, 3", Context(16, 86)), use186);
  EXPECT_EQ(Error("lgdt [bx]", Context(16, 86)),
            "Illegal instruction for the selected processor; use .286");
  const std::string privileged = "Privileged instruction needs .286P or .386P";
  EXPECT_EQ(Error("lgdt [bx]", Context(16, 386, false)), privileged);
  EXPECT_EQ(Error("mov cr0, eax", Context(16, 386, false)), privileged);
  EXPECT_EQ(Error("clts", Context(16, 286, false)), privileged);
  EXPECT_EQ(Bytes("shl ax, 1", Context(16, 86)), "D1 E0");
}

TEST(EncoderErrors, ImpossibleOperands) {
  for (const char* text :
       {"mov 5, ax", "mov [bx], [si]", "lea ax, bx", "add cs, ax", "push al", "in bl, dx",
        "out dx, bl", "mov eax, cr0, 1", "jmp al", "mov cr0, ax", "call short 0x10",
        "movs word [di], ax", "int ax", "lgdt ax", "xchg [bx], [si]"})
    EXPECT_FALSE(Error(text).empty()) << text;
  // The mistakes students make most say what is wrong.
  const std::pair<const char*, const char*> said[] = {
      {"mov 5, ax", "Illegal operand: a constant cannot be the destination"},
      {"mov [bx], [si]", "Illegal operand: two memory operands; move one through a register"},
      {"mov es, ds",
       "Illegal operand: one segment register is not loaded from another; go through a general "
       "register"},
      {"push al", "Illegal operand: PUSH moves a word, not a byte"},
      {"out dx, bl", "Illegal operand: OUT moves AL, AX or EAX only"},
      {"mul 5", "Illegal operand: MUL takes a register or a variable, not a constant"},
  };
  for (const auto& [text, message] : said) EXPECT_EQ(Error(text), message) << text;
  EXPECT_EQ(Error("mov ds, 5"),
            "A segment register cannot be loaded with a constant; load a general register first");
  EXPECT_FALSE(Error("pop cs").empty());
  EXPECT_FALSE(Error("mov cs, ax").empty());
  EXPECT_EQ(Error("movs word [ds:di], [si]"),
            "The destination of a string instruction must be in ES");
  EXPECT_EQ(Error("mov ax"), "Wrong number of operands");
  EXPECT_EQ(Error("nop ax"), "Wrong number of operands");
  EXPECT_EQ(Error("frob ax"), "Unknown instruction: FROB");
}

TEST(EncoderJumps, ShortFormWhenTheTargetReaches) {
  TEncodeContext ctx = Context(16);
  ctx.offset = 0x100;
  TEncodeResult r = Encode(asmtext::Parse("jmp 0x181"), ctx);  // 0x181 - 0x102 = 127
  EXPECT_EQ(Hex(r.bytes), "EB 7F");
  EXPECT_TRUE(r.usedShortJump);
  r = Encode(asmtext::Parse("jmp 0x82"), ctx);  // 0x82 - 0x102 = -128
  EXPECT_EQ(Hex(r.bytes), "EB 80");
  r = Encode(asmtext::Parse("jmp 0x81"), ctx);  // one byte too far: near, from 0x103
  EXPECT_EQ(Hex(r.bytes), "E9 7E FF");
  EXPECT_FALSE(r.usedShortJump);
  ctx.keepLongJump = true;
  EXPECT_EQ(Bytes("jmp 0x110", ctx), "E9 0D 00");
  EXPECT_EQ(Bytes("je 0x110", ctx), "0F 84 0C 00");
  EXPECT_EQ(Bytes("jmp short 0x110", ctx), "EB 0E");
  // Before the 386 a conditional jump has only the short form.
  ctx.cpu = 286;
  r = Encode(asmtext::Parse("je 0x110"), ctx);
  EXPECT_EQ(Hex(r.bytes), "74 0E");
  EXPECT_TRUE(r.usedShortJump);
}

TEST(EncoderJumps, OutOfRangeSaysByHowMuch) {
  EXPECT_EQ(Error("jmp short 0x200"), "Relative jump out of range by 383 bytes");
  EXPECT_EQ(Error("je 0x200", Context(16, 286)), "Relative jump out of range by 383 bytes");
  TEncodeContext ctx = Context(16, 86);
  ctx.offset = 0x200;
  EXPECT_EQ(Error("loop 0x100", ctx), "Relative jump out of range by 130 bytes");
  EXPECT_EQ(Error("jz $s2", Context(16, 286)),
            "A short jump cannot reach a label in another segment");
}

TEST(EncoderJumps, ForwardReferencesKeepTheLongForm) {
  const TEncodeContext ctx = Context(16);
  EXPECT_EQ(Bytes("jmp ?", ctx), "E9 00 00");
  EXPECT_EQ(Bytes("jmp short ?", ctx), "EB 00");
  EXPECT_EQ(Bytes("je ?", ctx), "0F 84 00 00");
  EXPECT_EQ(Bytes("je ?", Context(16, 286)), "74 00");
  EXPECT_EQ(Bytes("jmp far ?", ctx), "EA 00 00 00 00");
  EXPECT_EQ(Bytes("add ax, ?", ctx), "05 00 00");
  EXPECT_EQ(Bytes("mov ax, [bx+?]", ctx), "8B 87 00 00");
  EXPECT_EQ(Bytes("mov ax, [ebx+?]", ctx), "67 8B 83 00 00 00 00");
  EXPECT_TRUE(Encode(asmtext::Parse("jmp ?"), ctx).fixups.empty());
}

struct TFixupCase {
  int bits;
  const char* text;
  const char* hex;
  uint32_t at;
  omf::TFixupKind kind;
  bool selfRelative;
  omf::TRefKind target;
};

TEST(EncoderFixups, RelocatableValuesAskTheLinker) {
  using K = omf::TFixupKind;
  using R = omf::TRefKind;
  const TFixupCase cases[] = {
      {16, "mov ax, $s2+4", "B8 04 00", 1, K::Offset16, false, R::Segment},
      {16, "mov ax, seg $s2", "B8 00 00", 1, K::Segment16, false, R::Segment},
      {16, "mov ax, [$s2+6]", "A1 06 00", 1, K::Offset16, false, R::Segment},
      {16, "mov bx, [bx+$s2+6]", "8B 9F 06 00", 2, K::Offset16, false, R::Segment},
      {16, "mov word [es:$ext], 5", "26 C7 06 00 00 05 00", 3, K::Offset16, false, R::External},
      {16, "add ax, $s1", "05 00 00", 1, K::Offset16, false, R::Segment},
      {16, "mov al, $s2+1", "B0 01", 1, K::LowByte, false, R::Segment},
      {32, "mov eax, [$s2]", "A1 00 00 00 00", 1, K::Offset32, false, R::Segment},
      {16, "push $s2", "68 00 00", 1, K::Offset16, false, R::Segment},
      {16, "call $ext", "E8 00 00", 1, K::Offset16, true, R::External},
      {16, "jmp $s2+0x10", "E9 10 00", 1, K::Offset16, true, R::Segment},
      {16, "jne $ext", "0F 85 00 00", 2, K::Offset16, true, R::External},
      {32, "call $ext", "E8 00 00 00 00", 1, K::Offset32, true, R::External},
      {16, "jmp far $s2+0x10", "EA 10 00 00 00", 1, K::Pointer32, false, R::Segment},
      {16, "call far $ext", "9A 00 00 00 00", 1, K::Pointer32, false, R::External},
      {32, "jmp far $s2", "EA 00 00 00 00 00 00", 1, K::Pointer48, false, R::Segment},
      {16, "jmp 0x8:$s2+2", "EA 02 00 08 00", 1, K::Offset16, false, R::Segment},
  };
  for (const TFixupCase& c : cases) {
    const TEncodeResult r = Encode(asmtext::Parse(c.text), Context(c.bits));
    ASSERT_EQ(r.error, "") << c.text;
    EXPECT_EQ(Hex(r.bytes), c.hex) << c.text;
    ASSERT_EQ(r.fixups.size(), 1u) << c.text;
    const TFixupRequest& f = r.fixups[0];
    EXPECT_EQ(f.offset, c.at) << c.text;
    EXPECT_EQ(f.kind, c.kind) << c.text;
    EXPECT_EQ(f.selfRelative, c.selfRelative) << c.text;
    EXPECT_EQ(f.value.target.kind, c.target) << c.text;
    EXPECT_TRUE(f.value.relocatable) << c.text;
  }
  // A label of the segment being assembled needs no fixup for a relative jump.
  EXPECT_TRUE(Encode(asmtext::Parse("call $s1+0x40"), Context(16)).fixups.empty());
  EXPECT_EQ(Bytes("call $s1+0x40", Context(16)), "E8 3D 00");
  // SEG and far pointers copy the frame through.
  TInstruction insn = asmtext::Parse("mov ax, seg $s2");
  insn.operands[1].value.frame = omf::TRef{omf::TRefKind::Group, 1};
  const TEncodeResult r = Encode(insn, Context(16));
  ASSERT_EQ(r.fixups.size(), 1u);
  ASSERT_TRUE(r.fixups[0].value.frame.has_value());
  EXPECT_EQ(r.fixups[0].value.frame->kind, omf::TRefKind::Group);
  EXPECT_TRUE(r.fixups[0].value.segmentOf);
}

// Whatever the front end hands over, the encoder answers with bytes or a message.
TEST(EncoderRobustness, OddOperandsNeverCrash) {
  std::vector<TOperand> samples;
  auto reg = [&](TRegClass cls, uint8_t num) {
    TOperand o;
    o.kind = TOperandKind::Register;
    o.reg = {cls, num};
    samples.push_back(o);
  };
  for (TRegClass cls : {TRegClass::None, TRegClass::Gpr8, TRegClass::Gpr16, TRegClass::Gpr32,
                        TRegClass::Seg, TRegClass::Control, TRegClass::Debug, TRegClass::Test})
    for (uint8_t num : {0, 1, 2, 6, 7, 8, 255}) reg(cls, num);
  for (int8_t base : {-1, 3, 4, 5, 6, 100, -7})
    for (uint8_t scale : {1, 3, 8}) {
      TOperand o;
      o.kind = TOperandKind::Memory;
      o.mem.base = base;
      o.mem.index = int8_t(base == 3 ? 7 : -1);
      o.mem.scale = scale;
      o.mem.addressSize = uint8_t(base == 4 ? 32 : base == 100 ? 99 : 0);
      o.mem.segmentPrefix = int8_t(base == 6 ? 9 : base == 5 ? 5 : -1);
      o.mem.displacement.constant = base == 5 ? (int64_t(1) << 40) : 8;
      o.size = uint8_t(scale == 3 ? 10 : scale);
      samples.push_back(o);
    }
  for (int64_t value : {int64_t(0), int64_t(1), int64_t(3), int64_t(-1), int64_t(1) << 40}) {
    TOperand o;
    o.kind = TOperandKind::Immediate;
    o.value.constant = value;
    o.value.relocatable = value == -1;
    o.value.segmentOf = value == 3;
    o.distance = value == 1 ? TDistance::Far : TDistance::Short;
    samples.push_back(o);
    o.kind = TOperandKind::FarPointer;
    samples.push_back(o);
  }
  samples.push_back(TOperand{});  // kind None
  samples.push_back(TOperand{});
  samples.back().kind = TOperandKind(9);

  const std::vector<std::string> names = AllMnemonics();
  ASSERT_GT(names.size(), 150u);
  size_t encoded = 0;
  for (const std::string& name : names) {
    for (bool use32 : {false, true}) {
      TEncodeContext ctx = Context(use32 ? 32 : 16, use32 ? 386 : 86);
      ctx.offset = 0xFFFFFFF0u;
      TInstruction insn;
      insn.mnemonic = name;
      auto check = [&] {
        const TEncodeResult r = Encode(insn, ctx);
        EXPECT_TRUE(r.error.empty() != r.bytes.empty()) << name;
        EXPECT_LE(r.bytes.size(), 15u) << name;
        for (const TFixupRequest& f : r.fixups) EXPECT_LT(f.offset, r.bytes.size()) << name;
        encoded += r.error.empty();
      };
      check();
      for (size_t i = 0; i < samples.size(); ++i) {
        insn.operands = {samples[i]};
        check();
        insn.operands = {samples[i], samples[(i * 7 + 3) % samples.size()]};
        check();
        insn.operands = {samples[i], samples[(i * 5 + 1) % samples.size()],
                         samples[(i * 3 + 2) % samples.size()]};
        check();
      }
      insn.operands.assign(5, samples[0]);
      EXPECT_EQ(Encode(insn, ctx).error, "Wrong number of operands") << name;
    }
  }
  EXPECT_GT(encoded, 500u);
  TInstruction prefixed = asmtext::Parse("movsb");
  prefixed.prefixes = {"REPX"};
  EXPECT_FALSE(Encode(prefixed, Context(16)).error.empty());
  EXPECT_FALSE(Encode(TInstruction{}, Context(16)).error.empty());
}

}  // namespace
}  // namespace comp86
