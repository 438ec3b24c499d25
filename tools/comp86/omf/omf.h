// The object module as our assembler produces it and our linker consumes it, and its
// translation to and from the Intel/Microsoft relocatable object format (OMF) that DOS
// linkers read: THEADR, COMENT, LNAMES, SEGDEF, GRPDEF, EXTDEF, COMDEF, PUBDEF, LEDATA,
// LIDATA, FIXUPP, LINNUM, MODEND (16- and 32-bit record variants).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace omf {

// Indexes into TModule's tables are 1-based, as in the format; 0 means "none".
enum class TAlign : uint8_t { Absolute = 0, Byte = 1, Word = 2, Para = 3, Page = 4, Dword = 5 };
enum class TCombine : uint8_t { Private = 0, Public = 2, Stack = 5, Common = 6 };

struct TSegment {
  std::string name;
  std::string className;  // "" when none was given
  TAlign align = TAlign::Para;
  TCombine combine = TCombine::Private;
  bool use32 = false;
  uint16_t frame = 0;   // paragraph of an AT segment (align Absolute)
  uint32_t length = 0;  // bytes, may exceed the data given (uninitialised tail)
  // Bytes from offset 0; data.size() <= length. Bytes never given (DUP(?) / RESB style
  // holes) may be zero here; `defined` can mark them when the writer should skip them.
  std::vector<uint8_t> data;
  // Empty: every byte of `data` is given. Otherwise one flag per byte of `data`; the writer
  // emits no LEDATA for runs of false (they stay zero when linked), the reader sets it when
  // the object leaves holes.
  std::vector<bool> defined;
};

struct TGroup {
  std::string name;
  std::vector<int> segments;  // indexes into TModule::segments
};

struct TPublic {
  std::string name;
  int segment = 0;  // 0: an absolute symbol (then `frame` holds its paragraph)
  int group = 0;
  uint16_t frame = 0;
  uint32_t offset = 0;
};

struct TExtern {
  std::string name;
  // A communal variable (COMDEF): its bytes, which the linker allocates when no module
  // defines the name; 0 for an ordinary external. Far ones get segments of their own.
  uint32_t communalSize = 0;
  bool communalFar = false;
};

// What a fixup refers to, and in which frame its offset counts.
enum class TRefKind : uint8_t { Segment, Group, External, Frame /* absolute paragraph */ };
struct TRef {
  TRefKind kind = TRefKind::Segment;
  int index = 0;  // 1-based, or the paragraph number for Frame
};

enum class TFixupKind : uint8_t {
  Offset16,   // 16-bit offset of the target in its frame
  Offset32,   // 32-bit offset
  Segment16,  // the target's frame paragraph (base)
  Pointer32,  // offset16 then segment16
  Pointer48,  // offset32 then segment16
  LowByte,    // low 8 bits of the offset
  HighByte,   // high 8 bits of the offset
};

// Bytes a fixup of this kind patches.
inline uint32_t FixupSize(TFixupKind kind) {
  switch (kind) {
    case TFixupKind::LowByte:
    case TFixupKind::HighByte: return 1;
    case TFixupKind::Offset16:
    case TFixupKind::Segment16: return 2;
    case TFixupKind::Offset32:
    case TFixupKind::Pointer32: return 4;
    case TFixupKind::Pointer48: return 6;
  }
  return 0;
}

struct TFixup {
  int segment = 0;      // segment whose data is patched
  uint32_t offset = 0;  // where in that segment
  TFixupKind kind = TFixupKind::Offset16;
  bool selfRelative = false;  // displacement from the end of the patched field (jumps, calls)
  TRef target;
  // The frame: the target's own segment or group when std::nullopt (the usual "frame =
  // target" rule), otherwise the given segment or group (ASSUME-based references).
  std::optional<TRef> frame;
  // HighByte only: the low 8 bits of the addend, which the one patched byte cannot hold; the
  // linker adds them before it takes the high byte, so that their carry reaches it.
  uint8_t lowAddend = 0;
  // The value already stored in the data at `offset` is the addend A. The linker stores
  // frame-relative target + A, or for a self-relative field target + A - (address of the
  // field's end), both counted in the frame. Writers may move A into the FIXUPP target
  // displacement; readers put it back into the data, so a round trip keeps it.
};

struct TLineNumber {
  int segment = 0;
  uint16_t line = 0;
  uint32_t offset = 0;
  int file = 0;  // 0: the module's source; k: sourceFiles[k - 1], a file it included
};

struct TModule {
  std::string name;        // THEADR: the source path as given to the assembler
  std::string translator;  // COMENT class 0, e.g. "Corvale assembler 0.1"
  std::vector<TSegment> segments;
  std::vector<TGroup> groups;
  std::vector<TExtern> externs;
  std::vector<TPublic> publics;
  std::vector<TFixup> fixups;
  std::vector<TLineNumber> lines;
  // The files the source included that have line numbers, by their full paths. In the
  // object, a comment of class kSourceFileComment names the file the LINNUM records after it
  // belong to (an empty name: the module's own source again).
  std::vector<std::string> sourceFiles;
  // Start address from END label, if any.
  struct TStart {
    TRef target;
    uint32_t offset = 0;
    std::optional<TRef> frame;
  };
  std::optional<TStart> start;
};

class TFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the module as OMF records (record checksums filled in).
std::vector<uint8_t> WriteObject(const TModule& module);
// Reads an OMF object; throws TFormatError saying which record and why when the bytes are
// not a well-formed object (bad checksum, record past the end, index out of range, ...).
TModule ReadObject(std::span<const uint8_t> bytes);

}  // namespace omf
