#pragma once
// The run's control state and the searches that find a block step's partner.
//
// Loops, IF blocks and GOSUB calls keep their state here for the worker; the
// main thread touches it only before a run's worker starts. Block partners
// are found by scanning the step list when they are needed.
#include <array>
#include <cstdint>
#include <string_view>

#include "engine/document.h"

namespace olvex {

inline constexpr int kLoopDepth = 16;      // nested loops per document; a 17th push drops the outermost
inline constexpr int kMaxIfDepth = 15;     // a deeper IF shares level 15
inline constexpr int kMaxGosubDepth = 63;  // a deeper GOSUB overwrites the top return address

struct LoopEntry {
  int start_step = 0;  // 1-based number of the loop's start step; 0: no loop
  std::int32_t passes = 0;
  double end_value = 0.0;
  double increment = 0.0;
  double current = 0.0;
};

struct ControlState {
  // Per document; entry 0 is the innermost loop.
  std::array<std::array<LoopEntry, kLoopDepth>, kMaxDocuments> loops{};
  // IF levels 1 .. 15: the 1-based number of the IF step whose branch was taken, 0 while none.
  int if_depth = 0;
  std::array<int, kMaxIfDepth + 1> if_taken{};
  // GOSUB levels 1 .. 63: the zero-based index of the calling step.
  int gosub_depth = 0;
  std::array<int, kMaxGosubDepth + 1> gosub_callers{};
  // RETRY attempts of the step being retried.
  int retry_count = 0;
};

ControlState& Control();
// Clears the stacks and the retry counter (a new run).
void ClearControlState();

LoopEntry& InnermostLoop(int slot);
// Pushes a loop: every entry moves one place deeper and the deepest falls off.
void PushLoop(int slot, const LoopEntry& entry);
// Pops the innermost loop: every entry moves one place up and the last is cleared.
void PopLoop(int slot);

// A step takes part in block searches unless it is disabled or a breakpoint.
bool IsActiveStep(const Step& step);
// The block steps of loops, as the searches below tell them.
bool IsLoopStart(const Step& step);  // the action holds both "START" and "LOOP"
bool IsNextLoop(const Step& step);   // the action is "NEXT LOOP"

// Zero-based index of the loop start that belongs to step `step_index` (a
// NEXT LOOP or a step inside the loop); 0 when the document's start is passed.
int FindLoopStart(int slot, int step_index);
// Zero-based index of the NEXT LOOP that ends the loop at or around
// `step_index`; step_index + 1 when the document's end is reached.
int FindLoopEnd(int slot, int step_index);
// Zero-based index of the next ELSE, ELSE IF or END IF of the block (only
// END IF with `end_if_only`); the step count, which ends the run normally,
// when there is none (a warning is logged).
int FindElseOrEndIf(int slot, int step_index, bool end_if_only);

// The step a label names: "{STEPn}" names step n, else the first enabled
// "Label" step whose own text equals the label (without regard to case).
// Zero-based; -1 when nothing matches.
int FindLabel(int slot, std::string_view label);

// Closes the IF levels that a jump from `from_index` to `to_index` leaves,
// judged by the block steps from the lower position up to, not including, the
// higher: forward, each END IF whose IF lies before them; backward, each
// block IF whose END IF lies after them. Blocks wholly between them count
// for nothing.
void CloseIfLevels(int slot, int from_index, int to_index);

// The kinds of IF step.
bool IsQuickIf(const Step& step);
bool IsElseIf(const Step& step);   // "IF ..." with the option "ELSE IF", not Quick
bool IsBlockIf(const Step& step);  // "IF ..." without ELSE and without Quick

}  // namespace olvex
