// Formula evaluations per second: every formula is parsed and evaluated from
// its text each time. The arithmetic subset runs side by side with muParser,
// which also parses each formula from text every time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vars/formula.h"
#ifdef OLVEX_HAVE_MUPARSER
#include <muParser.h>
#endif

namespace {

// Written so that both languages read them alike and give the same number.
const std::vector<std::string> kArithmetic = {
    "1+2*3",
    "(12.5-3)*4/2+7",
    "2^10-1",
    "100/7+3*(4-1)",
    "((1+2)*(3+4)-5)/6",
    "10-4-3+8*0.5",
    "3.14159*2.5*2.5",
    "(1+2+3+4+5+6+7+8)/8",
};

const std::vector<std::string> kText = {
    "=LEN(\"hello world\")+1",
    "=UPPER(\"abc\")&LOWER(\"DEF\")",
    "=MID(\"the quick brown fox\",5,5)",
    "=SUBSTITUTE(\"a-b-c-d\",\"-\",\"+\")",
    "=IF(LEN(\"John Smith\")>8,LEFT(\"John Smith\",8),\"John Smith\")",
    "=CHOOSE(3,\"red,green,blue\",\",\")",
    "=TRIM(\"  padded  \")&\"|\"",
    "=FIND(\"fox\",\"the quick brown fox\")",
};

const std::vector<std::string> kDates = {
    "=DATE(2012,7,4)+30",
    "=YEAR(41094)*10000+MONTH(41094)*100+DAY(41094)",
    "=WEEKDAY(DATE(2024,3,15))",
    "=TEXT(41094.63,\"yyyy-mm-dd hh:mm:ss\")",
    "=HOUR(0.63)*60+MINUTE(0.63)",
    "=DAYSINMONTH(DATE(2024,2,1))",
};

void Run(benchmark::State& state, const std::vector<std::string>& formulas, bool with_equals) {
  std::vector<std::string> texts;
  for (const std::string& f : formulas) texts.push_back(with_equals ? "=" + f : f);
  std::size_t i = 0;
  for (auto _ : state) {
    olvex::FormulaResult r = olvex::EvaluateFormula(texts[i]);
    benchmark::DoNotOptimize(r);
    if (++i == texts.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Olvex_Arithmetic(benchmark::State& state) { Run(state, kArithmetic, true); }
void BM_Olvex_Text(benchmark::State& state) { Run(state, kText, false); }
void BM_Olvex_Dates(benchmark::State& state) { Run(state, kDates, false); }
void BM_Olvex_Mix(benchmark::State& state) {
  std::vector<std::string> all;
  for (const auto& f : kArithmetic) all.push_back("=" + f);
  all.insert(all.end(), kText.begin(), kText.end());
  all.insert(all.end(), kDates.begin(), kDates.end());
  Run(state, all, false);
}
BENCHMARK(BM_Olvex_Arithmetic);
BENCHMARK(BM_Olvex_Text);
BENCHMARK(BM_Olvex_Dates);
BENCHMARK(BM_Olvex_Mix);

#ifdef OLVEX_HAVE_MUPARSER
void BM_MuParser_Arithmetic(benchmark::State& state) {
  mu::Parser parser;
  // Both read the formulas alike.
  for (const std::string& f : kArithmetic) {
    parser.SetExpr(f);
    double theirs = parser.Eval();
    double ours = olvex::EvaluateFormula("=" + f).number;
    if (std::fabs(theirs - ours) > 1e-9 * std::fabs(theirs)) {
      std::fprintf(stderr, "results differ for %s: %g and %g\n", f.c_str(), theirs, ours);
      std::abort();
    }
  }
  std::size_t i = 0;
  for (auto _ : state) {
    parser.SetExpr(kArithmetic[i]);
    double r = parser.Eval();
    benchmark::DoNotOptimize(r);
    if (++i == kArithmetic.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MuParser_Arithmetic);
#endif

}  // namespace

BENCHMARK_MAIN();
