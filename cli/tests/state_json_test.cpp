// The state mode's parser and runner as a library: when a case stops, what the result
// reports, and that no input at all, however damaged, does more than raise a clear error.
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "state_json.h"

namespace {

TStateOutcome RunOnly(const std::string& json) {
  const std::vector<TStateCase> cases = ParseStateCases(json);
  EXPECT_EQ(cases.size(), 1u);
  return RunStateCase(cases.at(0));
}

}  // namespace

TEST(StateJson, UntilEipIsTestedOnlyAfterAStep) {
  // Three NOPs from EIP 0 with until_eip 0: the start does not count, all steps run.
  const TStateOutcome nops = RunOnly(
      R"([{"regs": {"cs": 4096}, "ram": [[65536,144],[65537,144],[65538,144]],
           "steps": 3, "until_eip": 0}])");
  EXPECT_EQ(nops.regs.EIP, 3u);
  // JMP $ comes back to 0 after the first step and stops there.
  const TStateOutcome jump = RunOnly(
      R"([{"regs": {"cs": 4096, "ecx": 5}, "ram": [[65536,235],[65537,254]],
           "steps": 4294967296, "until_eip": 0}])");
  EXPECT_EQ(jump.regs.EIP, 0u);
}

TEST(StateJson, ZeroStepsReportsTheInputUnchanged) {
  const TStateOutcome o = RunOnly(
      R"([{"regs": {"eflags": 4294967295, "gs": 65535, "edi": 1}, "ram": [[0, 0]], "steps": 0}])");
  EXPECT_EQ(o.regs.EFLAGS, 0xFFFFFFFFu);
  EXPECT_EQ(o.regs.GS, 0xFFFF);
  EXPECT_EQ(o.regs.EDI, 1u);
  EXPECT_EQ(o.regs.CR0, 0u);  // not a reset: registers not listed are zero
  ASSERT_EQ(o.ram.size(), 1u);
  EXPECT_EQ(o.ram[0].value, 0);
}

TEST(StateJson, RepeatedAddressReadsBackTheFinalByteInEachPlace) {
  // C6 06 00 00 2A: mov byte [0],2Ah with DS = 0 overwrites both listed values.
  const TStateOutcome o = RunOnly(
      R"([{"regs": {"cs": 4096}, "ram": [[0, 1], [65536,198],[65537,6],[65538,0],[65539,0],
           [65540,42], [0, 2]]}])");
  ASSERT_EQ(o.ram.size(), 7u);
  EXPECT_EQ(o.ram.front().linear, 0u);
  EXPECT_EQ(o.ram.front().value, 42);
  EXPECT_EQ(o.ram.back().value, 42);
}

TEST(StateJson, CasesDoNotShareMemoryOrRegisters) {
  const std::vector<TStateCase> cases = ParseStateCases(
      R"([{"regs": {"cs": 4096, "eax": 7}, "ram": [[65536, 64], [70000, 9]]},
          {"regs": {"cs": 4096}, "ram": [[65536, 144]]}])");
  ASSERT_EQ(cases.size(), 2u);
  const TStateOutcome first = RunStateCase(cases[0]);
  const TStateOutcome second = RunStateCase(cases[1]);
  EXPECT_EQ(first.regs.EAX, 8u);  // 40h: inc ax
  EXPECT_EQ(second.regs.EAX, 0u);
  EXPECT_EQ(second.regs.EIP, 1u);
}

TEST(StateJson, OutputIsOneCasePerLineWithTheSixteenRegistersInOrder) {
  const std::vector<TStateOutcome> outcomes = {RunOnly(R"([{"steps": 0}])"),
                                               RunOnly(R"([{"ram": [[5, 6]], "steps": 0}])")};
  const std::string text = FormatStateOutcomes(outcomes);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
  const nlohmann::ordered_json doc = nlohmann::ordered_json::parse(text);
  ASSERT_EQ(doc.size(), 2u);
  std::string names;
  for (const auto& [name, value] : doc[0]["regs"].items()) names += name + " ";
  EXPECT_EQ(names, "eax ebx ecx edx esp ebp esi edi eip eflags cs ds es ss fs gs ");
  EXPECT_EQ(doc[1]["ram"], nlohmann::ordered_json::parse("[[5, 6]]"));
  EXPECT_EQ(FormatStateOutcomes({}), "[]\n");
}

TEST(StateJson, DamagedInputIsRefusedCleanly) {
  // Byte mutations of a valid file, and random bytes: every input either parses into cases
  // that run, or raises TStateJsonError; nothing else escapes (ASan watches the rest).
  const std::string valid =
      R"([{"regs": {"cs": 4096, "ecx": 3, "eflags": 1}, "ram": [[65536, 73], [65537, 117],
          [65538, 253]], "steps": 10, "until_eip": 3}, {"regs": {"eax": 256}, "steps": 2}])";
  std::mt19937 rng(20240607);
  const std::string alphabet = "[]{}\",:0123456789-.eE \n\\atrufnl";
  int parsed = 0, refused = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = valid;
    if (round % 10 == 0) {
      text.assign(rng() % 64, '\0');
      for (char& c : text) c = char(rng());
    } else {
      for (int n = 1 + int(rng() % 4); n > 0; --n) {
        const size_t at = rng() % text.size();
        switch (rng() % 3) {
          case 0: text[at] = alphabet[rng() % alphabet.size()]; break;
          case 1: text.erase(at, 1 + rng() % 8); break;
          default: text.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
        }
        if (text.empty()) text = "[";
      }
    }
    try {
      for (const TStateCase& c : ParseStateCases(text)) {
        if (c.steps > 100'000) continue;  // a mutated digit may ask for billions of steps
        RunStateCase(c);
      }
      ++parsed;
    } catch (const TStateJsonError& e) {
      EXPECT_NE(std::string(e.what()), "");
      ++refused;
    }
  }
  // Both paths were exercised, or the test proves little.
  EXPECT_GT(parsed, 50);
  EXPECT_GT(refused, 500);
}
