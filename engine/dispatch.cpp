#include "engine/dispatch.h"

#include <array>
#include <string>

#include "data/data_actions.h"
#include "documents/excel_actions.h"
#include "engine/document.h"
#include "engine/flow.h"
#include "engine/if_step.h"
#include "engine/run.h"
#include "input/keyboard.h"
#include "input/mouse.h"
#include "input/waits.h"
#include "prompts/prompt_actions.h"
#include "system/file_actions.h"
#include "system/hardware_actions.h"
#include "system/run_actions.h"
#include "vars/system_actions.h"
#include "windows/menus.h"
#include "windows/window_actions.h"

namespace olvex {

namespace {

// Fails the step with `what` and its action name in quotes.
int FailNamingAction(int slot, int step_index, const char* what) {
  SetStepError(std::string(what) + ": \"" + Document(slot).steps[static_cast<std::size_t>(step_index)].action + "\"");
  return 0;
}

int InternetStep(int slot, int step_index) {
  return FailNamingAction(slot, step_index, "Internet actions are not available");
}

// One line per category; each handler lives in its subsystem's folder.
constexpr std::array<CategoryHandler, 17> kHandlers = {
    nullptr,             // 0
    nullptr,             // 1
    HandleRunStep,       // 2  Run: system/run_actions
    HandleWindowsStep,   // 3  Windows: windows/window_actions
    HandleKeyboardStep,  // 4  Keyboard: input/keyboard
    HandleMenuStep,      // 5  Menu: windows/menus
    HandleMouseStep,     // 6  Mouse: input/mouse
    HandleWaitStep,      // 7  Wait: input/waits
    HandlePromptStep,    // 8  User Prompts: prompts/prompt_actions
    HandleFilesStep,     // 9  Files & Folders: system/file_actions
    HandleExcelStep,     // 10 Excel: documents/excel_actions
    InternetStep,        // 11 Internet: performs nothing and fails
    HandleDataStep,      // 12 Data: data/data_actions
    HandleFlowStep,      // 13 Loops & Flow: engine/flow
    HandleIfStep,        // 14 IF: engine/if_step
    HandleHardwareStep,  // 15 Hardware: system/hardware_actions
    HandleSystemStep,    // 16 System: vars/system_actions
};

}  // namespace

CategoryHandler HandlerOfCategory(int category) {
  if (category < 0 || category >= static_cast<int>(kHandlers.size())) return nullptr;
  return kHandlers[static_cast<std::size_t>(category)];
}

int StepNotAvailable(int slot, int step_index) {
  return FailNamingAction(slot, step_index, "Action not available in this build");
}

}  // namespace olvex
