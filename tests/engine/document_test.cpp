#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "engine/document.h"
#include "platform/dialogs.h"
#include "tests/startup/carried_script.h"
#include "tests/support/case_table.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

constexpr unsigned kErrorStyle = platform::box::kOk | platform::box::kIconExclamation | platform::box::kTaskModal |
                                 platform::box::kSetForeground;

std::string S(const std::string& inner) { return "<step>" + inner + "</step>"; }
std::string A(const std::string& action) { return "<action>" + action + "</action>"; }

class Documents : public ::testing::Test {
 protected:
  void SetUp() override { CloseAllDocuments(); }
  void TearDown() override {
    CloseAllDocuments();
    SetFileReaderForTest(nullptr);
  }
  // Parses `text` into an empty slot 0 and returns its steps.
  const std::vector<Step>& Parse(const std::string& text, ParseStatus expected = ParseStatus::Parsed) {
    CloseDocument(0);
    EXPECT_EQ(ParseSteps(text, 0, -1, 0).status, expected) << text;
    return Document(0).steps;
  }
  // The single step `inner` parses to.
  Step One(const std::string& inner) {
    const auto& steps = Parse(S(inner));
    EXPECT_EQ(steps.size(), 1u) << inner;
    return steps.empty() ? Step() : steps[0];
  }
  RecordingDialogs dialogs_;
};

// ---------------------------------------------------------------------------
// Text helpers

TEST(FirstNumber, TakesTheFirstRunOfDigits) {
  for (const CaseRow& row : CaseSection("tests/engine/document_cases.txt", "first number", 2))
    EXPECT_EQ(FirstNumber(row.fields[0]), std::stoi(row.fields[1])) << row.where;
}

TEST(Entities, DecodeInRoundsWithAmpFirst) {
  for (const CaseRow& row : CaseSection("tests/engine/document_cases.txt", "entities", 2))
    EXPECT_EQ(DecodeEntities(row.fields[0]), row.fields[1]) << row.where;
}

TEST(ExtractTag, ReadsContentLengthAndNumber) {
  for (const CaseRow& row : CaseSection("tests/engine/document_cases.txt", "extract tag", 7)) {
    const std::vector<std::string>& f = row.fields;
    const auto t = ExtractTag(f[0], f[1], std::stoi(f[2]));
    EXPECT_EQ(std::tie(t.found, t.content, t.number), std::make_tuple(f[3] == "1", f[4], std::stoi(f[6]))) << row.where;
    EXPECT_TRUE(f[5] == "-1" || t.length == std::stoul(f[5])) << row.where << t.length;
  }
}

TEST(ExtractTag, ReadsAttributesOfTheOpeningTag) {
  TagAttribute attrs[4] = {{"value"}, {"image"}, {"log"}, {"missing"}};
  auto t = ExtractTag(R"(<onfail value="Catalog &amp; more" image="1" LOG="2">JUMP</onfail>)", "onfail", 63, attrs);
  EXPECT_EQ(t.content, "JUMP");
  EXPECT_TRUE(attrs[0].found);
  EXPECT_EQ(attrs[0].value, "Catalog & more");
  EXPECT_EQ(attrs[1].value, "1");
  EXPECT_EQ(attrs[2].value, "2");  // "log" inside the value above is not the attribute
  EXPECT_FALSE(attrs[3].found);

  TagAttribute value[1] = {{"value"}};
  ExtractTag("<output value='single'>Variable</output>", "output", 63, value);
  EXPECT_EQ(value[0].value, "single");
  ExtractTag("<output value=bare>Variable</output>", "output", 63, value);
  EXPECT_EQ(value[0].value, "bare");
  ExtractTag("<output value=\"unclosed", "output", 63, value);
  EXPECT_EQ(value[0].value, "unclosed");
  ExtractTag("<output   value=\"x\"/>", "output", 63, value);
  EXPECT_EQ(value[0].value, "x");
  // Attributes are read from the first 255 characters of the opening tag.
  ExtractTag("<output " + std::string(250, ' ') + "value=\"far\">V</output>", "output", 63, value);
  EXPECT_FALSE(value[0].found);
}

// ---------------------------------------------------------------------------
// Steps

