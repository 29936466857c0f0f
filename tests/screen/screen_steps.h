#pragma once
// Loads one step into document 0, as if the run had entered it once.
#include <gtest/gtest.h>

#include <string>

#include "engine/document.h"

namespace olvex::test {

inline Step& LoadScreenStep(const std::string& xml, const std::string& script_path) {
  CloseAllDocuments();
  EXPECT_EQ(ParseSteps(xml, 0, -1, 0).status, ParseStatus::Parsed) << xml;
  FixUpDocument(0);
  Document(0).file_name = script_path;
  Step& step = Document(0).steps[0];
  step.run_attempts = 1;
  return step;
}

}  // namespace olvex::test
