#pragma once
// The "Loops & Flow" actions: loops, NEXT LOOP, Break, labels, GOTO, GOSUB
// and RETURN, run repeats and the exit actions.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace olvex {

// Returns 1 (success; the next step is the run's next-step override), 0
// (failure, with the reason in the step error message) or -1 (stop the run).
int HandleFlowStep(int slot, int step_index);

// Releases the loop work data (item lists, an open file): when a loop ends
// and when the run ends.
void ReleaseLoopWork();

// The Dataset loop reads the current query result through this source: a
// copy of its rows, each the values of its columns. Nothing when there is no
// result; no source is installed until the query actions provide one, and
// the loop then ends at once. An empty function removes the source.
struct DatasetCopy {
  std::vector<std::vector<std::string>> rows;
};
using DatasetSource = std::function<std::optional<DatasetCopy>()>;
void SetDatasetSource(DatasetSource source);

// The Message loop asks the message window for its next message: whether the
// window still exists and the message it delivered, if any. The source is the
// message window of the displays (prompts/displays.h), which ends the loop at
// once while no display has opened it, unless another source is installed;
// an empty function puts that one back.
struct MessagePoll {
  bool window_exists = false;
  std::optional<std::string> message;
};
using MessageSource = std::function<MessagePoll()>;
void SetMessageSource(MessageSource source);

}  // namespace olvex