TEST_F(Documents, ReadsEveryFieldOfAStep) {
  std::string values;
  for (int n = 1; n <= 8; ++n) values += "<value" + std::to_string(n) + ">v" + std::to_string(n) + "</value" + std::to_string(n) + ">";
  Step s = One(A("  Type  ") + "<text>typed</text><recording>recorded</recording><comment>c &amp; d</comment>"
               "<options>x</options><data>dd</data><timeout>5</timeout><status>0x3</status><indents>2</indents>"
               "<custom>cu</custom><embedded_ID_1>11</embedded_ID_1><EMBEDDED_ID_8>-4</EMBEDDED_ID_8>" + values +
               "<output value=\"res\">Variable</output><onfail value=\"lbl\" image=\"1\" log=\"1\">JUMP</onfail>");
  EXPECT_EQ(std::make_tuple(s.action, s.category, s.action_id), std::make_tuple("Type", 4, 23));
  EXPECT_EQ(s.text, "recorded");  // <recording> wins over <text>
  EXPECT_EQ(std::make_tuple(s.comment, s.options, s.data(), s.timeout(), s.run_status, s.indents, s.custom()),
            std::make_tuple("c & d", "x", "dd", "5", 3, 2, "cu"));
  EXPECT_EQ(std::make_tuple(s.embedded_id(1), s.embedded_id(2), s.embedded_id(8)), std::make_tuple(11, 0, -4));
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(s.value(n), std::string("v").append(std::to_string(n)));
  EXPECT_EQ(std::make_tuple(s.value(0), s.value(9), s.output(), s.output_option(), s.fail_mode(), s.fail_option()),
            std::make_tuple("", "", "Variable", "%res", "JUMP", "lbl"));
  EXPECT_EQ(std::make_tuple(s.fail_snapshot, s.fail_log, s.run_result), std::make_tuple(1, 1, 0));
  EXPECT_TRUE(dialogs_.boxes.empty());
  // The name stays as written; one the catalog does not know has no category.
  const Step click = One(A("mouse click"));
  EXPECT_EQ(std::make_tuple(click.action, click.action_id), std::make_tuple("mouse click", 24));
  EXPECT_EQ(One(A("No Such Action")).category, 0);

  // A step with none of the rarely used fields allocates nothing for them (there is no <value9>).
  Step plain = One(A("Delay") + "<text>100</text><value9>nine</value9>");
  EXPECT_FALSE(plain.has_extras());
  EXPECT_EQ(plain.data(), "");
  Step copy = s;
  EXPECT_EQ(copy.value(8), "v8");
  EXPECT_EQ(copy.custom(), "cu");
}

TEST_F(Documents, RunStatusIsHexadecimal) {
  for (const CaseRow& row : CaseSection("tests/engine/document_cases.txt", "run status", 2))
    EXPECT_EQ(One(A("Delay") + "<status>" + row.fields[0] + "</status>").run_status, std::stoi(row.fields[1])) << row.where;
}

TEST_F(Documents, NumbersFollowTheFirstNumberRule) {
  Step s = One(A("Delay") + "<indents>level -3</indents><embedded_ID_2>id 42x</embedded_ID_2>"
               "<onfail image=\"yes 7\" log=\"-1\">STOP</onfail>");
  EXPECT_EQ(std::make_tuple(s.indents, s.embedded_id(2), s.fail_snapshot, s.fail_log), std::make_tuple(-3, 42, 7, -1));
  EXPECT_EQ(One(A("Delay") + "<indents>none</indents>").indents, 0);
}

TEST_F(Documents, FieldsKeepTheirLengthLimits) {
  const std::string long_text(100000, 't');
  Step s = One(A(std::string(70, 'a')) + "<text>" + long_text + "</text><comment>" + long_text + "</comment><options>" +
               std::string(300, 'o') + "</options><timeout>" + std::string(300, '1') + "</timeout><value1>" +
               std::string(300, 'v') + "</value1><output>" + std::string(80, 'p') + "</output><onfail>" +
               std::string(80, 'f') + "</onfail>");
  EXPECT_EQ(std::make_tuple(s.action.size(), s.text, s.comment, s.options.size(), s.timeout().size()),
            std::make_tuple(63u, long_text, long_text, 259u, 259u));
  EXPECT_EQ(std::make_tuple(s.value(1).size(), s.output().size(), s.fail_mode().size()),
            std::make_tuple(259u, 63u, 63u));
}

TEST_F(Documents, OldActionNamesAreConverted) {
  for (const CaseRow& row : CaseSection("tests/engine/document_cases.txt", "conversions", 6)) {
    SCOPED_TRACE(row.where + row.fields[0]);
    Step s = One(A(row.fields[0]) + "<options>file</options><value1>file</value1>");
    EXPECT_EQ(std::make_tuple(s.action, s.category, s.action_id, s.options),
              std::make_tuple(row.fields[1], std::stoi(row.fields[2]), std::stoi(row.fields[3]), row.fields[4]));
    EXPECT_EQ(s.value(1), row.fields[5]);
  }
}

