#include "engine/failure.h"

#include <string>

#include "engine/document.h"
#include "engine/run.h"
#include "engine/run_log.h"

namespace olvex {

int HandleStepFailure(int slot, int step_index) {
  Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  step.run_result = 3;
  LogText("    Failure Mode: " + (step.fail_mode().empty() ? std::string("(no failure mode selected)") : step.fail_mode()));
  const std::string error = StepError();
  LogText("    [STEP " + std::to_string(step_index + 1) + "] ERROR: " + (error.empty() ? "(no error text)" : error));
  ClearStepError();
  LogText("RUN FAILED");
  return -1;
}

}  // namespace olvex
