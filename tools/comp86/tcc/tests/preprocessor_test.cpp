// The preprocessor on real files: the standard's own macro examples, conditionals and their
// expressions, #include resolution the DOS way, messages with their lines, and the limits
// that must end with a message instead of a crash or a hang.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "cc.h"

namespace comp86::cc {
namespace {

namespace fs = std::filesystem;

class PreprocessorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::temp_directory_path() /
           ("comp86_pp_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  // Preprocesses `text` as T.C; the result as token texts joined by blanks, EndOfInput left
  // out (it is checked to be there, once and last).
  std::string Run(const std::string& text, TPreprocessOptions o = {}) {
    o.sourcePath = Write("T.C", text);
    return RunFile(o);
  }
  std::string RunFile(const TPreprocessOptions& o) {
    d_ = TDiagnostics();
    tokens_ = Preprocess(o, d_);
    EXPECT_FALSE(tokens_.empty());
    std::string out;
    for (size_t k = 0; k < tokens_.size(); ++k) {
      const bool end = tokens_[k].kind == TTokenKind::EndOfInput;
      EXPECT_EQ(end, k + 1 == tokens_.size());
      if (end) break;
      if (!out.empty()) out += ' ';
      out += tokens_[k].text;
    }
    return out;
  }
  // Every message as the listing shows it, with the folder taken out of file names.
  std::string Messages() const {
    std::string out;
    for (const TCompilerMessage& m : d_.messages) {
      std::string line = d_.Format(m);
      for (size_t at; (at = line.find(dir_.string() + "/")) != std::string::npos;) {
        line.erase(at, dir_.string().size() + 1);
      }
      out += line + "\n";
    }
    return out;
  }

  fs::path dir_;
  TDiagnostics d_;
  std::vector<TToken> tokens_;
};

TEST_F(PreprocessorTest, StandardMacroExamples) {
  // Redefinition, rescanning with the text that follows, no recursion, pre-expansion.
  EXPECT_EQ(Run("#define x 3\n#define f(a) f(x * (a))\n#undef x\n#define x 2\n#define g f\n"
                "#define z z[0]\n#define h g(~\n#define m(a) a(w)\n#define w 0,1\n"
                "#define t(a) a\n"
                "f(y+1) + f(f(z)) % t(t(g)(0) + t)(1);\n"
                "g(x+(3,4)-w) | h 5) & m\n(f)^m(m);\n"),
            "f ( 2 * ( y + 1 ) ) + f ( 2 * ( f ( 2 * ( z [ 0 ] ) ) ) ) % f ( 2 * ( 0 ) ) + t ( 1 ) "
            "; f ( 2 * ( 2 + ( 3 , 4 ) - 0 , 1 ) ) | f ( 2 * ( ~ 5 ) ) & f ( 2 * ( 0 , 1 ) ) ^ m "
            "( 0 , 1 ) ;");
  EXPECT_EQ(Messages(), "");
  // # and ##: an operand of either is not expanded first; xstr/xglue expand it.
  EXPECT_EQ(Run("#define str(s) # s\n#define xstr(s) str(s)\n"
                "#define debug(s, t) printf(\"x\" # s \"= %d, x\" # t \"= %s\", \\\n"
                " x ## s, x ## t)\n"
                "#define glue(a, b) a ## b\n#define xglue(a, b) glue(a, b)\n"
                "#define HIGHLOW \"hello\"\n#define LOW LOW \", world\"\n#define ONE 1\n"
                "debug(1, 2);\n"
                "fputs(str(strncmp(\"abc\\0d\", \"abc\", '\\4') /* this goes away */\n"
                " == 0) str(: x), s);\n"
                "glue(HIGH, LOW); xglue(HIGH, LOW) str(ONE) xstr(ONE)\n"),
            "printf ( \"x\" \"1\" \"= %d, x\" \"2\" \"= %s\" , x1 , x2 ) ; "
            "fputs ( \"strncmp(\\\"abc\\\\0d\\\", \\\"abc\\\", '\\\\4') == 0\" \": x\" , s ) ; "
            "\"hello\" ; \"hello\" \", world\" \"ONE\" \"1\"");
  // A ## made by pasting is no operator any more.
  EXPECT_EQ(Run("#define hash_hash # ## #\n#define mkstr(a) # a\n"
                "#define in_between(a) mkstr(a)\n#define join(c, d) in_between(c hash_hash d)\n"
                "char p[] = join(x, y);\n"),
            "char p [ ] = \"x ## y\" ;");
  EXPECT_EQ(Messages(), "");
}

TEST_F(PreprocessorTest, ArgumentsAndRecursion) {
  EXPECT_EQ(Run("#define e(a) [a]\n#define c(a,b) a##b\n#define p(a,b) a|b\n"
                "#define foo foo a\n#define AA BB\n#define BB AA\n#define f(x) x+f(x)\n"
                "#define n() N\n#define id(x) x\n"
                "e() c(,x) c(x,) c(,) c(1,2) p((1,2),(3)) foo AA BB f(f(1)) n() n\n"
                "id(id)(1) id(id(id(2)))\n"),
            "[ ] x x 12 ( 1 , 2 ) | ( 3 ) foo a AA BB 1 + f ( 1 ) + f ( 1 + f ( 1 ) ) N n "
            "id ( 1 ) 2");
  EXPECT_EQ(Messages(), "");
  // A call may span lines; its tokens take the line of the macro's name.
  Run("#define add(a,b) a+b\nint\nx = add(1,\n2);\ny __LINE__\n");
  ASSERT_EQ(tokens_.size(), 10u);
  EXPECT_EQ(tokens_[3].line, 3);
  EXPECT_EQ(tokens_[5].line, 3);
  EXPECT_TRUE(tokens_[7].lineStart);
  EXPECT_EQ(tokens_[7].line, 5);
  EXPECT_EQ(tokens_[8].text, "5");
  EXPECT_EQ(tokens_[9].line, 5);  // EndOfInput: the main file's last line
}

TEST_F(PreprocessorTest, ConditionalsAndExpressions) {
  EXPECT_EQ(Run("#define A 1\n#define Z 0\n"
                "#if A && !defined Z\nno1\n#elif defined(Z) && Z == 0\nyes1\n#else\nno2\n#endif\n"
                "#ifdef NOPE\n#if 1/0\n#else\n#endif\nno3\n#elif 1\nyes2\n#endif\n"
                "#ifndef NOPE\nyes3\n#endif\n"
                "#if -1 > 0u && 0x7FFFFFFF + 1 < 0 && 'A' == 65 && '\\377' < 0 && 'ab' == 0x6261\n"
                "yes4\n#endif\n"
                "#if (1 << 31) >> 31 == -1 && 7 / -2 == -3 && -7 % 2 == -1 && 0xFFFFFFFF == -1\n"
                "yes5\n#endif\n"
                "#if (0 && 1/0) || (1 || 1%0) ? UNKNOWN == 0 : 0\nyes6\n#endif\n"
                "#if 2 + 3 * 4 - 10 / 2 == 9 && (2 + 3) * 4 == 20 && (~0 & 0xFF) == 255\n"
                "yes7\n#endif\n"
                "#if 0\n#error not here\n'unterminated in a skipped group\n#bogus\n#endif\n"),
            "yes1 yes2 yes3 yes4 yes5 yes6 yes7");
  EXPECT_EQ(Messages(), "");
  Run("#if 1/0\n#endif\n#if 1 +\n#endif\n#if (1\n#endif\n#if 1 2\n#endif\n#if\n#endif\n"
      "#if 099\n#endif\n#if 0x100000000\n#endif\n#if defined\n#endif\n#if \"s\"\n#endif\n");
  EXPECT_EQ(Messages(),
            "Error T.C 1: Division by zero in #if expression\n"
            "Error T.C 3: #if expression ends too early\n"
            "Error T.C 5: Missing ')' in #if expression\n"
            "Error T.C 7: Unexpected '2' in #if expression\n"
            "Error T.C 9: #if needs an expression\n"
            "Error T.C 11: Invalid number '099' in #if expression\n"
            "Error T.C 13: Numeric constant too large: 0x100000000\n"
            "Error T.C 15: Bad use of 'defined' in #if\n"
            "Error T.C 17: Unexpected '\"s\"' in #if expression\n");
}

TEST_F(PreprocessorTest, IncludeFiles) {
  // "..." looks beside the including file first; names match whatever their case, with '\'.
  Write("sub/Inner.h", "inner __FILE__ __LINE__\n#include \"NEXT.H\"\n");
  Write("sub/next.h", "next_in_sub\n");
  Write("next.h", "next_top\n");
  Write("inc/Stdio.h", "#ifndef STDIO_H\n#define STDIO_H\nstdio\n#endif\n");
  Write("inc2/stdio.h", "wrong\n");
  TPreprocessOptions o;
  o.includeDirs = {(dir_ / "inc").string(), (dir_ / "inc2").string()};
  EXPECT_EQ(Run("#include \"SUB\\inner.h\"\n#include <STDIO.H>\n#define H <stdio.h>\n#include H\n"
                "#include \"next.h\"\nend __FILE__\n",
                o),
            "inner \"" + (dir_ / "sub/Inner.h").string() +
                "\" 1 next_in_sub stdio next_top end \"" + (dir_ / "T.C").string() + "\"");
  EXPECT_EQ(Messages(), "");
  ASSERT_EQ(d_.files.size(), 5u);
  EXPECT_EQ(d_.files[0], (dir_ / "T.C").string());
  EXPECT_EQ(d_.files[1], (dir_ / "sub/Inner.h").string());
  EXPECT_EQ(tokens_[0].file, 1);
  EXPECT_EQ(tokens_[3].file, 2);

  Write("open.h", "#if 1\nx\n#else\n");
  Run("#include <none.h>\n#include \"open.h\"\n#endif\n#include\n#line 100 \"other.c\"\ny\n", o);
  EXPECT_EQ(Messages(),
            "Error T.C 1: Unable to open include file 'none.h'\n"
            "Error open.h 1: Unterminated #if: missing #endif\n"
            "Error T.C 3: #endif without #if\n"
            "Error T.C 4: Bad #include: expected \"file\" or <file>\n");
  EXPECT_EQ(tokens_[1].text, "y");
  EXPECT_EQ(tokens_[1].line, 100);
  EXPECT_EQ(d_.files[tokens_[1].file], "other.c");
}

TEST_F(PreprocessorTest, MessagesAndTheirLines) {
  Run("#define f(a,b) a\n#define g(x) #y\n#define h(x) ## x\n#define f(a,b) b\n"
      "f(1) f(1,2,3)\n#error Stop   here\n#else\n#elif 1\n#foo\n#if 1\n#else\n#else\n#endif\n"
      "#define c(a,b) a##b\nc(+,/)\n#define 3\n#undef __FILE__\n#define k(x,x) x\n"
      "#pragma whatever\n#\nf(1,\n\n");
  EXPECT_EQ(Messages(),
            "Error T.C 2: '#' must be followed by a macro parameter\n"
            "Error T.C 3: '##' cannot be at either end of a macro definition\n"
            "Warning T.C 4: Redefinition of 'f' is not identical\n"
            "Error T.C 5: Too few arguments in call of macro 'f'\n"
            "Error T.C 5: Too many arguments in call of macro 'f'\n"
            "Error T.C 6: Stop here\n"
            "Error T.C 7: #else without #if\n"
            "Error T.C 8: #elif without #if\n"
            "Error T.C 9: Unknown preprocessor directive 'foo'\n"
            "Error T.C 12: #else after #else\n"
            "Error T.C 15: Pasting '+' and '/' does not give a valid token\n"
            "Error T.C 16: #define needs a macro name\n"
            "Error T.C 17: Cannot undefine '__FILE__'\n"
            "Error T.C 18: Duplicate parameter 'x' of macro 'k'\n"
            "Error T.C 21: Unterminated argument list of macro 'f'\n");
  EXPECT_EQ(Run("x 'a\n`"), "x 'a");
  EXPECT_EQ(Messages(),
            "Error T.C 1: Unterminated string or character constant\n"
            "Error T.C 2: Illegal character '`' (0x60)\n");
  TPreprocessOptions o;
  o.sourcePath = (dir_ / "missing.c").string();
  RunFile(o);
  EXPECT_EQ(Messages(), "Error missing.c 0: Unable to open input file 'missing.c'\n");
  // Predefined macros and -D.
  o.defines = {{"DEBUG", ""}, {"LEVEL", "2+1"}, {"SQ(x)", "((x)*(x))"}};
  EXPECT_EQ(Run("__TURBOC__ __MSDOS__ __TINY__ __CDECL__ __STDC__ __SMALL__ DEBUG LEVEL SQ(3)", o),
            "0x0200 1 1 1 __STDC__ __SMALL__ 1 2 + 1 ( ( 3 ) * ( 3 ) )");
}

// The library headers: each included twice, in upper case as DOS programs write them.
TEST_F(PreprocessorTest, LibraryHeaders) {
  TPreprocessOptions o;
  o.includeDirs = {std::string(COMP86_SOURCE_DIR) + "/tcc/include"};
  std::string source;
  for (const char* h :
       {"DOS", "CONIO", "STDIO", "STDARG", "STDLIB", "STRING", "CTYPE", "PROCESS"}) {
    source += "#include <" + std::string(h) + ".H>\n#include <" + h + ".H>\n";
  }
  const std::string text = Run(source + "peekb(1, 2) MK_FP(3, 4) EOF\n", o);
  EXPECT_EQ(Messages(), "");
  for (const char* f : {"putch",   "getch",   "getche",  "cputs",   "kbhit",   "putchar", "getchar",
                        "puts",    "gets",    "printf",  "exit",    "abs",     "atoi",    "itoa",
                        "strlen",  "strcpy",  "strcmp",  "strcat",  "memset",  "memcpy",  "isdigit",
                        "isalpha", "isspace", "isupper", "islower", "toupper", "tolower", "delay",
                        "sprintf", "scanf",   "sscanf",  "strncpy", "strchr",  "memcmp"}) {
    // A definition: "static ... f (" with nothing but its type in between.
    size_t count = 0;
    for (size_t k = 1; k + 1 < tokens_.size(); ++k) {
      if (tokens_[k].text != f || tokens_[k + 1].text != "(") continue;
      size_t j = k;
      while (j > 0 &&
             (tokens_[j - 1].kind == TTokenKind::Identifier || tokens_[j - 1].text == "*")) {
        --j;
      }
      count += j < k && tokens_[j].text == "static";
    }
    EXPECT_EQ(count, 1u) << f;
  }
  EXPECT_NE(text.find("( * ( char far * ) ( ( void far * ) ( ( ( unsigned long ) ( ( 1 ) ) << "
                      "16 ) | ( unsigned ) ( ( 2 ) ) ) ) ) ( ( void far * )"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 7), "( - 1 )");
}

TEST_F(PreprocessorTest, LimitsEndWithAMessage) {
  const auto start = std::chrono::steady_clock::now();
  Write("self.h", "x\n#include \"self.h\"\n");
  Run("#include \"self.h\"\n");
  EXPECT_EQ(Messages(), "Error self.h 2: #include files nested too deeply\n");

  std::string deepIf;
  for (int i = 0; i < 100; ++i) deepIf += "#if 1\n";
  Run(deepIf);
  EXPECT_EQ(Messages(), "Error T.C 65: Conditional directives nested too deeply\n");

  // 2^40 tokens if nothing stopped it.
  std::string doubling = "#define A0 x x\n";
  for (int i = 1; i <= 40; ++i) {
    doubling += "#define A" + std::to_string(i) + " A" + std::to_string(i - 1) + " A" +
                std::to_string(i - 1) + "\n";
  }
  TPreprocessOptions small;
  small.maxTokens = 100000;
  Run(doubling + "A40\n", small);
  EXPECT_EQ(d_.errors(), 1);
  EXPECT_NE(Messages().find("Error T.C 42: "), std::string::npos) << Messages();
  const auto nest = [](int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "F(";
    return s + "1" + std::string(n, ')');
  };
  Run("#define F(x) x x\n" + nest(60), small);
  EXPECT_EQ(d_.errors(), 1);
  // F(F(F(...))) nested without end, a long chain of names, a deep expression.
  Run("#define F(x) x\n" + nest(5000));
  EXPECT_EQ(Messages(), "Error T.C 2: Macro expansion nested too deeply\n");
  std::string chain;
  for (int i = 0; i < 2000; ++i) {
    chain += "#define C" + std::to_string(i) + " C" + std::to_string(i + 1) + "\n";
  }
  Run(chain + "C0\n");
  EXPECT_EQ(Messages(), "Error T.C 2001: Macro expansion nested too deeply\n");
  Run("#if " + std::string(100000, '(') + "1" + std::string(100000, ')') + "\n#endif\n#if " +
      std::string(100000, '!') + "1\n#endif\nok\n");
  EXPECT_EQ(Messages(),
            "Error T.C 1: #if expression nested too deeply\n"
            "Error T.C 3: #if expression nested too deeply\n");
  EXPECT_EQ(tokens_.size(), 2u);
  TPreprocessOptions tiny;
  tiny.maxSourceBytes = 10;
  Run("int x; int y;", tiny);
  EXPECT_EQ(Messages(), "Error T.C 0: Source file too large\n");
  // A guard against limits that only end after an exponential blow-up, not a speed
  // measure: sanitizer builds on a busy machine take several seconds here.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST_F(PreprocessorTest, GarbageNeverCrashes) {
  const std::string seed =
      "#define f(a,b) a##b #a\n#define g(x) f(x,x) g\n#if defined(f) && 1 ? 2 : 3\n"
      "#include \"t.c\"\n#elif 'a'\n\"s\\n\" /* c */ f(g(1),(2)) g(g)(3)\n#else\n#endif\n"
      "#undef f\n#line 7\n#error x\n// done \\\nnext\n";
  const std::string alphabet = "#()\\,'\"\n /*abfgx01<>:?-&|!defineifelsendif";
  std::mt19937 rng(20240613);
  TPreprocessOptions o;
  o.maxTokens = 20000;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 400; ++i) {
    std::string text = seed;
    const int edits = 1 + static_cast<int>(rng() % 12);
    for (int e = 0; e < edits; ++e) {
      const size_t at = rng() % (text.size() + 1);
      switch (rng() % 4) {
        case 0: text.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
        case 1: text.insert(at, 1, static_cast<char>(rng() % 256)); break;
        case 2:
          if (at < text.size()) text.erase(at, 1 + rng() % 8);
          break;
        default: text.insert(at, text.substr(rng() % text.size(), rng() % 40)); break;
      }
    }
    o.sourcePath = Write("t.c", text);
    RunFile(o);
    ASSERT_FALSE(tokens_.empty());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));  // hang guard
}

}  // namespace
}  // namespace comp86::cc