TEST_F(Documents, WaitForFileOrFolderLooksAtTheText) {
  ScratchDir dir;
  const std::string file = dir.Write("ready.txt", "x");
  Step folder = One(A("Wait for File/Folder") + "<text>" + dir.path().string() + "</text>");
  EXPECT_EQ(folder.action, "Wait for Folder");
  EXPECT_EQ(folder.action_id, 165);
  Step plain = One(A("Wait for File/Folder") + "<text>" + file + "</text>");
  EXPECT_EQ(plain.action, "Wait for File");
  EXPECT_EQ(plain.action_id, 157);
  EXPECT_EQ(One(A("Wait for File/Folder")).action, "Wait for File");
}

TEST_F(Documents, OptionsAreConvertedAndTidied) {
  for (const CaseRow& row : CaseSection("tests/engine/document_cases.txt", "options", 5)) {
    SCOPED_TRACE(row.where + row.fields[0] + " " + row.fields[1]);
    Step s = One(A(row.fields[0]) + row.fields[1]);
    EXPECT_EQ(s.options, row.fields[2]);
    const std::string& field = row.fields[3];
    if (field.empty()) continue;
    std::string got = field == "text" ? s.text
                      : field == "value1" ? s.value(1)
                      : field == "value3" ? s.value(3)
                      : field == "fail_option" ? s.fail_option()
                      : field == "output" ? s.output() + "|" + s.output_option()
                      : field == "action" ? s.action
                      : field == "id" ? std::to_string(s.action_id)
                      : std::to_string(s.category);
    EXPECT_EQ(got, row.fields[4]);
  }
  EXPECT_EQ(One(A("Get Cell") + "<options>Get Formatting</options>").action_id, 215);
  // The text functions save their result, all but Contains (a word list, not the catalog, says so).
  EXPECT_EQ(std::make_tuple(One(A("Trim")).saves_output, One(A("Contains")).saves_output), std::make_tuple(1, 0));
  const Step helper = One(A("My Trim Helper"));
  EXPECT_EQ(std::make_tuple(helper.saves_output, helper.category), std::make_tuple(1, 0));
}

TEST_F(Documents, CommentsUnclosedStepsAndNothingToParse) {
  for (const CaseRow& row : CaseSection("tests/engine/document_cases.txt", "steps of a text", 2)) {
    const std::string& actions = row.fields[1];
    std::string all;
    for (const Step& s : Parse(row.fields[0], actions.empty() ? ParseStatus::NothingToParse : ParseStatus::Parsed))
      all += s.action + ";";
    EXPECT_EQ(all, actions) << row.where;
  }
  EXPECT_EQ(Parse(S(A("One")) + "<STEP>" + A("Two") + "<text>tail")[1].text, "tail");
  EXPECT_TRUE(dialogs_.boxes.empty());
  EXPECT_EQ(ParseSteps(S(A("Delay")), 8, -1, 0).status, ParseStatus::NothingToParse);
  EXPECT_EQ(ParseSteps(S(A("Delay")), -1, -1, 0).status, ParseStatus::NothingToParse);
}

TEST_F(Documents, EmptyActionStopsTheParse) {
  EXPECT_TRUE(Parse(S(A("")), ParseStatus::StoppedAtEmptyAction).empty());
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].text, "Empty <action> tag in step #1\n\nDiscontinuing file load at step #1");
  EXPECT_EQ(dialogs_.boxes[0].title, "Olvex Error");
  EXPECT_EQ(dialogs_.boxes[0].style, kErrorStyle);

  const auto& steps = Parse(S(A("One")) + S(A("Two")) + S(A("   ")) + S(A("Four")), ParseStatus::StoppedAtEmptyAction);
  EXPECT_EQ(steps.size(), 2u);
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[1].text, "Empty <action> tag in step #3\n\nDiscontinuing file load at step #2");
  Parse(S(A("One")) + S("<text>no action tag</text>") + "<action>", ParseStatus::StoppedAtEmptyAction);
  EXPECT_EQ(dialogs_.boxes.back().text, "Empty <action> tag in step #2\n\nDiscontinuing file load at step #1");
}

