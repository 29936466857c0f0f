#pragma once
// Prepared answers for unattended runs: the file named by the environment
// variable OLVEX_ANSWERS holds, line by line,
//   title pattern | text pattern | button [| answer]
// Patterns match the whole title and text without regard to case, `*` any run
// of characters and `?` one; blanks around the fields are dropped; empty lines
// and lines whose first non-blank character is `#` are left out. The first
// matching line answers the prompt.
#include <string>

namespace olvex {

struct AnswerLookup {
  enum Status { kNoFile, kAnswered, kNoAnswer, kBadFile } status = kNoFile;
  int button = 0;      // 1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes, 7 No, 8 Close, 9 Help
  std::string answer;  // the text after the third "|"
  int line = 0;        // the line that answered
  std::string file;    // the answers file
  std::string error;   // kBadFile: what is wrong, naming the line
};

// Looks the prompt up in the answers file of OLVEX_ANSWERS (kNoFile when the
// variable is not set or empty).
AnswerLookup LookUpAnswer(const std::string& title, const std::string& text);

// The code of a button name ("OK", "cancel", "Yes", ..., and "Button1" to
// "Button5" for the custom dialog's row buttons 1175 to 1179), 0 when none.
int ButtonCode(const std::string& name);
// The name of a button code 1..9 ("OK" ... "Help"), empty for any other.
std::string ButtonName(int code);

}  // namespace olvex
