// The compiler proper: the object's shape, programs compiled, linked and run in the
// simulator the way the workbench loads them, the messages, and arbitrary input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "compiler_harness.h"
#include "lexer.h"

namespace {

using namespace comp86::cc;
using namespace comp86::cc::test;

TEST(CompilerRun, HelloAndExitCode) {
  TRun r = Execute(Program("int main() { puts(\"Hello, world\\n\"); return 7; }"));
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.output, "Hello, world\n");
  EXPECT_EQ(r.exitCode, 7);
  TRun r2 = Execute(Program("void main() { puts(\"x\"); }"));
  EXPECT_EQ(r2.output, "x");
  EXPECT_EQ(r2.exitCode, 0);
}

TEST(CompilerRun, IntegerArithmetic) {
  TRun r = Execute(Program(R"(
int main() {
  int a = 17, b = -5, z = 0; unsigned u = 40000u, v = 7; char c = -3; unsigned char uc = 250;
  long l = 123456L, m = -7L; unsigned long ul = 4000000000UL;
  putn(a / b); sp(); putn(a % b); sp(); putn(-a / 4); sp(); putn(a * b); sp();
  putn(u / v); sp(); putn(u % v); sp(); putn(u >> 3); sp(); putn(b >> 1); sp(); putn(b << 2); sp();
  putn(c + uc); sp(); putn((char)300); sp(); putn((unsigned char)-1); sp(); putn(c * 2); sp();
  putn(u > 30000); sp(); putn(b < 0); sp(); putn((unsigned)b > 1); sp(); putn(!z); sp();
  putn(~a); sp(); putn(a & 6 | 8 ^ 1); putc('\n');
  putn(l * m); sp(); putn(l / m); sp(); putn(l % 1000); sp(); putn(l << 4); sp(); putn(m >> 1); sp();
  putu(ul / 3); sp(); putu(ul % 1000); sp(); putu(ul >> 4); sp(); putn(l > 70000L); sp();
  putn(m < 0); sp(); putn(l == 123456L); sp(); putn(l - 123457L); sp(); putn((int)(l + 1)); sp();
  putn(a + l); sp(); putn(ul > l); sp(); putn(65535u + 1L); putc('\n');
  a += 3; a -= 1; a *= 2; a /= 3; a %= 7; a <<= 2; a >>= 1; a |= 1; a &= 0xFF; a ^= 2;
  putn(a); sp(); l += a; l *= 3; l -= 1; l /= 2; putn(l); sp();
  c += 5; putn(c); sp(); uc += 10; putn(uc); sp(); putn(a++ + ++a); sp(); putn(a--); sp(); putn(--a);
  putc('\n');
  { int n = 10, s = 0; long p = 1; while (n) { s += n; p *= n; n--; } putn(s); sp(); putn(p); }
  putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(r.output,
            "-3 2 -4 -85 5714 2 5000 -3 -20 247 44 255 -6 1 1 1 1 -18 9\n"
            "-864192 -17636 456 1975296 -4 1333333333 0 250000000 1 1 1 -1 -7615 123473 1 "
            "65536\n"
            "9 185197 2 4 20 11 9\n"
            "55 3628800\n");
}

TEST(CompilerRun, PointersArraysStrings) {
  TRun r = Execute(Program(R"(
int strlen(char *s) { char *p = s; while (*p) ++p; return p - s; }
void strcpy(char *d, char *s) { while (*d++ = *s++) ; }
int sum(int *a, int n) { int s = 0; while (n--) s += *a++; return s; }
char grid[3][4];
int main() {
  int a[5], i, *p, *q; char buf[20]; char *s = "abc" "def"; long la[3];
  for (i = 0; i < 5; i++) a[i] = i * i;
  p = a; q = &a[4];
  putn(sum(a, 5)); sp(); putn(q - p); sp(); putn(*(p + 2)); sp(); putn(p[3]); sp();
  putn(q > p); sp(); putn(*--q); sp(); putn(*q++); sp(); putn(sizeof a); sp(); putn(sizeof(long *));
  sp(); putn(strlen(s)); sp(); putn(s[5]); sp(); putn(sizeof "xy"); putc('\n');
  strcpy(buf, s); buf[1] = 'B'; puts(buf); sp(); puts(&buf[3]); sp();
  for (i = 0; i < 3; i++) { grid[i][0] = 'a' + i; grid[i][1] = 0; }
  puts(grid[2]); puts(*grid); sp(); putn(sizeof grid); sp(); putn(sizeof grid[1]); sp();
  la[0] = 70000L; la[2] = la[0] * 2; putn(la[2]); sp(); putn(&la[2] - la); sp();
  p = 0; putn(p == 0); sp(); putn(!p); sp(); p = a + 1; *p += 10; p[1] *= 3; putn(a[1] + a[2]);
  sp(); putn(*p++ + 1); sp(); putn(*p); putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(r.output, "30 4 4 9 1 9 9 10 2 6 102 3\naBcdef def ca 12 4 140000 2 1 1 23 12 12\n");
}

TEST(CompilerRun, StructsUnionsAndTypedefs) {
  TRun r = Execute(Program(R"(
struct point { int x, y; };
typedef struct rect { struct point a, b; char name[6]; } Rect;
union word { unsigned w; struct { unsigned char lo, hi; } b; };
struct node { int value; struct node *next; };
Rect r1 = {{1, 2}, {30, 40}, "box"};
int area(Rect *r) { return (r->b.x - r->a.x) * (r->b.y - r->a.y); }
struct point mid(Rect r) { struct point p; p.x = (r.a.x + r.b.x) / 2; p.y = (r.a.y + r.b.y) / 2; return p; }
int main() {
  Rect r2; struct point m; union word u; struct node n[3], *it; int total = 0, i;
  r2 = r1; r2.b.x = 11; r2.name[0] = 'B';
  putn(area(&r1)); sp(); putn(area(&r2)); sp(); puts(r2.name); sp(); puts(r1.name); sp();
  m = mid(r1); putn(m.x); sp(); putn(m.y); sp(); putn(mid(r2).x); sp();
  putn(sizeof(Rect)); sp(); putn(sizeof u); putc('\n');
  u.w = 0x1234; putn(u.b.lo); sp(); putn(u.b.hi); sp(); u.b.hi = 0xAB; putu(u.w); sp();
  for (i = 0; i < 3; i++) { n[i].value = i + 1; n[i].next = i < 2 ? &n[i + 1] : 0; }
  for (it = n; it; it = it->next) total += it->value * 10;
  putn(total); sp(); putn(n[0].next->next->value); sp(); (&r2)->a.y = 7; putn(r2.a.y);
  putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(r.output, "1102 380 Box box 15 21 6 14 2\n52 18 43828 60 3 7\n");
}

TEST(CompilerRun, ControlFlow) {
  TRun r = Execute(Program(R"(
int classify(int n) {
  switch (n) {
    case 0: return 100;
    case 1: case 2: n += 10;
    case 3: n += 1; break;
    case -5: n = -50; break;
    default: n = 999;
  }
  return n;
}
long big(long v) { switch (v) { case 100000L: return 1; case -1L: return 2; } return 3; }
char *day(int d) {
  switch (d) {
    case 1: return "Mo"; case 2: return "Tu"; case 3: return "We"; case 5: return "Fr";
    case 6: return "Sa"; default: return "--";
  }
}
int fact(int n) { return n <= 1 ? 1 : n * fact(n - 1); }
int fib(int n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }
int main() {
  int i, j, s = 0;
  for (i = -5; i <= 4; i++) { putn(classify(i)); sp(); }
  putn(big(100000L)); putn(big(-1)); putn(big(5)); sp();
  for (i = -1; i <= 7; i++) puts(day(i));
  putc('\n');
  for (i = 0; i < 10; i++) { if (i == 2) continue; if (i == 7) break; s += i; }
  putn(s); sp();
  i = 0; do { i += 3; } while (i < 10); putn(i); sp();
  i = 0; j = 0;
again:
  if (++i < 5) { j += i; goto again; }
  putn(j); sp(); putn(fact(7)); sp(); putn(fib(15)); sp();
  s = 0; for (i = 0; i < 4; i++) for (j = 0; j < 4; j++) { if (j > i) break; s++; } putn(s); sp();
  putn(i > 2 && j ? 1 : 0); putn(i < 2 || j == 4); putn(!(i && 0)); sp();
  s = (i = 3, i + 1); putn(s); sp(); for (;;) { if (++s > 8) break; } putn(s); putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(
      r.output,
      "-50 999 999 999 999 100 12 13 4 999 123 ----MoTuWe--FrSa--\n19 12 10 5040 610 10 111 4 9\n");
}

TEST(CompilerRun, AssignmentsThroughEveryKindOfLvalue) {
  TRun r = Execute(Program(R"(
struct s { char c; int i; long l; int a[3]; };
struct s g, *gp = &g;
int idx(int v) { return v; }
int main() {
  struct s loc, arr[2], *p = arr; int far *fi; long far *fl; char far *fc;
  unsigned long big = 0xFFFFFFF0UL; long neg = -5; int i = 2;
  fi = (int far *)&g.i; fl = (long far *)&g.l; fc = (char far *)&g.c;
  *fi = 10; *fi += 5; *fi <<= 1; (*fi)++; ++*fi; *fl = 100000L; *fl *= 3; *fl -= 1; *fc = 'a';
  *fc += 2; putn(g.i); sp(); putn(g.l); sp(); putc(g.c); sp();
  gp->a[idx(1)] = 7; gp->a[idx(1)] *= 6; gp->a[2] = gp->a[1]-- - 2; putn(g.a[1]); sp();
  putn(g.a[2]); sp();
  p[1].l = 5; p[1].l <<= idx(3); (p + 1)->l /= 4; putn(arr[1].l); sp(); p++; p->i = 9;
  putn(arr[1].i); sp(); loc = *p; loc.a[i] = loc.i * 2; putn(loc.a[2]); sp();
  putn(big > neg); sp(); putn((long)big > neg); sp(); putn(big + 32 == 16); sp();
  putn(neg < 0 ? neg * 2 : neg); sp(); putu(big >> 28); sp(); putn(neg >> 1); sp();
  putn(neg % 3); sp(); putn(-neg / 2); putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(r.output, "32 299999 c 41 40 10 9 18 0 0 1 -10 15 -3 -2 2\n");
}

// Declarators of every shape, typedef chains and type names in casts and sizeof.
TEST(CompilerRun, DeclaratorForms) {
  TRun r = Execute(R"(
int (*(*x)[3])(void);
int one(void) { return 1; }
int (*table[3])(void) = { one, one, 0 };
int (*(*px)[3])(void) = &table;
char *(*pick(int a))(char *);
static char *id(char *s) { return s; }
char *(*pick(int a))(char *) { return a ? id : 0; }
typedef unsigned char BYTE;
typedef BYTE *PBYTE, **PPBYTE;
main()
{
  BYTE b = 200; PBYTE pb = &b; PPBYTE ppb = &pb;
  unsigned short us = 65535; signed char sc = -1; short int si = -2; long int li = 3; unsigned long int uli = 4;
  int n = sizeof(int (*)[4]) + sizeof(char (*)(int)) + sizeof(struct { int a; char b; });
  x = px;
  **ppb += 1;
  return (*x)[1]() + pick(1)("q")[0] + n + b + us + sc + si + (int)li + (int)uli + (int)sizeof(long far *);
}
)");
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.exitCode, 329 & 0xFF);
}

// Conditional jumps over bodies longer than a short jump reaches.
TEST(CompilerRun, LongBranches) {
  TRun r = Execute(Program(R"(
int main() {
  long s = 0; int i;
  for (i = 0; i < 3; i++) { if (i != 1) { s += i * 1; s += i * 2; s += i * 3; s += i * 4; s += i * 5; s += i * 6; s += i * 7; s += i * 8; s += i * 9; s += i * 10; s += i * 11; s += i * 12; s += i * 13; s += i * 14; s += i * 15; s += i * 16; s += i * 17; s += i * 18; s += i * 19; s += i * 20; s += i * 21; s += i * 22; s += i * 23; s += i * 24; s += i * 25; s += i * 26; s += i * 27; s += i * 28; s += i * 29; s += i * 30; s += i * 31; s += i * 32; s += i * 33; s += i * 34; s += i * 35; s += i * 36; s += i * 37; s += i * 38; s += i * 39; s += i * 40; } }
  putn(s); putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(r.output, "1640\n");
}

TEST(CompilerRun, FunctionPointersAndVariadics) {
  TRun r = Execute(Program(R"(
int add(int a, int b) { return a + b; }
int mul(int a, int b) { return a * b; }
int (*ops[2])(int, int) = { add, mul };
typedef int (*binop)(int, int);
int apply(binop f, int a, int b) { return f(a, b); }
int total(int n, ...) { int *p = &n + 1, s = 0; while (n--) s += *p++; return s; }
int old(a, b) int a; char *b; { return a + b[0]; }
int main() {
  binop f = mul; int (*g)() = add;
  putn(ops[0](3, 4)); sp(); putn((*ops[1])(3, 4)); sp(); putn(apply(add, 5, 6)); sp();
  putn(f(7, 8)); sp(); putn(g(1, 2)); sp(); putn(total(4, 1, 2, 3, 4)); sp();
  putn(old(1, "A")); sp(); putn(f == mul); putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(r.output, "7 12 11 56 3 10 66 1\n");
}

TEST(CompilerRun, FarPointersRegistersAndAsm) {
  TRun r = Execute(Program(R"(
#define MK_FP(s, o) ((void far *)(((unsigned long)(s) << 16) | (unsigned)(o)))
int global = 5;
int main() {
  char far *f; int far *w; unsigned seg, x = 40, y;
  f = (char far *)MK_FP(0x3000, 0x10);
  *f = 'Q'; f[1] = 'R'; f++;
  putc(*f); putc(*(char far *)MK_FP(0x3000, 0x10)); sp();
  w = (int far *)0x30000020L; *w = 1234; w[1] = *w + 1; putn(w[1]); sp();
  putn((unsigned)((unsigned long)f >> 16) == 0x3000); sp();
  _AX = 0x1234; _BX = _AX; y = _BL; seg = _BH; putn(y); sp(); putn(seg); sp();
  _CX = x; _CL += 2; putn(_CX); sp();
  seg = _DS; putn(seg == 0x2000); sp();
  _ES = 0x3000; putn(_ES == 0x3000); sp();
  asm mov ax, x
  asm add ax, 2
  asm mov y, ax
  putn(y); sp();
  asm {
    mov ax, global
    jmp short $+2
    shl ax, 1
    mov global, ax
  }
  putn(global); sp();
  __emit__(0xB8, 0x39, 0x05); y = _AX; putn(y); sp();
  _AH = 2; _DL = '!'; __int__(0x21); putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(r.output, "RQ 1235 1 52 18 42 1 1 42 10 1337 !\n");
}

TEST(CompilerRun, Initialisers) {
  TRun r = Execute(Program(R"(
struct item { char name[4]; int qty; long price; };
struct item stock[] = { {"ab", 2, 100000L}, {"cd", 3}, "ef", 4, 5L };
int matrix[2][3] = { {1, 2, 3}, {4, 5} };
int flat[2][2] = { 1, 2, 3, 4 };
char text[] = "hello";
char *names[] = { "zero", "one", "two" };
int *ptr = &matrix[1][1];
int count = sizeof stock / sizeof stock[0];
enum color { RED, GREEN = 5, BLUE };
static int counter(void) { static int n = 10; return n++; }
int main() {
  int local[4] = { 9, 8 }; char word[] = "xyz"; struct item it = { "gh", 7, -1L };
  int i;
  putn(count); sp(); putn(stock[0].price + stock[2].price); sp(); putn(stock[1].qty); sp();
  puts(stock[2].name); sp(); putn(matrix[1][2] + matrix[1][1]); sp(); putn(flat[1][0]); sp();
  puts(text); sp(); putn(sizeof text); sp(); puts(names[2]); sp(); putn(*ptr); sp();
  putn(local[0] + local[1] + local[2] + local[3]); sp(); puts(word); sp(); putn(sizeof word);
  putc('\n');
  putn(it.qty); sp(); putn(it.price); sp(); puts(it.name); sp(); putn(BLUE); sp(); putn(GREEN);
  sp(); counter(); counter(); putn(counter()); sp();
  for (i = 0; i < 3; i++) { int sq = i * i; local[i] = sq; } putn(local[2]); putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(r.output, "3 100005 3 ef 5 3 hello 6 two 5 17 xyz 4\n7 -1 gh 6 5 12 4\n");
}

TEST(CompilerRun, InterruptFunction) {
  // Called the way the processor enters it (flags, CS, IP pushed), from code that has DS
  // elsewhere: the handler finds the program's data and gives back every register.
  TRun r = Execute(Program(R"(
int hits;
static void interrupt handler(void) { hits += 5; _BX = 0x7777; }
int main() {
  unsigned bx;
  _BX = 1; _DS = 0x1234;
  asm pushf
  asm push cs
  asm call handler
  _DS = _SS; bx = _BX;
  asm pushf
  asm push cs
  asm call handler
  putn(hits); sp(); putn(bx); putc('\n');
  return 0;
}
)"));
  EXPECT_EQ(r.output, "10 1\n");
}

// No object lies at offset 0 of the data, where it would compare equal to a null pointer,
// whatever kind of object comes first.
TEST(CompilerRun, NoObjectAtOffsetZero) {
  const struct {
    const char* global;
    const char* local;
    const char* first;
  } cases[] = {
      {"char first[] = \"first\";", "", "first"},
      {"static char first[] = \"first\";", "", "first"},
      {"", "static char first[] = \"first\";", "first"},
      {"", "", "\"first\""},
      {"struct { char name[6]; } first = {\"first\"};", "", "first.name"},
  };
  for (const auto& c : cases) {
    TRun r = Execute(Program(std::string(c.global) + "\nint main() { " + c.local +
                             " char *p = " + c.first +
                             "; putn(p != 0); sp(); putn((unsigned)p > 0); sp(); puts(p); "
                             "return 0; }\n"));
    EXPECT_EQ(r.output, "1 1 first") << c.global << c.local << c.first;
  }
}

// Each statement starts a line record, the prologue has the opening brace's line and the
// epilogue the closing one; offsets ascend, one record per offset.
TEST(CompilerObject, SegmentsPublicsStringsAndLineRecords) {
  TBuild b = Build(
      "int counter;\n"
      "static int helper(void) { return 1; }\n"
      "static int unused(void) { return 2; }\n"
      "int main()\n"
      "{\n"
      "  char *s = \"text\";\n"
      "  counter = helper();\n"
      "  if (counter)\n"
      "    counter++;\n"
      "  return *s;\n"
      "}\n");
  ASSERT_TRUE(b.result.ok) << b.messages;
  const omf::TModule& m = b.result.module;
  EXPECT_EQ(m.name, "T.C");
  EXPECT_EQ(m.translator, "Corvale C compiler 1.0");
  ASSERT_EQ(m.segments.size(), 2u);
  EXPECT_EQ(m.segments[0].name, "_TEXT");
  EXPECT_EQ(m.segments[0].className, "CODE");
  EXPECT_EQ(m.segments[1].name, "_DATA");
  EXPECT_EQ(m.segments[1].className, "DATA");
  EXPECT_EQ(m.segments[1].align, omf::TAlign::Para);
  EXPECT_TRUE(m.groups.empty());
  std::vector<std::string> publics;
  for (const omf::TPublic& p : m.publics) publics.push_back(p.name);
  EXPECT_NE(std::find(publics.begin(), publics.end(), "_main"), publics.end());
  EXPECT_NE(std::find(publics.begin(), publics.end(), "_counter"), publics.end());
  EXPECT_EQ(std::find(publics.begin(), publics.end(), "_helper"), publics.end());
  EXPECT_EQ(b.result.assembly.find("_unused"), std::string::npos);
  const std::vector<uint8_t>& data = m.segments[1].data;
  EXPECT_NE(std::search(data.begin(), data.end(), std::begin("text"), std::end("text")),
            data.end());
  std::vector<int> lines;
  for (size_t i = 0; i < m.lines.size(); ++i) {
    lines.push_back(m.lines[i].line);
    EXPECT_EQ(m.lines[i].segment, 1);
    if (i > 0) {
      EXPECT_GT(m.lines[i].offset, m.lines[i - 1].offset);
    }
  }
  // helper's body on line 2 (prologue, return, epilogue), then main.
  EXPECT_EQ(lines, (std::vector<int>{2, 2, 2, 5, 6, 7, 8, 9, 10, 11}));
}

struct TMessageCase {
  const char* source;
  const char* expected;  // the first message, formatted
};

TEST(CompilerMessages, ErrorsOnTheirLines) {
  const TMessageCase cases[] = {
      {"int main() {\n  int a;\n  b = 1;\n}\n",
       "Error T.C 3: Undefined symbol 'b' in function main"},
      {"int main() {\n  int a\n  a = 1;\n}\n", "Error T.C 2: Declaration missing ;"},
      {"int main() {\n  int a;\n  a = 1\n  a = 2;\n}\n", "Error T.C 3: Statement missing ;"},
      {"int main() {\n  int a;\n  a = * ;\n}\n", "Error T.C 3: Expression syntax"},
      {"int main() {\n  5 = 3;\n}\n", "Error T.C 2: Lvalue required"},
      {"int f(int a, int b);\nint main() {\n  return f(1);\n}\n",
       "Error T.C 3: Too few parameters in call to 'f'"},
      {"struct s { int x; };\nint f(struct s v);\nint main() {\n  return f(1);\n}\n",
       "Error T.C 4: Type mismatch in parameter 1 in call to 'f'"},
      {"int x;\nchar x;\n", "Error T.C 2: Type mismatch in redeclaration of 'x'"},
      {"int main() {\n  int a;\n  int a;\n}\n", "Error T.C 3: Redeclaration of 'a'"},
      {"int x;\nint main() {\n  int "
       "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
       "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
       "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
       "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa;\n}\n",
       "Error T.C 3: Identifier too long: 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa...' has 201 "
       "characters, at most "
       "200 are allowed"},
      {"int main() {\n  int a;\n  asm jmp $+2\n  a = 1 $ 2;\n}\n",
       "Error T.C 4: Illegal character '$' (0x24)"},
      {"char a[40000];\nchar b[30000];\nint main() { return 0; }\n",
       "Error T.C 2: Too much global data: it exceeds 64 KB from here on"},
      {"int main() {\n  float f;\n}\n", "Error T.C 2: Floating point is not supported"},
      {"int main() {\n  return 1.5;\n}\n", "Error T.C 2: Floating point is not supported"},
      {"int main() {\n  break;\n}\n", "Error T.C 2: Misplaced break"},
      {"int main() {\n  switch (1) { case 1: case 1: ; }\n}\n", "Error T.C 2: Duplicate case"},
      {"int main() {\n  goto nowhere;\n}\n",
       "Error T.C 2: Undefined label 'nowhere' in function main"},
      {"struct s { int a : 3; };\n", "Error T.C 1: Bit fields are not supported"},
      {"int main() {\n  int a;\n  a.x = 1;\n}\n",
       "Error T.C 3: Structure required on left side of . or .*"},
      {"int main() {\n  asm mov ax, nosuchlabel\n}\n",
       "Error T.C 2: asm: Undefined symbol: nosuchlabel"},
  };
  for (const TMessageCase& c : cases) {
    TBuild b = Build(c.source);
    EXPECT_FALSE(b.result.ok) << c.source;
    std::string first = b.messages.substr(0, b.messages.find('\n'));
    EXPECT_EQ(first, c.expected) << c.source;
  }
}

// Constant expressions fold at the width of their type (16-bit int, 32-bit long) and wrap
// around; a constant division by zero is an error at its line.
TEST(CompilerMessages, ConstantsWrapAtTheirTypeOrAreRefused) {
  const struct {
    const char* type;
    const char* expr;
    uint32_t bits;      // the initial value's bytes, little-endian
    const char* error;  // or the message
  } cases[] = {
      {"int", "32767 + 1", 0x8000, nullptr},
      {"int", "-32767 - 2", 0x7FFF, nullptr},
      {"int", "256 * 256 + 300 * 300", 0x5F90, nullptr},  // 90000 - 65536
      {"int", "-(-32767 - 1)", 0x8000, nullptr},
      {"int", "(-32767 - 1) / -1 + (-32767 - 1) % -1", 0x8000, nullptr},
      {"int", "(1 << 15) + (1 << 16) + (1 << -1)", 0x8000, nullptr},
      {"int", "(-1 >> 20) + (-16 >> 2)", 0xFFFB, nullptr},
      {"unsigned", "65535u + 1 + ~0u", 0xFFFF, nullptr},
      {"unsigned long", "0xFFFFFFFFUL * 0xFFFFFFFFUL", 1, nullptr},
      {"unsigned long", "0UL - 1", 0xFFFFFFFF, nullptr},
      {"long", "2147483647L + 1", 0x80000000, nullptr},
      {"long", "(-2147483647L - 1) / -1", 0x80000000, nullptr},
      {"long", "-(-2147483647L - 1) * 3", 0x80000000, nullptr},
      {"int", "(int)70000L + (char)300", 0x119C, nullptr},  // 4464 + 44
      {"unsigned char", "(unsigned char)-1", 0xFF, nullptr},
      {"int", "1 / 0", 0, "Error T.C 2: Division by zero"},
      {"long", "5L % (2L - 2)", 0, "Error T.C 2: Division by zero"},
  };
  for (const auto& c : cases) {
    const std::string source =
        std::string("int pad;\n") + c.type + " v = " + c.expr + ";\nint main() { return 0; }\n";
    TBuild b = Build(source);
    if (c.error) {
      EXPECT_EQ(b.messages.substr(0, b.messages.find('\n')), c.error) << c.expr;
      continue;
    }
    ASSERT_TRUE(b.result.ok) << c.expr << "\n" << b.messages;
    const omf::TModule& m = b.result.module;
    const auto v = std::find_if(m.publics.begin(), m.publics.end(),
                                [](const omf::TPublic& p) { return p.name == "_v"; });
    ASSERT_NE(v, m.publics.end()) << c.expr;
    const std::vector<uint8_t>& data = m.segments[v->segment - 1].data;
    const size_t size = std::string(c.type).find("long") != std::string::npos   ? 4
                        : std::string(c.type).find("char") != std::string::npos ? 1
                                                                                : 2;
    ASSERT_LE(v->offset + size, data.size()) << c.expr;
    uint32_t bits = 0;
    for (size_t i = size; i-- > 0;) bits = bits << 8 | data[v->offset + i];
    EXPECT_EQ(bits, c.bits) << c.expr;
  }
}

// A function declared but defined nowhere reaches the linker as an external of the C name;
// the linker's error names the C line of its first call, from the object's line records.
TEST(CompilerMessages, UndefinedFunctionAtItsFirstCall) {
  TBuild b = Build(
      "int foo(int x);\nint bar(void);\n\nint main(void) {\n  int a = foo(1);\n"
      "  a += foo(2);\n  return bar() + a;\n}\n");
  ASSERT_TRUE(b.result.ok) << b.messages;
  comp86::TLinkResult link =
      comp86::Link({{"T", omf::ReadObject(omf::WriteObject(b.result.module))}}, {});
  const std::vector<std::string> want = {"T.C(5): Undefined symbol _foo in module T.C",
                                         "T.C(7): Undefined symbol _bar in module T.C"};
  EXPECT_EQ(link.errors, want);
}

// Nothing is linked to a program but its own module: a function called without a
// declaration and not defined is the error at its first call. One that is declared, or is
// defined further on, is the linker's or only a warning.
TEST(CompilerMessages, CallToUndeclaredFunction) {
  const struct {
    const char* source;
    const char* messages;
  } cases[] = {
      {"int main() {\n  int x = 1;\n  prnitf(\"%d\", x);\n  return x;\n}\n",
       "Error T.C 3: Call to undeclared function 'prnitf'\n"},
      {"int f(void) {\n  return g(1) + h(2);\n}\nint main() {\n  return g(3) + f();\n}\n",
       "Error T.C 2: Call to undeclared function 'g'\n"
       "Error T.C 2: Call to undeclared function 'h'\n"},
      {"int main() {\n  return g(1);\n}\nint g(int a);\n",
       "Error T.C 2: Call to undeclared function 'g'\n"},
      {"int g(int a);\nint main() {\n  return g(1);\n}\n", ""},
      {"int main() {\n  return g(1);\n}\nint g(int a) { return a; }\n",
       "Warning T.C 2: Call to function 'g' with no prototype\n"},
  };
  for (const auto& c : cases) {
    TBuild b = Build(c.source);
    EXPECT_EQ(b.messages, c.messages) << c.source;
    EXPECT_EQ(b.result.ok, std::string(c.messages).find("Error") == std::string::npos);
  }
}

TEST(CompilerMessages, Warnings) {
  TBuild b = Build(
      "int f() { }\n"
      "int main() {\n"
      "  int *p; char *c = 0;\n"
      "  p = c;\n"
      "  g(1);\n"
      "  return 0;\n"
      "}\n"
      "int g(int a) { return a; }\n"
      "int h(int a) { if (a) return 1; return; }\n"
      "int k(long v) { int i = v; i = (int)v; return i; }\n");
  EXPECT_TRUE(b.result.ok) << b.messages;
  EXPECT_EQ(b.messages,
            "Warning T.C 1: Function should return a value\n"
            "Warning T.C 4: Suspicious pointer conversion\n"
            "Warning T.C 5: Call to function 'g' with no prototype\n"
            "Warning T.C 9: Function should return a value\n"
            "Warning T.C 10: Conversion may lose significant digits\n");
}

// Nothing the compiler is given makes it crash, hang or overflow its stack: random bytes,
// random tokens, mutations of a valid program, and deep nesting.
TEST(CompilerRobustness, ArbitraryInput) {
  const auto start = std::chrono::steady_clock::now();
  std::mt19937 rng(20260912);
  auto compileText = [](const std::string& text) {
    TDiagnostics d;
    d.AddFile("R.C");
    std::vector<TToken> tokens = LexFile(text, 0, d);
    tokens.push_back(TToken{});
    TCompileOptions o;
    o.sourcePath = "R.C";
    TCompileResult r = Compile(tokens, o, d);
    EXPECT_LE(d.errors(), TDiagnostics::kMaxErrors);
    if (r.ok) {
      EXPECT_FALSE(r.module.segments.empty());
    }
  };
  const char* const kWords[] = {
      "int",    "char",  "long",  "unsigned", "struct", "union", "enum",   "typedef", "static",
      "far",    "if",    "else",  "while",    "for",    "do",    "switch", "case",    "default",
      "return", "break", "goto",  "sizeof",   "x",      "y",     "f",      "main",    "0",
      "1",      "'a'",   "\"s\"", "(",        ")",      "{",     "}",      "[",       "]",
      ";",      ",",     "*",     "&",        "+",      "-",     "=",      "==",      "<",
      "?",      ":",     "->",    ".",        "...",    "asm",   "_AX",    "__int__", "++",
      "<<",     "!",     "~",     "/",        "%"};
  for (int i = 0; i < 150; ++i) {
    std::string text;
    int n = int(rng() % 120);
    for (int k = 0; k < n; ++k) text += std::string(kWords[rng() % std::size(kWords)]) + " ";
    compileText(text);
    std::string bytes;
    for (int k = 0; k < 200; ++k) bytes.push_back(char(rng() % 128));
    compileText(bytes);
  }
  const std::string valid = std::string(kPrelude) +
                            "struct s { int a; char b[3]; } v = {1, \"x\"};\n"
                            "int main() { int i; long l = 5; for (i = 0; i < 3; i++) "
                            "{ v.a += i; l *= v.a; } switch (i) { case 1: break; } "
                            "return (int)l; }\n";
  for (int i = 0; i < 150; ++i) {
    std::string text = valid;
    for (int k = 0; k < 3; ++k) {
      size_t at = rng() % text.size();
      switch (rng() % 3) {
        case 0: text.erase(at, 1 + rng() % 4); break;
        case 1: text.insert(at, kWords[rng() % std::size(kWords)]); break;
        default: text[at] = char(' ' + rng() % 95); break;
      }
    }
    compileText(text);
  }
  compileText(std::string(5000, '(') + "1" + std::string(5000, ')'));
  compileText("int main() {" + std::string(5000, '{') + std::string(5000, '}') + "}");
  compileText("int " + std::string(5000, '*') + "p;");
  compileText("int x[" + std::string(3000, '[') + "];");
  std::string chain = "int main() { int a = 1; a = a";
  for (int i = 0; i < 3000; ++i) chain += " + a";
  compileText(chain + "; }");
  compileText("int main() { int a; a = " + std::string(5000, '-') + "a; }");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));  // hang guard
}

}  // namespace