TEST_F(Documents, StepCountIsLimited) {
  std::string text;
  const std::string step = S(A("Delay"));
  for (std::size_t i = 0; i < kMaxSteps; ++i) text += step;
  EXPECT_EQ(Parse(text).size(), kMaxSteps);
  EXPECT_TRUE(dialogs_.boxes.empty());

  EXPECT_TRUE(Parse(text + step, ParseStatus::StepCountError).empty());
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].text, "Internal Memory Error (step count)");
  EXPECT_EQ(dialogs_.boxes[0].title, "Olvex Error");

  // Inserting past the limit adds nothing either.
  CloseDocument(1);
  Document(1).steps.resize(kMaxSteps - 1);
  EXPECT_EQ(ParseSteps(step + step, 1, 0, 0).status, ParseStatus::StepCountError);
  EXPECT_EQ(Document(1).steps.size(), kMaxSteps - 1);
  EXPECT_EQ(ParseSteps(step, 1, 0, 0).added, 1);
  EXPECT_EQ(Document(1).steps.size(), kMaxSteps);
}

TEST_F(Documents, InsertsBeforeTheGivenIndex) {
  Parse(S(A("A")) + S(A("B")));
  EXPECT_EQ(ParseSteps(S(A("X")) + S(A("Y")), 0, 1, 0).added, 2);
  EXPECT_EQ(ParseSteps(S(A("End")), 0, 99, 0).added, 1);
  EXPECT_EQ(ParseSteps(S(A("Last")), 0, -1, 1).added, 1);
  EXPECT_EQ(ParseSteps(S(A("First")), 0, 0, 0).added, 1);
  std::string all;
  for (const Step& s : Document(0).steps) all += s.action + ";";
  EXPECT_EQ(all, "First;A;X;Y;B;End;Last;");
}

TEST_F(Documents, AHugeStepIsReadOverItsFirst32MiB) {
  const std::string head = "<step>" + A("Type") + "<text>";
  std::string big = head + std::string(kStepTextMax + 10, 'a') + "</text><comment>late</comment></step>";
  const auto& steps = Parse(big);
  ASSERT_EQ(steps.size(), 1u);
  EXPECT_EQ(steps[0].text.size(), kStepTextMax - head.size());
  EXPECT_EQ(steps[0].comment, "");
}

TEST_F(Documents, LoadErrorsAreShownWithTheirTexts) {
  ScratchDir dir;
  const std::string missing = dir.File("missing.oxm");
  EXPECT_EQ(LoadDocument(missing, 0), 0);
  const std::string folder = dir.path().string();
  EXPECT_EQ(LoadDocument(folder, 0), 0);
  const std::string mz = dir.Write("plain.exe", "MZ" + std::string(100, 'x') + std::string(4, '\0'));
  EXPECT_EQ(LoadDocument(mz, 0), 0);
  const std::string tiny = dir.Write("tiny.exe", "MZ" + std::string("\x01\x02\x03\x03\x00\x00\x00", 7));
  EXPECT_EQ(LoadDocument(tiny, 0), 0);
  const std::string text = dir.Write("notes.txt", "just some text");
  EXPECT_EQ(LoadDocument(text, 0), 0);

  ASSERT_EQ(dialogs_.boxes.size(), 5u);
  EXPECT_EQ(dialogs_.boxes[0].text, "Unable to open file '" + missing + "'\n\nFile does not exist");
  EXPECT_EQ(dialogs_.boxes[1].text,
            "Unable to open file '" + folder + "'!\n\nPlease verify that the file is not open in another program.");
  EXPECT_EQ(dialogs_.boxes[2].text, "Unable to read \"" + mz + "\"");
  EXPECT_EQ(dialogs_.boxes[3].text, "Unable to read \"" + tiny + "\"");
  EXPECT_EQ(dialogs_.boxes[4].text, "\"" + text + "\" does not appear to contain Olvex actions");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dialogs_.boxes[static_cast<std::size_t>(i)].title, "Olvex Error");
  EXPECT_EQ(dialogs_.boxes[4].title, text);
  for (const auto& box : dialogs_.boxes) EXPECT_EQ(box.style, kErrorStyle);
  EXPECT_EQ(FirstFreeDocument(), 0);  // failed loads leave the slot free

  SetFileReaderForTest([](const std::string&) { return platform::FileContent{platform::ReadStatus::OutOfMemory, {}}; });
  EXPECT_EQ(LoadDocument("x.oxm", 0), 0);
  SetFileReaderForTest([](const std::string&) { return platform::FileContent{platform::ReadStatus::ReadFailed, {}}; });
  EXPECT_EQ(LoadDocument("x.oxm", 0), 0);
  ASSERT_EQ(dialogs_.boxes.size(), 7u);
  EXPECT_EQ(dialogs_.boxes[5].text, "Out of memory");
  EXPECT_EQ(dialogs_.boxes[6].text, "Unable to read file");
  EXPECT_EQ(dialogs_.boxes[6].title, "Olvex Error");
}

