#pragma once
// Calls of functions exported by libraries, written as a function call:
//   MessageBox( 0, "message", "title", MB_OK | MB_ICONINFORMATION )
//   %t = GetTickCount()          Sleep( 2*500 )          GetCursorPos( %pos )
// The call text is parsed, the library and function found, the arguments
// turned into numbers or text buffers, the function called and its result
// handed back; output buffers can be saved to user variables.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace olvex {

// The result of a call that could not be made at all.
inline constexpr std::int32_t kNotCallable = 111111990;
inline constexpr std::size_t kCallArgumentMax = 1048575;  // characters of one argument

struct CallArgument {
  std::string text;      // the argument as it is passed in its buffer
  bool number = false;   // passed as a number (its bit in the numeric mask)
  bool null = false;     // NULL: the number 0, or a null pointer where a text is expected
  std::string variable;  // a reference (%name): the user variable that receives the parameter
};

struct ParsedCall {
  std::string name;  // the function's name as written
  std::vector<CallArgument> arguments;
};

// Parses a call text. False, with the reason in `error`, for a text without a
// function name, with an unterminated quotation mark or with parentheses that
// do not balance.
bool ParseCall(std::string_view text, ParsedCall* call, std::string* error);

// Calls a library function. `library` may be empty (the system's libraries
// are searched). With `save_parameters`, each argument that is a variable
// reference is stored in that user variable, and "parameter1" .. "parameter12"
// receive the buffers' texts. Returns the function's 32-bit result, or
// kNotCallable with the reason in the step error message.
std::int32_t CallLibraryFunction(const std::string& library, std::string_view call_text, bool caller_cleans,
                                 bool save_parameters);

// The Run category's Call DLL Function step: the library in `value1` (found
// beside the script when it is there), the call in `text`, "cdecl" in the
// options. Runs the call on the main thread; the result goes to the output.
int HandleCallDllStep(int slot, int step_index);

}  // namespace olvex
