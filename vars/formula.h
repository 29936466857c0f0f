#pragma once
// The formula language of step texts ("=ROUND(%total/3, 2)",
// "=IF(LEN(%name)>8, LEFT(%name,8), %name)") and the logical expressions of
// IF Expression and While loops ("%count >= 3 && %name != done").
//
// A formula is compiled into a postfix queue of at most 128 items with an
// operator stack of at most 64 entries and evaluated on a stack of at most 9
// values. A value is a number and a text of at most 4095 characters; a value
// whose text is not empty is a text, otherwise it is the number.
#include <string>
#include <string_view>

namespace olvex {

struct FormulaResult {
  // The number of a number result; 0 for a text result and for an error.
  double number = 0;
  // The text of a text result, a non-zero number written with at most 15
  // significant digits, or the error message. Empty for a result of zero.
  std::string text;
  // True when `text` is an error message.
  bool failed = false;
};

// Evaluates a formula (the leading "=" is optional). A formula that holds
// none of the digits, "(" and "&" is not evaluated: its text is the formula
// as written.
FormulaResult EvaluateFormula(std::string_view formula);

// The truth of a logical expression: terms joined by "||" or by "&&", each a
// comparison of two formulas ("3 >= 2", "%name == John") or a lone value that
// is true unless it is empty or made only of "0".
bool EvaluateLogical(std::string_view expression);

}  // namespace olvex
