#pragma once
// The action reference: for each action of the catalog, the fields it reads,
// its option words, what it outputs and what it does on Linux, kept one line
// an action in tools/action_reference.txt (compiled into olvex-check). From it
// olvex-check writes docs/actions.md and tells the option words an action does
// not know.
#include <string>
#include <string_view>
#include <vector>

namespace olvex {

// The text of tools/action_reference.txt, compiled in.
extern const char kActionReferenceText[];

struct ActionNotes {
  std::string name, fields, output, on_linux;
  // The option words as documented: the part in [brackets] is what the
  // handler looks for; a word without brackets is looked for whole.
  std::vector<std::string> words;
  bool words_checked = true;  // false: "*", the action's words are not checked
};

class ActionReference {
 public:
  // Reads the reference's text; false (and `error` says where) on a bad line.
  bool Parse(std::string_view text, std::string* error);

  // The notes of `action` (compared without regard to case), or nullptr.
  const ActionNotes* Find(std::string_view action) const;

  // The words of `options` (separated by ",") that none of the action's tests
  // matches. A test matches a word when it occurs, without regard to case, in
  // the options at a place that overlaps the word, as a handler's test over
  // the whole options text would find it. Words with `%` or `{` are known only
  // at run time and pass.
  static std::vector<std::string> UnknownWords(const ActionNotes& notes, std::string_view options);

  // The documented word nearest to `word` (for "did you mean"), or empty.
  static std::string NearestWord(const ActionNotes& notes, std::string_view word);

  // docs/actions.md: the catalog's actions in its order, each with its notes.
  // False (and `error` names them) when an action has no notes, notes name an
  // action the catalog does not hold, or a catalog step's default option word
  // would draw a warning.
  bool WriteMarkdown(std::string_view catalog_text, std::string* out, std::string* error) const;

  // The reference compiled into this program.
  static const ActionReference& Builtin();

 private:
  std::vector<ActionNotes> notes_;
};

}  // namespace olvex
