#pragma once
// The User Prompts category: message boxes, input dialogs, lists, login,
// dates, files and folders, and the non-modal displays. Every prompt runs on
// the main thread; the worker waits for its answer.
#include <functional>
#include <string>

namespace olvex {

// The category handler (engine/dispatch).
int HandlePromptStep(int slot, int step_index);
// The handler proper: with `on_main` 0 it hands the step to the main thread
// and returns the result from there.
int PromptAction(int slot, int step_index, int on_main);

// The code of the button that closed the last prompt (1 OK, 2 Cancel, ...
// 9 Help; input dialogs 1 or 0) and its name ("OK" ... "Help", else empty).
int LastPromptResult();
std::string LastButtonName();

// Who answered a prompt and how (the run journal records it).
struct PromptAnswered {
  std::string title, text;  // the prompt
  int button = 0;           // the result code
  std::string answer;       // the answer text (empty for a plain box)
  enum Source { kPerson, kAnswersFile, kTimeOut } source = kPerson;
  int answers_line = 0;     // kAnswersFile: the line that answered
  int step_index = -1;
};

}  // namespace olvex
