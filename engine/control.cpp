#include "engine/control.h"

#include <algorithm>
#include <string>

#include "engine/catalog.h"
#include "engine/run_log.h"

namespace olvex {

namespace {

bool BeginsIf(const Step& step) { return StartsWithNoCase(step.action, "IF "); }

}  // namespace

ControlState& Control() {
  static ControlState state;
  return state;
}

void ClearControlState() { Control() = ControlState{}; }

LoopEntry& InnermostLoop(int slot) { return Control().loops[static_cast<std::size_t>(slot)][0]; }

void PushLoop(int slot, const LoopEntry& entry) {
  auto& stack = Control().loops[static_cast<std::size_t>(slot)];
  for (std::size_t i = stack.size() - 1; i > 0; --i) stack[i] = stack[i - 1];
  stack[0] = entry;
}

void PopLoop(int slot) {
  auto& stack = Control().loops[static_cast<std::size_t>(slot)];
  for (std::size_t i = 0; i + 1 < stack.size(); ++i) stack[i] = stack[i + 1];
  stack.back() = LoopEntry{};
}

bool IsNextLoop(const Step& step) { return EqualsNoCase(step.action, "NEXT LOOP"); }
bool IsLoopStart(const Step& step) { return ContainsNoCase(step.action, "START") && ContainsNoCase(step.action, "LOOP"); }

bool IsActiveStep(const Step& step) { return (step.run_status & (kRunStatusDisabled | kRunStatusBreakpoint)) == 0; }

bool IsQuickIf(const Step& step) { return ContainsNoCase(step.options, "Quick"); }
bool IsElseIf(const Step& step) { return BeginsIf(step) && ContainsNoCase(step.options, "ELSE") && !IsQuickIf(step); }
bool IsBlockIf(const Step& step) { return BeginsIf(step) && !ContainsNoCase(step.options, "ELSE") && !IsQuickIf(step); }

int FindLoopStart(int slot, int step_index) {
  const auto& steps = Document(slot).steps;
  if (step_index < 0 || step_index >= static_cast<int>(steps.size())) return 0;
  int i = IsNextLoop(steps[static_cast<std::size_t>(step_index)]) ? step_index - 1 : step_index;
  int counter = 1;
  for (; i >= 0; --i) {
    const Step& step = steps[static_cast<std::size_t>(i)];
    if (!IsActiveStep(step)) continue;
    if (IsLoopStart(step)) {
      if (counter-- == 1) return i;
    } else if (IsNextLoop(step)) {
      ++counter;
    }
  }
  return 0;
}

int FindLoopEnd(int slot, int step_index) {
  const auto& steps = Document(slot).steps;
  const int count = static_cast<int>(steps.size());
  if (step_index < 0 || step_index >= count) return step_index + 1;
  const Step& here = steps[static_cast<std::size_t>(step_index)];
  int i = IsActiveStep(here) && IsLoopStart(here) ? step_index + 1 : step_index;
  int counter = 1;
  for (; i < count; ++i) {
    const Step& step = steps[static_cast<std::size_t>(i)];
    if (!IsActiveStep(step)) continue;
    if (IsNextLoop(step)) {
      if (counter-- == 1) return i;
    } else if (IsLoopStart(step)) {
      ++counter;
    }
  }
  return step_index + 1;
}

int FindElseOrEndIf(int slot, int step_index, bool end_if_only) {
  const auto& steps = Document(slot).steps;
  const int count = static_cast<int>(steps.size());
  int nesting = 0;
  for (int i = step_index + 1; i < count; ++i) {
    const Step& step = steps[static_cast<std::size_t>(i)];
    if (step.run_status & kRunStatusDisabled) continue;
    const bool end_if = EqualsNoCase(step.action, "END IF");
    if (BeginsIf(step) && !ContainsNoCase(step.options, "ELSE IF") && !IsQuickIf(step)) {
      ++nesting;
      continue;
    }
    if (end_if && nesting > 0) {
      --nesting;
      continue;
    }
    if (nesting > 0) continue;
    const bool partner = end_if || (!end_if_only && ((BeginsIf(step) && ContainsNoCase(step.options, "ELSE IF")) ||
                                                     EqualsNoCase(step.action, "ELSE")));
    if (partner) {
      LogLine("    Jumping to next ELSE/END IF statement: [Step %d]", i + 1);
      return i;
    }
  }
  LogText("    WARNING: Matching ELSE/END IF statement not found!");
  return count;
}

int FindLabel(int slot, std::string_view label) {
  const auto& steps = Document(slot).steps;
  const int count = static_cast<int>(steps.size());
  const int named_step = StartsWithNoCase(label, "{STEP") ? FirstNumber(label.substr(5)) : 0;
  for (int i = 0; i < count; ++i) {
    const Step& step = steps[static_cast<std::size_t>(i)];
    if (step.run_status & kRunStatusDisabled) continue;
    if (named_step == i + 1) return i;
    if (step.action == "Label" && EqualsNoCase(step.text, label)) return i;
  }
  return -1;
}

void CloseIfLevels(int slot, int from_index, int to_index) {
  const auto& steps = Document(slot).steps;
  ControlState& control = Control();
  const int low = std::max(std::min(from_index, to_index), 0);
  const int high = std::min(std::max(from_index, to_index), static_cast<int>(steps.size()));
  // A block that lies wholly between the two positions is neither left nor
  // entered: its IF and END IF pair up and count for nothing. What remains
  // unpaired are END IFs of blocks begun before `low` and IFs of blocks that
  // end at or after `high`.
  int open_ifs = 0;
  int lone_end_ifs = 0;
  for (int i = low; i < high; ++i) {
    const Step& step = steps[static_cast<std::size_t>(i)];
    if (!IsActiveStep(step)) continue;
    if (IsBlockIf(step)) {
      ++open_ifs;
    } else if (EqualsNoCase(step.action, "END IF")) {
      if (open_ifs > 0)
        --open_ifs;
      else
        ++lone_end_ifs;
    }
  }
  // Forward, the jump leaves the blocks whose END IF it passes; backward, it
  // leaves the blocks whose IF it goes back over.
  int leaving = to_index > from_index ? lone_end_ifs : open_ifs;
  for (; leaving > 0 && control.if_depth >= 1; --leaving) {
    const int level = std::min(control.if_depth, kMaxIfDepth);
    LogLine("    Leaving (and closing) IF block which was entered at [Step %d]", control.if_taken[static_cast<std::size_t>(level)]);
    control.if_taken[static_cast<std::size_t>(level)] = 0;
    --control.if_depth;
  }
}

}  // namespace olvex
