#include "windows/window_actions.h"

#include "engine/dispatch.h"
#include "engine/document.h"
#include "engine/text.h"
#include "windows/window_match.h"

namespace olvex {

int HandleWindowsStep(int slot, int step_index) {
  if (FailWithoutDesktop()) return 0;
  const std::string& action = Document(slot).steps[static_cast<std::size_t>(step_index)].action;
  if (ContainsNoCase(action, "Use") || ContainsNoCase(action, "Activ")) return UseWindowAction(slot, step_index) ? 1 : 0;
  return StepNotAvailable(slot, step_index);
}

}  // namespace olvex
