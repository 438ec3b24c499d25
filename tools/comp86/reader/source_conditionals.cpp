// Conditional assembly: IF, IFE, IFDEF, IFNDEF, IFB, IFNB, IFIDN(I), IFDIF(I), IF1, IF2, their
// ELSEIF forms, ELSE and ENDIF, also met in the lines of branches not taken.
#include "dos_names.h"
#include "source_reader_internal.h"

namespace comp86 {

std::pair<std::string, std::string> TSourceReader::TImpl::TwoTexts(std::string_view rest) {
  std::vector<std::string> args = SplitArguments(rest, nullptr);
  args.resize(2);
  return {std::string(Trim(args[0])), std::string(Trim(args[1]))};
}

bool TSourceReader::TImpl::Condition(TCond c, std::string_view rest) {
  switch (c) {
    case TCond::If:
    case TCond::Ife: {
      if (rest.empty()) {
        Error(cur, "IF needs an expression");
        return false;
      }
      std::optional<int64_t> v = Evaluate(rest);
      if (!v) return false;
      return (c == TCond::If) == (*v != 0);
    }
    case TCond::Ifdef:
    case TCond::Ifndef: {
      if (rest.empty()) {
        Error(cur, "IFDEF and IFNDEF need a symbol name");
        return false;
      }
      const bool defined = host.IsSymbolDefined(rest) || macros.count(UpperAscii(rest)) > 0;
      return (c == TCond::Ifdef) == defined;
    }
    case TCond::Ifb:
    case TCond::Ifnb: {
      std::vector<std::string> args = SplitArguments(rest, nullptr);
      const bool blank = args.empty() || Trim(args[0]).empty();
      return (c == TCond::Ifb) == blank;
    }
    case TCond::Ifidn:
    case TCond::Ifidni:
    case TCond::Ifdif:
    case TCond::Ifdifi: {
      const auto [a, b] = TwoTexts(rest);
      const bool same = (c == TCond::Ifidni || c == TCond::Ifdifi) ? EqualNoCase(a, b) : a == b;
      return (c == TCond::Ifidn || c == TCond::Ifidni) == same;
    }
    case TCond::If1:
    case TCond::If2: return true;
  }
  return false;
}

// IF/ELSE/ENDIF, also in skipped text. True when the statement was one of them.
bool TSourceReader::TImpl::HandleConditional(const TKeyword& kw, const TStatement& st) {
  const size_t base = frames.empty() ? 0 : frames.back().condBase;
  const bool textual = kw.cond >= TCond::Ifb && kw.cond <= TCond::Ifdifi;
  const std::string_view rest = textual ? Arguments(cur.text, st.afterWord1) : st.Rest1();
  switch (kw.kind) {
    case TKind::If: {
      TConditional c;
      c.where = cur;
      c.parentActive = Active();
      c.active = c.parentActive && Condition(kw.cond, rest);
      c.taken = c.active || !c.parentActive;
      conds.push_back(std::move(c));
      return true;
    }
    case TKind::Else: {
      const bool plain = st.upper1 == "ELSE";
      if (conds.size() <= base) {
        Error(cur, st.upper1 + " without IF");
        return true;
      }
      TConditional& c = conds.back();
      if (c.elseSeen) {
        Error(cur, st.upper1 + " after ELSE in the same IF block");
        c.active = false;
        return true;
      }
      if (plain) c.elseSeen = true;
      if (c.taken) {
        c.active = false;
      } else {
        c.active = Condition(kw.cond, rest);
        c.taken = c.active;
      }
      return true;
    }
    case TKind::Endif:
      if (conds.size() <= base) Error(cur, "ENDIF without IF");
      else conds.pop_back();
      return true;
    default: return false;
  }
}

}  // namespace comp86