TEST_F(Documents, LoadsScriptsFilesAndCarriedScripts) {
  ScratchDir dir;
  const std::string script = "<Olvex>\r\n" + S(A("Delay")) + S(A("Type") + "<text>hi</text>") + "</Olvex>";
  const std::string path = dir.Write("s.oxm", script);
  EXPECT_EQ(LoadDocument(path, -1), 3);
  EXPECT_EQ(Document(0).file_name, path);
  EXPECT_EQ(Document(0).steps[1].text, "hi");

  const std::string exe = dir.Write("carrier.exe", WithCarriedScript("MZ" + std::string(200, '\x90'), script));
  EXPECT_EQ(LoadDocument(exe, 5), 3);
  EXPECT_EQ(Document(5).steps[1].action, "Type");
  EXPECT_EQ(Document(5).file_name, exe);

  const std::string empty = dir.Write("empty.oxm", "");
  EXPECT_EQ(LoadDocument(empty, -1), 1);
  EXPECT_EQ(Document(1).file_name, empty);  // named, without steps
  EXPECT_TRUE(Document(1).steps.empty());

  EXPECT_EQ(LoadDocument(dir.Write("bare.oxm", "<OLVEX></OLVEX>"), 2), 1);
  EXPECT_EQ(LoadDocument(dir.Write("stopped.oxm", S(A("One")) + S(A(""))), 3), 2);  // the steps before stay
  ASSERT_EQ(dialogs_.boxes.size(), 1u);

  // A load into a named slot replaces what it held.
  EXPECT_EQ(LoadDocument(path, 5), 3);
  EXPECT_EQ(Document(5).file_name, path);
}

TEST_F(Documents, PreambleAndSourceLayoutAreKept) {
  ScratchDir dir;
  LoadDocument(dir.Write("a.oxm", "<?xml?>\r\n<Olvex>\r\n<step>\r\n\t\t<action>Delay</action></step>"), 0);
  EXPECT_EQ(Document(0).preamble, "<?xml?>\r\n");
  EXPECT_EQ(Document(0).source_flags, kSourceCrLf | kSourceTab | 2u);
  LoadDocument(dir.Write("b.oxm", "<Olvex>\n<step>\n    <action>Delay</action></step>"), 0);
  EXPECT_EQ(Document(0).preamble, "");
  EXPECT_EQ(Document(0).source_flags, kSourceLf | 4u);
  LoadDocument(dir.Write("c.oxm", "x<Corvinate><step><action>Delay</action>\r  </step>"), 0);
  EXPECT_EQ(Document(0).preamble, "x");
  EXPECT_EQ(Document(0).source_flags, kSourceCr | 2u);
  LoadDocument(dir.Write("d.oxm", std::string(300, 'p') + "<Olvex><step><action>Delay</action>\n" + std::string(40, ' ')), 0);
  EXPECT_EQ(Document(0).preamble, std::string(258, 'p'));
  EXPECT_EQ(Document(0).source_flags, kSourceLf | 32u);
  LoadDocument(dir.Write("e.oxm", "pre<olvex><step><action>Delay</action></step>"), 0);
  EXPECT_EQ(Document(0).preamble, "");  // the magic tag is matched with its case
  EXPECT_EQ(Document(0).source_flags, 0u);
}

TEST_F(Documents, ANinthDocumentIsRefused) {
  ScratchDir dir;
  const std::string path = dir.Write("s.oxm", S(A("Delay")));
  for (int i = 0; i < kMaxDocuments; ++i) EXPECT_EQ(LoadDocument(path, -1), 2) << i;
  EXPECT_EQ(FirstFreeDocument(), -1);
  EXPECT_EQ(LoadDocument(path, -1), 0);
  EXPECT_EQ(LoadDocument(path, kMaxDocuments), 0);
  ASSERT_EQ(dialogs_.boxes.size(), 2u);
  EXPECT_EQ(dialogs_.boxes[0].text,
            "A maximum of 8 files may be opened in Olvex.\n\nPlease close a file before opening another one.");
  EXPECT_EQ(dialogs_.boxes[0].title, "Olvex Warning");
  EXPECT_EQ(dialogs_.boxes[0].style, kErrorStyle);

  CloseDocument(3);
  EXPECT_EQ(FirstFreeDocument(), 3);
  Document(3).in_use = true;  // held by a run
  EXPECT_EQ(FirstFreeDocument(), -1);
  Document(3).in_use = false;
  Document(3).file_name = "Untitled";
  EXPECT_EQ(LoadDocument(path, -1), 2);
  EXPECT_EQ(Document(3).file_name, path);
}

}  // namespace
}  // namespace olvex::test
