#pragma once
// The action catalog: every action a step may name, with its category, its id,
// an editor's display hint, two flags and the default tags of a new step.
//
// The catalog is resource 9001 of the running program: plain text, or a
// compressed block. Plain text has one action per line (CR LF line ends, the
// text begins with a line break, blank lines between categories), fields
// separated by `~`:
//   name ~ category ~ action id ~ grid text column ~ @|N (output) ~ #|N (can fail) ~ default tags
// In the default tags the two-character sequences \r and \n stand for CR and LF.
#include <bit>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/text.h"

namespace olvex {

inline constexpr int kCatalogResource = 9001;
// The catalog text is cut at this size.
inline constexpr std::size_t kCatalogMaxBytes = 65536;
// Names are compared over at most this many characters.
inline constexpr std::size_t kCatalogNameMax = 61;
// A catalog line is read over at most this many characters.
inline constexpr std::size_t kCatalogLineMax = 511;

struct NoCaseHash {
  std::size_t operator()(std::string_view s) const;
};
struct NoCaseEqual {
  bool operator()(std::string_view a, std::string_view b) const { return EqualsNoCase(a, b); }
};

// One catalog line, as indexed. The views point into the catalog's own text.
struct CatalogEntry {
  std::string_view name;
  int category = 0;
  int action_id = 0;
  int grid_text_column = 0;
  bool saves_output = false;
  bool can_fail = false;
  std::string_view default_tags;  // field 7 as written (\r and \n not yet turned)
};

// What LookupAction reports about an action.
struct ActionInfo {
  int category = 0;
  int action_id = 0;
  int grid_text_column = 0;
  bool saves_output = false;
  bool can_fail = false;
  std::string default_tags;  // a complete <step> element that the parser can read
};

class Catalog {
 public:
  // Takes the resource's bytes: text whose first byte is CR, LF, tab, space or
  // A-Z is plain; anything else is a compressed block. Cut at kCatalogMaxBytes.
  explicit Catalog(std::string_view resource);
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // True when the resource gave text (even a text without actions).
  bool loaded() const { return !text_.empty(); }
  std::size_t size() const { return index_.size(); }
  const std::string& text() const { return text_; }

  // The line whose name equals `name` (cut to 61 characters) without regard to
  // case; the first such line when the catalog repeats a name. Nothing for a
  // name that holds `~`, CR or LF (those would cross into the line's fields).
  const CatalogEntry* Find(std::string_view name) const;

 private:
  std::string text_;
  std::unordered_map<std::string_view, CatalogEntry, NoCaseHash, NoCaseEqual> index_;
};

// The running program's catalog: loaded and indexed once, on first use, by
// whichever thread asks first. Nullptr when the resource is missing or decodes
// to nothing.
const Catalog* ProgramCatalog();

// Fills `out` (first reset to zeros and empty) for the action `name`. Returns 0
// only when the catalog cannot be loaded or `name` is empty; 1 otherwise, also
// for a name the catalog does not hold (then `out` stays zero). The default
// tags are cut to `tags_size` - 1 characters of field 7 before completion.
int LookupAction(std::string_view name, ActionInfo& out, std::size_t tags_size = 4096);
int LookupAction(const Catalog* catalog, std::string_view name, ActionInfo& out, std::size_t tags_size = 4096);

}  // namespace olvex
