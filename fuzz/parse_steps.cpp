// Fuzzes the step parser and the tag reader with arbitrary script text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/document.h"
#include "platform/dialogs.h"

namespace {

// Load errors would go to standard error for every input; keep them quiet.
class SilentDialogs : public platform::Dialogs {
 public:
  int ShowMessage(const std::string&, const std::string&, unsigned style) override {
    return platform::box::DefaultAnswer(style);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static SilentDialogs silent;
  static const bool installed = (platform::SetDialogsForTest(&silent), true);
  (void)installed;

  const std::string text(reinterpret_cast<const char*>(data), size);
  olvex::CloseDocument(0);
  olvex::ParseSteps(text, 0, -1, 0);
  // Again, inserted into the document just read.
  olvex::ParseSteps(text, 0, static_cast<int>(size % 3), 1);
  for (const olvex::Step& step : olvex::Document(0).steps) {
    if (step.action.size() > olvex::kShortFieldMax || step.options.size() > olvex::kFieldMax ||
        step.output_option().size() > olvex::kFieldMax || step.value(1).size() > olvex::kFieldMax)
      __builtin_trap();
  }
  olvex::CloseDocument(0);

  for (const char* tag : {"step", "action", "text", "output", "onfail", "status", "value1", ""}) {
    olvex::TagAttribute attributes[4] = {{"value"}, {"image"}, {"log"}, {""}};
    olvex::ExtractTag(text, tag, 259, attributes);
    olvex::ExtractTag(text, tag, -1);
    olvex::ExtractTag(text, tag, 3);
  }
  olvex::DecodeEntities(text);
  olvex::FirstNumber(text);
  return 0;
}
