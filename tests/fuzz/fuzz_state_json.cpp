// The state mode of the command-line runner on arbitrary JSON: every case it accepts is
// run, its step count capped so a run stays short.
#include "fuzz_support.h"
#include "state_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return -1;
  std::vector<TStateCase> cases;
  try {
    cases = ParseStateCases(fuzz::Text(data, size));
  } catch (const TStateJsonError&) {
    return 0;
  }
  std::vector<TStateOutcome> outcomes;
  for (TStateCase& c : cases) {
    if (c.steps > 2000) c.steps = 2000;
    outcomes.push_back(RunStateCase(c));
  }
  (void)FormatStateOutcomes(outcomes);
  return 0;
}
