// The Hardware category's pure rules, read from hardware_cases.txt.
#include <gtest/gtest.h>

#include <cstdlib>

#include "system/hardware_rules.h"
#include "tests/support/case_table.h"

namespace olvex::test {
namespace {

constexpr const char* kCases = "tests/hardware/hardware_cases.txt";

std::uint64_t Number(const std::string& text, int base = 10) { return std::strtoull(text.c_str(), nullptr, base); }

TEST(HardwareRules, ProcessorSignatureFeaturesAndClockText) {
  for (const CaseRow& row : CaseSection(kCases, "signature", 3)) {
    const std::optional<unsigned> field = SignatureField(row.fields[0], static_cast<std::uint32_t>(Number(row.fields[1], 16)));
    EXPECT_EQ(field ? std::to_string(*field) : "none", row.fields[2]) << row.where;
  }
  for (const CaseRow& row : CaseSection(kCases, "instructions", 2))
    EXPECT_EQ(InstructionsText(static_cast<std::uint32_t>(Number(row.fields[0], 16))), row.fields[1]) << row.where;
  for (const CaseRow& row : CaseSection(kCases, "ghz", 3))
    EXPECT_EQ(GhzText(std::strtod(row.fields[0].c_str(), nullptr), std::atoi(row.fields[1].c_str())), row.fields[2]) << row.where;
}

TEST(HardwareRules, MemoryStorageAndVideoMemoryUnits) {
  for (const CaseRow& row : CaseSection(kCases, "memory", 4))
    EXPECT_EQ(MemoryText(row.fields[0], Number(row.fields[1]), Number(row.fields[2])), row.fields[3]) << row.where;
  for (const CaseRow& row : CaseSection(kCases, "storage", 4))
    EXPECT_EQ(StorageText(row.fields[0], Number(row.fields[1]), Number(row.fields[2])), row.fields[3]) << row.where;
  for (const CaseRow& row : CaseSection(kCases, "video_memory", 2))
    EXPECT_EQ(VideoMemoryMegabytes(Number(row.fields[0])), Number(row.fields[1])) << row.where;
}

TEST(HardwareRules, OperatingSystemIndexAndNames) {
  for (const CaseRow& row : CaseSection(kCases, "os_index", 6)) {
    const OsIndexInput version{row.fields[0] == "1", row.fields[1] == "1", std::atoi(row.fields[2].c_str()),
                               std::atoi(row.fields[3].c_str())};
    const int index = OsIndexOf(version);
    EXPECT_EQ(index, std::atoi(row.fields[4].c_str())) << row.where;
    EXPECT_EQ(OsIndexName(index), row.fields[5]) << row.where;
  }
}

TEST(HardwareRules, DisplayModeTexts) {
  for (const CaseRow& row : CaseSection(kCases, "display_mode", 5)) {
    const std::optional<DisplayModeRequest> mode = ParseDisplayMode(row.fields[0]);
    if (row.fields[1] == "none") {
      EXPECT_FALSE(mode) << row.where;
      continue;
    }
    ASSERT_TRUE(mode) << row.where;
    EXPECT_EQ(std::to_string(mode->width) + " " + std::to_string(mode->height) + " " + std::to_string(mode->bits) + " " +
                  std::to_string(mode->frequency),
              row.fields[1] + " " + row.fields[2] + " " + row.fields[3] + " " + row.fields[4])
        << row.where;
  }
}

TEST(HardwareRules, RecordingDecoderAndSerialBlocks) {
  for (const CaseRow& row : CaseSection(kCases, "recording", 6)) {
    const std::vector<platform::RecordedEvent> events = DecodeRecording(row.fields[0]);
    ASSERT_EQ(events.size(), Number(row.fields[1])) << row.where;
    if (events.empty()) continue;
    const platform::RecordedEvent want{static_cast<std::uint32_t>(Number(row.fields[2])), static_cast<std::uint32_t>(Number(row.fields[3])),
                                       static_cast<std::uint32_t>(Number(row.fields[4])), static_cast<std::uint32_t>(Number(row.fields[5])), 0};
    EXPECT_EQ(events[0], want) << row.where;
  }
  // The decode buffer holds (length / 25) * 40 + 4096 bytes of 20-byte events.
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "[1,1,1,1]";
  EXPECT_EQ(DecodeRecording(many).size(), many.size() / 25 * 2 + 204);
  EXPECT_EQ(DecodeRecording(many.substr(0, 9 * 300)).size(), 300u);
  for (const CaseRow& row : CaseSection(kCases, "serial_block", 2))
    EXPECT_EQ(SerialBlockSize(std::atoi(row.fields[0].c_str())), Number(row.fields[1])) << row.where;
}

}  // namespace
}  // namespace olvex::test
