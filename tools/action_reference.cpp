#include "tools/action_reference.h"

#include <algorithm>
#include <map>
#include <set>

#include "engine/text.h"

namespace olvex {

namespace {

constexpr const char* kCategoryNames[] = {"",     "Favorites",    "Run",   "Windows",        "Keyboard", "Menu",
                                          "Mouse", "Wait",        "User Prompts", "Files & Folders", "Excel",
                                          "Internet", "Data",     "Loops & Flow", "IF",        "Hardware", "System"};

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t from = 0;;) {
    const std::size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) return parts;
    from = at + 1;
  }
}

// The lines of a text, without their CR.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines = Split(text, '\n');
  for (std::string_view& line : lines)
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return lines;
}

// What the handler looks for in a documented word: its [bracketed] parts, else the whole word.
std::vector<std::string_view> TestsOf(std::string_view word) {
  std::vector<std::string_view> tests;
  for (std::size_t open = word.find('['); open != std::string_view::npos; open = word.find('[', open + 1)) {
    const std::size_t close = word.find(']', open);
    if (close == std::string_view::npos) break;
    tests.push_back(word.substr(open + 1, close - open - 1));
  }
  if (tests.empty()) tests.push_back(word);
  return tests;
}

std::string Plain(std::string_view word) {
  std::string out;
  for (char c : word)
    if (c != '[' && c != ']') out += c;
  return out;
}

// A documented word for the page: its tested parts in bold (blanks kept outside),
// Markdown's own characters escaped.
std::string Marked(std::string_view text) {
  std::string escaped, out;
  for (char c : text) {
    if (c == '\\' || c == '*' || c == '_') escaped += '\\';
    escaped += c;
  }
  const std::string_view word = escaped;
  for (std::size_t at = 0; at < word.size();) {
    const std::size_t open = word.find('[', at);
    const std::size_t close = open == std::string_view::npos ? open : word.find(']', open);
    if (close == std::string_view::npos) {
      out += word.substr(at);
      break;
    }
    out += word.substr(at, open - at);
    const std::string_view part = word.substr(open + 1, close - open - 1);
    const std::string_view inner = Trim(part);
    const std::size_t lead = inner.empty() ? 0 : part.find(inner.front());
    out += std::string(part.substr(0, lead)) + "**" + std::string(inner) + "**" +
           std::string(part.substr(lead + inner.size()));
    at = close + 1;
  }
  return out;
}

std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (AsciiLower(a[i - 1]) == AsciiLower(b[j - 1]) ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The contents of a catalog step's <options> tag.
std::string_view DefaultOptions(std::string_view tags) {
  const std::size_t open = FindNoCase(tags, "<options>");
  if (open == std::string_view::npos) return {};
  const std::size_t from = open + 9;
  const std::size_t close = FindNoCase(tags, "</options>", from);
  return tags.substr(from, close == std::string_view::npos ? std::string_view::npos : close - from);
}

}  // namespace

bool ActionReference::Parse(std::string_view text, std::string* error) {
  notes_.clear();
  std::map<std::string, std::string, std::less<>> defined;
  int number = 0;
  for (const std::string_view line : Lines(text)) {
    ++number;
    auto fail = [&](const std::string& why) {
      *error = "line " + std::to_string(number) + ": " + why;
      return false;
    };
    if (Trim(line).empty() || line.front() == '#') continue;
    // @name stands for a text defined on an earlier line.
    std::string expanded;
    for (std::size_t at = 0; at < line.size();) {
      if (line[at] != '@') {
        expanded += line[at++];
        continue;
      }
      std::size_t end = at + 1;
      while (end < line.size() && line[end] >= 'a' && line[end] <= 'z') ++end;
      const auto it = defined.find(line.substr(at + 1, end - at - 1));
      if (it == defined.end()) return fail("\"" + std::string(line.substr(at, end - at)) + "\" is not defined");
      expanded += it->second;
      at = end;
    }
    if (line.front() == '=') {
      const std::size_t tilde = expanded.find('~');
      if (tilde == std::string::npos) return fail("a definition is \"=name~text\"");
      defined[expanded.substr(1, tilde - 1)] = expanded.substr(tilde + 1);
      continue;
    }
    const std::vector<std::string_view> fields = Split(expanded, '~');
    if (fields.size() != 5) return fail("5 fields separated by \"~\" expected, " + std::to_string(fields.size()) + " found");
    ActionNotes notes;
    notes.name = Trim(fields[0]);
    if (Find(notes.name)) return fail("\"" + notes.name + "\" is described twice");
    notes.fields = Trim(fields[1]);
    notes.output = Trim(fields[3]);
    notes.on_linux = Trim(fields[4]);
    const std::string_view words = Trim(fields[2]);
    notes.words_checked = words != "*";
    if (words != "*" && words != "-") {
      for (const std::string_view word : Split(words, ',')) {
        if (Trim(word).empty() || Plain(Trim(word)).find_first_not_of(' ') == std::string::npos)
          return fail("an empty option word");
        notes.words.emplace_back(Trim(word));
      }
    }
    notes_.push_back(std::move(notes));
  }
  return true;
}

const ActionNotes* ActionReference::Find(std::string_view action) const {
  for (const ActionNotes& notes : notes_)
    if (EqualsNoCase(notes.name, action)) return &notes;
  return nullptr;
}

