// Statements: blocks, conditions, loops, switch, jumps, labels and inline assembly.

#include "cc_internal.h"

namespace comp86::cc::detail {

// -------------------------------------------------------------------------- statements

TStmt* TCompiler::NewStmt(TStmtKind kind, const TToken& at) {
  stmts_.push_back(TStmt{});
  TStmt* s = &stmts_.back();
  s->kind = kind;
  s->file = at.file;
  s->line = at.line;
  return s;
}

TStmt* TCompiler::Compound(bool newScope) {
  const TToken& open = Tok();
  TStmt* block = NewStmt(TStmtKind::Block, open);
  Expect("{");
  Enter(open.line);
  if (newScope) PushScope();
  while (!Is("}") && !AtEnd()) {
    size_t before = pos_;
    if (StartsDeclaration() && !(Tok(1).kind == TTokenKind::Punctuator && Tok(1).text == ":")) {
      int errors = diags.errors();
      LocalDeclaration(block->list);
      if (diags.errors() > errors && pos_ == before) SkipTo(true);
    } else {
      block->list.push_back(Statement());
    }
    if (pos_ == before) Next();
  }
  if (AtEnd()) Error(open.file, Tok().line, "Compound statement missing }");
  else Next();
  if (newScope) PopScope();
  Leave();
  return block;
}

TStmt* TCompiler::AsmStatement() {
  const TToken& at = Tok();
  Next();
  TStmt* block = NewStmt(TStmtKind::Block, at);
  std::vector<std::string> refs;
  auto piece = [&](const TToken& t, std::string& text) {
    if (!text.empty() && t.spaceBefore) text += ' ';
    if (t.kind == TTokenKind::Identifier) {
      TSymbol* s = Lookup(t.text);
      if (s && s->kind == TSymKind::Variable) {
        if (s->storage == TStorage::Local || s->storage == TStorage::Param) {
          std::string prev = text;
          while (!prev.empty() && prev.back() == ' ') prev.pop_back();
          bool sized = prev.size() >= 3 && (prev.compare(prev.size() - 3, 3, "ptr") == 0 ||
                                            prev.compare(prev.size() - 3, 3, "PTR") == 0);
          std::string size = IsByte(s->type)     ? "BYTE PTR "
                             : IsWide(s->type)   ? "DWORD PTR "
                             : IsScalar(s->type) ? "WORD PTR "
                                                 : "BYTE PTR ";
          if (!text.empty() && text.back() != ' ' && text.back() != ',' && text.back() != '[')
            text += ' ';
          text += (sized ? "" : size) + "[BP" + (s->offset >= 0 ? "+" : "") +
                  std::to_string(s->offset) + "]";
          return;
        }
        text += s->asmName;
        refs.push_back(s->asmName);
        return;
      }
      if (s && s->kind == TSymKind::EnumConst) {
        text += std::to_string(s->value);
        return;
      }
      if (s && s->kind == TSymKind::Function) {
        text += s->asmName;
        refs.push_back(s->asmName);
        return;
      }
    }
    text += t.text;
  };
  auto add = [&](std::string text, int line) {
    if (text.empty()) return;
    TStmt* s = NewStmt(TStmtKind::Asm, at);
    s->line = line;
    s->text = std::move(text);
    s->refs = refs;
    refs.clear();
    block->list.push_back(s);
  };
  if (Accept("{")) {
    std::string text;
    int line = Tok().line;
    while (!Is("}") && !AtEnd()) {
      const TToken& t = Tok();
      if (t.lineStart && !text.empty()) {
        add(text, line);
        text.clear();
      }
      if (text.empty()) line = t.line;
      if (Is(";")) {
        add(text, line);
        text.clear();
        Next();
        continue;
      }
      piece(t, text);
      Next();
    }
    add(text, line);
    Expect("}");
  } else {
    std::string text;
    while (!AtEnd() && !Is(";") && !Is("}") && !(Tok().lineStart && !text.empty())) {
      piece(Tok(), text);
      Next();
    }
    Accept(";");
    if (text.empty()) Error(at.file, at.line, "Invalid asm statement");
    add(text, at.line);
  }
  return block;
}

TStmt* TCompiler::Statement() {
  const TToken& at = Tok();
  Enter(at.line);
  const int errorsBefore = diags.errors();
  TStmt* s = nullptr;
  auto condition = [&]() -> TExpr* {
    Expect("(");
    TExpr* e = Expression();
    Expect(")");
    return Rvalue(e);
  };
  auto checkScalar = [&](TExpr* e) {
    if (!IsScalar(e->type)) Error(e->file, e->line, "Illegal use of structure or void");
  };
  const std::string& w = at.kind == TTokenKind::Identifier ? at.text : std::string();
  if (Is("{")) {
    s = Compound(true);
  } else if (Is(";")) {
    s = NewStmt(TStmtKind::Null, at);
    Next();
  } else if (w == "if") {
    Next();
    s = NewStmt(TStmtKind::If, at);
    s->e = condition();
    checkScalar(s->e);
    s->s1 = Statement();
    if (IsKeyword("else")) {
      Next();
      s->s2 = Statement();
    }
  } else if (w == "while") {
    Next();
    s = NewStmt(TStmtKind::While, at);
    s->e = condition();
    checkScalar(s->e);
    ++loopDepth_;
    s->s1 = Statement();
    --loopDepth_;
  } else if (w == "do") {
    Next();
    s = NewStmt(TStmtKind::Do, at);
    ++loopDepth_;
    s->s1 = Statement();
    --loopDepth_;
    if (IsKeyword("while")) {
      Next();
      s->e = condition();
      checkScalar(s->e);
    } else {
      Error(Tok().file, Tok().line, "Do-while statement missing while");
    }
    Expect(";", "Do statement must have while");
  } else if (w == "for") {
    Next();
    s = NewStmt(TStmtKind::For, at);
    Expect("(");
    if (!Is(";")) s->e3 = Expression();
    Expect(";", "For statement missing ;");
    if (!Is(";")) {
      s->e = Rvalue(Expression());
      checkScalar(s->e);
    }
    Expect(";", "For statement missing ;");
    if (!Is(")")) s->e2 = Expression();
    Expect(")", "For statement missing )");
    ++loopDepth_;
    s->s1 = Statement();
    --loopDepth_;
  } else if (w == "switch") {
    Next();
    s = NewStmt(TStmtKind::Switch, at);
    s->e = condition();
    if (!IsInteger(s->e->type)) {
      Error(at.file, at.line, "Switch selection expression must be of integral type");
      s->e = Const(0, Basic(TKind::Int), at.file, at.line);
    }
    s->e = Convert(s->e, Promote(s->e->type));
    auto* savedCases = switchCases_;
    bool savedDefault = hasDefault_;
    switchCases_ = &s->list;
    hasDefault_ = false;
    ++switchDepth_;
    s->s1 = Statement();
    --switchDepth_;
    switchCases_ = savedCases;
    hasDefault_ = savedDefault;
    TTypeRef st = s->e->type;
    for (TStmt* c : s->list) c->value = Normalise(c->value, st);
    for (size_t i = 0; i < s->list.size(); ++i)
      for (size_t j = i + 1; j < s->list.size(); ++j)
        if (s->list[i]->kind == TStmtKind::Case && s->list[j]->kind == TStmtKind::Case &&
            s->list[i]->value == s->list[j]->value)
          Error(s->list[j]->file, s->list[j]->line, "Duplicate case");
  } else if (w == "case") {
    Next();
    s = NewStmt(TStmtKind::Case, at);
    s->value = ConstantExpression("case");
    Expect(":", "Colon expected");
    s->label = ++labelCounter;
    if (!switchCases_) Error(at.file, at.line, "Case outside of switch");
    else switchCases_->push_back(s);
    s->s1 = Is("}") ? NewStmt(TStmtKind::Null, at) : Statement();
  } else if (w == "default") {
    Next();
    s = NewStmt(TStmtKind::Default, at);
    Expect(":", "Colon expected");
    s->label = ++labelCounter;
    if (!switchCases_) {
      Error(at.file, at.line, "Default outside of switch");
    } else {
      if (hasDefault_) Error(at.file, at.line, "Two default cases in switch");
      hasDefault_ = true;
      switchCases_->push_back(s);
    }
    s->s1 = Is("}") ? NewStmt(TStmtKind::Null, at) : Statement();
  } else if (w == "break" || w == "continue") {
    Next();
    s = NewStmt(w == "break" ? TStmtKind::Break : TStmtKind::Continue, at);
    if (w == "break" ? loopDepth_ + switchDepth_ == 0 : loopDepth_ == 0)
      Error(at.file, at.line, "Misplaced " + w);
    Expect(";", "Statement missing ;");
  } else if (w == "return") {
    Next();
    s = NewStmt(TStmtKind::Return, at);
    if (!Is(";")) {
      s->e = Rvalue(Expression());
      TTypeRef rt = current_ ? current_->sym->type->base : Basic(TKind::Int);
      valueReturned_ = true;
      if (rt->kind == TKind::Void) {
        Error(at.file, at.line, "Function returning void cannot return a value");
      } else {
        CheckAssignable(rt, s->e, 0, "");
        s->e = Convert(s->e, rt);
      }
    } else if (current_ && !current_->isMain && current_->sym->type->base->kind != TKind::Void) {
      // The caller then reads whatever AX holds.
      Warning(at.file, at.line, "Function should return a value");
    }
    Expect(";", "Statement missing ;");
  } else if (w == "goto") {
    Next();
    s = NewStmt(TStmtKind::Goto, at);
    if (Tok().kind == TTokenKind::Identifier && !IsKeywordText(Tok().text)) {
      s->text = Tok().text;
      gotos_.push_back({s->text, &Tok()});
      Next();
    } else {
      Error(at.file, at.line, "Goto statement missing label");
    }
    Expect(";", "Statement missing ;");
  } else if (w == "asm") {
    s = AsmStatement();
  } else if (at.kind == TTokenKind::Identifier && !IsKeywordText(w) && Is(":", 1)) {
    Next();
    Next();
    s = NewStmt(TStmtKind::Label, at);
    s->text = w;
    if (current_) {
      if (current_->labels.count(w)) Error(at.file, at.line, "Duplicate label '" + w + "'");
      current_->labels[w] = ++labelCounter;
      s->label = labelCounter;
    }
    s->s1 = Is("}") ? NewStmt(TStmtKind::Null, at) : Statement();
  } else if (w == "else") {
    Error(at.file, at.line, "Misplaced else");
    Next();
    s = NewStmt(TStmtKind::Null, at);
  } else if (StartsDeclaration()) {
    Error(at.file, at.line, "Declaration is not allowed here");
    SkipTo(true);
    s = NewStmt(TStmtKind::Null, at);
  } else {
    s = NewStmt(TStmtKind::Expr, at);
    s->e = Expression();
    if (diags.errors() == errorsBefore) Expect(";", "Statement missing ;");
  }
  if (diags.errors() > errorsBefore && s->kind == TStmtKind::Expr) {
    // Recover at the end of the statement, as far as it can be found.
    if (!Is("}")) SkipTo(true);
    s->kind = TStmtKind::Null;
  }
  Leave();
  return s;
}

}  // namespace comp86::cc::detail
