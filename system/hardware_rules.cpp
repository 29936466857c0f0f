#include "system/hardware_rules.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>

#include "engine/text.h"
#include "platform/processor.h"

namespace olvex {

namespace {

bool Has(std::string_view text, std::string_view word) { return ContainsNoCase(text, word); }

std::string Printed(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Whole(std::uint64_t value) { return std::to_string(value); }

}  // namespace

std::optional<unsigned> SignatureField(std::string_view option, std::uint32_t signature) {
  const unsigned family = (signature >> 8) & 15;
  if (Has(option, "Extended Model")) return (((signature >> 8) & 0xF00) | (signature & 0xF0)) >> 4;
  if (Has(option, "Extended Family")) return family == 15 ? family + ((signature >> 20) & 0xFF) : family;
  if (Has(option, "Stepping")) return signature & 15;
  if (Has(option, "Model")) return (signature >> 4) & 15;
  if (Has(option, "Family")) return family;
  return std::nullopt;
}

std::string InstructionsText(std::uint32_t features) {
  static constexpr std::pair<std::uint32_t, const char*> kNames[] = {
      {platform::cpu_feature::kMmx, "MMX, "},       {platform::cpu_feature::k3DNow, "3DNow, "},     {platform::cpu_feature::kSse, "SSE, "},
      {platform::cpu_feature::kSse2, "SSE2, "},     {platform::cpu_feature::kSse3, "SSE3, "},       {platform::cpu_feature::kSsse3, "SSSE3, "},
      {platform::cpu_feature::kSse41, "SSSE4.1, "}, {platform::cpu_feature::kSse42, "SSSE4.2, "}, {platform::cpu_feature::kThermal, "Thermal Monitoring, "}};
  std::string text;
  for (const auto& [bit, name] : kNames)
    if (features & bit) text += name;
  while (!text.empty() && (text.back() == ' ' || text.back() == ',')) text.pop_back();
  return text;
}

std::string GhzText(double ghz, int decimals) {
  const double scale = std::pow(10.0, decimals);
  std::string text = Printed("%.15g", std::round(ghz * scale) / scale);
  if (text.size() < 4 && text.find('.') == std::string::npos) text += '.';
  while (text.size() < 4) text += '0';
  return text + " GHz";
}

std::string MemoryText(std::string_view options, std::uint64_t total, std::uint64_t available) {
  const std::uint64_t used = total > available ? total - available : 0;
  if (Has(options, "%")) {
    const std::uint64_t load = total == 0 ? 0 : used * 100 / total;
    return Whole(Has(options, "Used") ? load : 100 - load);
  }
  const std::uint64_t bytes = Has(options, "Total") ? total : Has(options, "Free") ? available : Has(options, "Used") ? used : total;
  if (Has(options, "K")) return Whole(bytes / 1024);
  if (Has(options, "MB")) return Whole(bytes / 1048576);
  if (Has(options, "GB")) {
    double gb = std::round(static_cast<double>(bytes) / 1073741824.0 * 100.0) / 100.0;
    if (Printed("%g", gb).find(".9") != std::string::npos) gb = std::round((gb + 0.01) * 100.0) / 100.0;
    return Printed("%.2f", gb);
  }
  return Whole(bytes);
}

std::string StorageText(std::string_view options, std::uint64_t total, std::uint64_t free) {
  const std::uint64_t used = total > free ? total - free : 0;
  const std::uint64_t bytes = Has(options, "Total") ? total : Has(options, "Free") ? free : Has(options, "Used") ? used : total;
  const double b = static_cast<double>(bytes);
  if (Has(options, "K")) return Whole(bytes / 1024);
  if (Has(options, "SI Megabyte")) return Whole(bytes / 1000000);
  if (Has(options, "MB")) return Whole(bytes / 1048576);
  if (Has(options, "SI Gigabyte")) return Printed("%.1f", b / 1e9);
  if (Has(options, "GB")) return Printed("%.1f", b / 1073741824.0);
  if (Has(options, "SI Terabyte")) return Printed("%.3f", b / 1e12);
  if (Has(options, "TB")) return Printed("%.3f", b / 1099511627776.0);
  return Whole(bytes);
}

unsigned long VideoMemoryMegabytes(std::uint64_t bytes) {
  const std::uint64_t mb = bytes / 1019 / 1019;
  if (mb >= 54 && mb <= 74) return 64;
  for (std::uint64_t size = 128; size < 8192; size += 128) {
    const std::uint64_t gap = size > mb ? size - mb : mb - size;
    if (gap * 100 <= mb * 5) return static_cast<unsigned long>(size);
  }
  return static_cast<unsigned long>(mb);
}

int OsIndexOf(const OsIndexInput& v) {
  if (!v.known) return 0;
  if (!v.nt_family) return v.minor == 0 ? 1 : v.minor == 10 ? 3 : v.minor == 90 ? 4 : 0;
  if (v.major <= 4) return 5;
  if (v.major == 5) return v.minor <= 2 ? 6 + v.minor : 0;
  if (v.major == 6) return v.minor == 0 ? 9 : v.minor == 1 ? 10 : 11;
  return 11;
}

std::string OsIndexName(int index) {
  static constexpr const char* kNames[] = {"Unknown Operating System", "Windows 95", "Windows NT", "Windows 98",
                                           "Windows ME", "Windows NT 4", "Windows 2000", "Windows XP",
                                           "Windows 2003 Server", "Windows Vista", "Windows 7"};
  return index >= 1 && index <= 10 ? kNames[index] : kNames[0];
}

std::string RewriteColorNames(std::string text) {
  ReplaceAll(text, "16 Colors", "4 Bit", true);
  ReplaceAll(text, "256 Colors", "8 Bit", true);
  ReplaceAll(text, "High Color (16 Bit)", "16 Bit", true);
  ReplaceAll(text, "True Color (32 Bit)", "32 Bit", true);
  return text;
}

std::optional<DisplayModeRequest> ParseDisplayMode(const std::string& text) {
  const std::string mode = RewriteColorNames(text);
  const std::size_t x = FindNoCase(mode, "x");
  if (x == std::string::npos) return std::nullopt;
  DisplayModeRequest request;
  request.width = FirstNumber(std::string_view(mode).substr(0, x));
  const std::size_t comma1 = mode.find(',', x);
  request.height = FirstNumber(std::string_view(mode).substr(x + 1, comma1 == std::string::npos ? std::string::npos : comma1 - x - 1));
  if (comma1 != std::string::npos) {
    const std::size_t comma2 = mode.find(',', comma1 + 1);
    request.bits = FirstNumber(std::string_view(mode).substr(comma1 + 1, comma2 == std::string::npos ? std::string::npos : comma2 - comma1 - 1));
    if (comma2 != std::string::npos) request.frequency = FirstNumber(std::string_view(mode).substr(comma2 + 1));
  }
  if (request.width <= 0 || request.height <= 0) return std::nullopt;
  return request;
}

std::vector<platform::RecordedEvent> DecodeRecording(std::string_view text) {
  const std::size_t capacity = text.size() / 25 * 2 + 204;
  std::vector<platform::RecordedEvent> events;
  std::size_t at = text.find('[');
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  while (at != std::string_view::npos && events.size() < capacity) {
    std::uint32_t numbers[4];
    ++at;
    for (std::uint32_t& number : numbers) {
      while (at < text.size() && !is_digit(text[at])) ++at;
      if (at >= text.size()) return events;
      std::uint64_t value = 0;
      for (; at < text.size() && is_digit(text[at]); ++at) value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(text[at] - '0'), 0xFFFFFFFFu);
      number = static_cast<std::uint32_t>(value);
    }
    events.push_back({numbers[0], numbers[2], numbers[1], numbers[3], 0});
    at = text.find('[', at);
  }
  return events;
}

std::size_t SerialBlockSize(int baud) {
  const int block = std::min(512, baud / 8);
  return static_cast<std::size_t>(std::max(1, block));
}

}  // namespace olvex