std::vector<std::string> ActionReference::UnknownWords(const ActionNotes& notes, std::string_view options) {
  std::vector<bool> covered(options.size(), false);
  for (const std::string& word : notes.words) {
    for (const std::string_view test : TestsOf(word)) {
      if (test.empty()) continue;
      for (std::size_t at = FindNoCase(options, test); at != std::string_view::npos; at = FindNoCase(options, test, at + 1))
        std::fill(covered.begin() + static_cast<std::ptrdiff_t>(at),
                  covered.begin() + static_cast<std::ptrdiff_t>(at + test.size()), true);
    }
  }
  std::vector<std::string> unknown;
  std::size_t from = 0;
  for (const std::string_view part : Split(options, ',')) {
    const std::size_t begin = from;
    from += part.size() + 1;
    const std::string_view word = Trim(part);
    if (word.empty() || word.find_first_of("%{") != std::string_view::npos) continue;
    const std::size_t at = begin + static_cast<std::size_t>(word.data() - part.data());
    if (std::none_of(covered.begin() + static_cast<std::ptrdiff_t>(at),
                     covered.begin() + static_cast<std::ptrdiff_t>(at + word.size()), [](bool b) { return b; }))
      unknown.emplace_back(word);
  }
  return unknown;
}

std::string ActionReference::NearestWord(const ActionNotes& notes, std::string_view word) {
  std::string best;
  std::size_t best_distance = std::max<std::size_t>(2, word.size() / 3) + 1;
  for (const std::string& documented : notes.words) {
    const std::string plain = Plain(documented);
    const std::size_t distance = Distance(word, plain);
    if (distance < best_distance) {
      best_distance = distance;
      best = plain;
    }
  }
  return best;
}

bool ActionReference::WriteMarkdown(std::string_view catalog_text, std::string* out, std::string* error) const {
  std::string contents, body, problems;
  std::set<std::string> described;
  int category = 0;
  for (const std::string_view line : Lines(catalog_text)) {
    const std::vector<std::string_view> fields = Split(line, '~');
    if (fields.size() < 3) continue;  // blank lines between the categories
    const std::string name(fields[0]);
    const int number = FirstNumber(fields[1]);
    if (number != category && number > 0 && number < 17) {
      category = number;
      const std::string title = kCategoryNames[category];
      std::string anchor;
      for (char c : title) {
        if (c == ' ') anchor += '-';
        else if (c != '&') anchor += AsciiLower(c);
      }
      contents += "- [" + title + "](#" + anchor + ")\n";
      body += "\n## " + title + "\n";
    }
    const ActionNotes* notes = Find(name);
    if (!notes) {
      problems += "\"" + name + "\" has no line in the reference\n";
      continue;
    }
    described.insert(notes->name);
    const std::string_view tags = fields.size() > 6 ? fields[6] : std::string_view();
    if (notes->words_checked) {
      for (const std::string& word : UnknownWords(*notes, DefaultOptions(tags)))
        problems += "\"" + name + "\": its new step's option word \"" + word + "\" is not in the reference\n";
    }
    std::string flags = kCategoryNames[category];
    if (fields.size() > 4 && fields[4].starts_with('@')) flags += ", saves output";
    if (fields.size() > 5 && fields[5].starts_with('#')) flags += ", can fail";
    body += "\n### " + name + "\n\n*" + flags + "*\n\n";
    body += "- Fields: " + (notes->fields == "-" ? std::string("none") : notes->fields) + "\n";
    std::string words = notes->words_checked ? "" : "not checked (this build has no handler for it)";
    for (const std::string& word : notes->words) words += (words.empty() ? "" : ", ") + Marked(word);
    body += "- Option words: " + (words.empty() ? std::string("none") : words) + "\n";
    if (notes->output != "-") body += "- Output: " + notes->output + "\n";
    body += "- On Linux: " + notes->on_linux + "\n";
    if (!Trim(tags).empty()) body += "- New step: `" + std::string(Trim(tags)) + "`\n";
  }
  for (const ActionNotes& notes : notes_)
    if (!described.contains(notes.name)) problems += "\"" + notes.name + "\" is not in the catalog\n";
  if (!problems.empty()) {
    *error = problems;
    return false;
  }
  *out = "# Action reference\n\n"
         "<!-- Written by `olvex-check --reference` from engine/catalog.txt and tools/action_reference.txt:\n"
         "     change those and run it again (the tests fail while this page is out of date). -->\n\n"
         "Every step names one action of this list. The fields an action reads are the tags of its `<step>`\n"
         "(`<text>`, `<data>`, `<value1>` to `<value8>`, `<timeout>`); each is expanded (`%variables`, `{system}`\n"
         "values, `=` formulas) when the step runs. Option words go into `<options>`, separated by commas; the\n"
         "runtime looks for the part in **bold** without regard to case, and `olvex-check` warns about a word\n"
         "that no action of that name would notice. An action that *saves output* puts its result where\n"
         "`<output>` says (`<output value=\"name\">Variable</output>`); one that *can fail* applies the step's\n"
         "failure mode (`<onfail>`). See [the guide](guide.md) for the script format.\n\n" +
         contents + body;
  return true;
}

const ActionReference& ActionReference::Builtin() {
  static const ActionReference reference = [] {
    ActionReference parsed;
    std::string error;
    parsed.Parse(kActionReferenceText, &error);  // checked by the tests: the page is written from it
    return parsed;
  }();
  return reference;
}

}  // namespace olvex
