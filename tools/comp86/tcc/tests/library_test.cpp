// The library headers: programs that use them compiled, linked and run, typed input
// included, and what a program pays for the functions it does not use.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "compiler_harness.h"

namespace {

using namespace comp86::cc::test;

TEST(CompilerRun, LibraryHeaders) {
  TRun r = Execute(R"(
#include <stdio.h>
#include <string.h>
#include <stdlib.h>
#include <dos.h>
#include <conio.h>
void interrupt handler() {}
int main() {
  char buf[32]; char far *p; int i;
  strcpy(buf, "abc"); strcat(buf, "def");
  printf("%s %d %5d|%-4d|%04x %X %u %ld %c%%\n", buf, strlen(buf), -42, 7, 255, 0xBEEF,
         65535u, -123456789L, 'z');
  printf("%d %d %s\n", strcmp("abc", "abd") < 0, atoi("-321"), itoa(4660, buf, 16));
  memset(buf, 'x', 3); buf[3] = 0; puts(buf);
  p = (char far *)MK_FP(0x3000, 0);
  pokeb(0x3000, 0, 'M'); poke(0x3000, 2, 0x1234);
  printf("%c %x %x %x\n", *p, peek(0x3000, 2), FP_SEG(p), FP_OFF(p + 3));
  cputs("cputs"); putch('!');
  for (i = 0; i < 3; i++) putchar('0' + abs(i - 5));
  setvect(0x60, handler);  /* getvect is an ordinary function returning the handler */
  printf("|%d%d", getvect(0x60) == handler, peek(0, 0x182) == _CS);
  exit(3);
  return 0;
}
)");
  EXPECT_EQ(r.output,
            "abcdef 6   -42|7   |00ff BEEF 65535 -123456789 z%\r\n1 -321 1234\r\nxxx\r\n"
            "M 1234 3000 3\r\ncputs!543|11");
  EXPECT_EQ(r.exitCode, 3);
}

// printf's conversions into a string, sscanf and scanf on strings and typed lines, and
// getchar and gets on the same input: each row's call runs in turn in one program, its
// result and what it stored are printed; the output shows the typed lines as echoed.
TEST(CompilerRun, FormattedInputAndOutput) {
  const struct {
    const char* call;
    const char* keys;
    const char* output;  // before the final new line
  } rows[] = {
      {R"(sprintf(buf, "%d|%i|%u|%x|%X|%%", -42, 7, 65535u, 0xbeef, 0xbeef))", "",
       "[-42|7|65535|beef|BEEF|%] 23"},
      {R"(sprintf(buf, "%5d|%-5d|%05d|%-05d|%3s|%-3s|%c%2c", 42, -42, -42, 7, "a", "b", 'x', 'y'))",
       "", "[   42|-42  |-0042|7    |  a|b  |x y] 35"},
      {R"(sprintf(buf, "%ld %lu %lx %8lX", -123456789L, 4000000000UL, 0x12345678L, 0xABCDEFL))", "",
       "[-123456789 4000000000 12345678   ABCDEF] 39"},
      {R"(sprintf(buf, "%s|%s|%q|%", "", (char *)0))", "", "[|(null)|%q|] 11"},
      {R"(sprintf(buf, ""))", "", "[] 0"},
      {R"(sscanf("  12 -7 ff word x", "%d %d %x %s %c", &a, &b, &u, w, &c))", "",
       "5 12 -7 255 0 [word] x"},
      {R"(sscanf("", "%d", &a))", "", "-1 -1 -1 0 0 [] ?"},
      {R"(sscanf(" \t\n", "%d", &a))", "", "-1 -1 -1 0 0 [] ?"},
      {R"(sscanf("abc", "%d", &a))", "", "0 -1 -1 0 0 [] ?"},
      {R"(sscanf("7", "%d %d", &a, &b))", "", "1 7 -1 0 0 [] ?"},
      {R"(sscanf("10,20", "%d,%d", &a, &b))", "", "2 10 20 0 0 [] ?"},
      {R"(sscanf("10;20", "%d,%d", &a, &b))", "", "1 10 -1 0 0 [] ?"},
      {R"(sscanf("123456 x", "%3d%d%c", &a, &b, &c))", "", "3 123 456 0 0 []  "},
      {R"(sscanf("-70000 +5 abcdefgh", "%ld %u %3s", &l, &u, w))", "", "3 -1 -1 5 -70000 [abc] ?"},
      {R"(sscanf("1 2 50% FFz", "%*d %d %d%% %x%c", &a, &b, &u, &c))", "", "4 2 50 255 0 [] z"},
      {R"(scanf("%d %d", &a, &b))", "12 34\r", "12 34\n2 12 34 0 0 [] ?"},
      {R"(scanf("%d", &a))", "\r  56\r", "\n  56\n1 56 -1 0 0 [] ?"},
      {R"(scanf("%s %c", w, &c))", " word z\r", " word z\n2 -1 -1 0 0 [word] z"},
      {R"(getchar() == '\n' && gets(w) == w)", "a b\r", "a b\n1 -1 -1 0 0 [a b] ?"},
      {R"(scanf("%d", &a) + getchar())", "\x1A\r", "\x1A\n-2 -1 -1 0 0 [] ?"},
      {R"(gets(w) == NULL)", "\x1A\r", "\x1A\n1 -1 -1 0 0 [] ?"},
  };
  std::string program =
      "#include <stdio.h>\nint main() {\n  char buf[64], w[16], c; int a, b, n; unsigned u; "
      "long l;\n";
  std::string keys, expected;
  for (const auto& row : rows) {
    const bool toString = std::string_view(row.call).starts_with("sprintf");
    program += "  a = b = -1; u = 0; l = 0; w[0] = 0; c = '?';\n  n = " + std::string(row.call) +
               ";\n" +
               (toString ? "  printf(\"[%s] %d\\n\", buf, n);\n"
                         : "  printf(\"%d %d %d %u %ld [%s] %c\\n\", n, a, b, u, l, w, c);\n");
    keys += row.keys;
    expected += std::string(row.output) + "\r\n";
  }
  TRun r = Execute(program + "  return 0;\n}\n", keys);
  EXPECT_EQ(r.output, expected);
}

// The string functions and the conversions of stdlib.h: each expression's value.
TEST(CompilerRun, StringAndNumberFunctions) {
  const struct {
    const char* expression;
    int value;
  } rows[] = {
      {R"((strncpy(d, "ab", 5), memcmp(d, "ab\0\0\0xxx", 8)))", 0},
      {R"((strncpy(d, "abcdefgh", 3), memcmp(d, "abc\0\0xxx", 8)))", 0},
      {R"(strncpy(d, "", 0) == d && d[0] == 'a')", 1},
      {R"(strchr(s, 'l') - s)", 2},
      {R"(strchr(s, 0) - s)", 5},
      {R"(strchr(s, 'z') == NULL)", 1},
      {R"(*strchr("\xB0\xA1", 0xA1) == '\xA1')", 1},
      {R"(memcmp("ab", "ac", 2) < 0)", 1},
      {R"(memcmp("\x80", "\x01", 1) > 0)", 1},
      {R"(memcmp("abc", "abd", 2))", 0},
      {R"(memcmp("a", "b", 0))", 0},
      {R"(atoi("  -123x"))", -123},
      {R"(atoi("+7"))", 7},
      {R"(atoi(""))", 0},
      {R"(atoi("32767"))", 32767},
      {R"(abs(-32767))", 32767},
      {R"(abs(5) + abs(0))", 5},
  };
  std::string program =
      "#include <stdio.h>\n#include <string.h>\n#include <stdlib.h>\n"
      "int main() {\n  char d[8]; char *s = \"hello\";\n  memset(d, 'x', 8);\n";
  std::string expected;
  for (const auto& row : rows) {
    program += "  printf(\"%d \", " + std::string(row.expression) + ");\n";
    expected += std::to_string(row.value) + " ";
  }
  TRun r = Execute(program + "  return 0;\n}\n");
  EXPECT_EQ(r.output, expected);
}

// A header function costs nothing unless the program uses it: the code and data a program
// gets from every header is that of what it calls, and no more.
TEST(CompilerObject, UnusedLibraryCostsNothing) {
  const struct {
    const char* body;
    const char* names;  // what the assembly defines besides main, the null guard and stack
  } cases[] = {
      {"return 0;", ""},
      {"long x = 5; return (int)(x * x);", "__lmul$"},
      {"int a; return sscanf(\"1\", \"%d\", &a);",
       "___next_string ___is_blank ___skip_blanks ___scan _sscanf __lmul$"},
      {"return getchar();", "___dos_putc ___in_peek _getchar ___in_line ___in_pos"},
  };
  for (const auto& c : cases) {
    TBuild b = Build(
        "#include <stdio.h>\n#include <string.h>\n#include <stdlib.h>\n#include <ctype.h>\n"
        "#include <conio.h>\n#include <dos.h>\nint main() { " +
        std::string(c.body) + " }\n");
    ASSERT_TRUE(b.result.ok) << b.messages;
    std::istringstream in(b.result.assembly);
    std::string line, names;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string name, kind;
      words >> name >> kind;
      if ((kind != "PROC" && kind != "LABEL" && kind != "DB") || name == "_main" ||
          name.starts_with("__null") || name.starts_with("__stack") || name.starts_with("S$"))
        continue;
      names += (names.empty() ? "" : " ") + name;
    }
    EXPECT_EQ(names, c.names) << c.body;
  }
}

}  // namespace
