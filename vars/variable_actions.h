#pragma once
// The variable actions of the System category: Set Variable, Delete
// Variable, Increment Variable, Decrement Variable, Set Environment Variable.
#include <functional>
#include <string>
#include <string_view>

#include "vars/variables.h"

namespace olvex {

// The fields of a step that the variable actions read (and write: Set
// Environment Variable rewrites `output_option`).
struct VariableStep {
  std::string action;
  std::string options;
  std::string text;
  std::string output;         // the destination's kind ("Variable", ...)
  std::string output_option;  // the variable's name
};

// What the run engine gives a handler.
struct StepHost {
  ExpandContext context;
  // A line for the run log.
  std::function<void(const std::string&)> log;
  // Saves the step's result to its destination; when empty, the Variable
  // destination (SaveToVariableDestination) serves it.
  std::function<void(std::string_view data)> save_output;
};

struct StepOutcome {
  int result = 1;     // 1 success, 0 failure
  std::string error;  // the step's error text on failure
};

// Runs a step whose action name contains "Variable".
StepOutcome RunVariableAction(VariableStep& step, const StepHost& host);

// Increment and Decrement write a number as text with at most 15 significant
// digits (FormatNumber of the number formatting).
std::string FormatVariableNumber(double value);

}  // namespace olvex
