#pragma once
// The pure rules of the Hardware category: option words, unit arithmetic and
// rounding, the video-memory snapping, the operating-system index, the
// display-mode text and the recording decoder. Free of the run engine and of
// the platform's services so that tests and the fuzzer call them directly.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/input_playback.h"

namespace olvex {

// Fields of the processor signature (cpuid leaf 1, EAX) by option word:
// "Extended Model", "Extended Family", "Stepping", "Model", "Family". The
// extended family is the family plus the extended family when the family is
// 15 (an AMD family 17h processor gives 23), as processors document it.
// Nothing when `option` names none of them.
std::optional<unsigned> SignatureField(std::string_view option, std::uint32_t signature);

// "MMX, SSE, SSE2" and so on (platform::cpu_feature bits), in the fixed order, trailing commas removed.
std::string InstructionsText(std::uint32_t features);

// A clock rate in GHz as "Speed" prints it: rounded to `decimals` (2 for the
// system's figure, 7 for a measurement), at most 15 significant digits,
// padded with "0" to at least 4 characters (a whole number gets its "." first,
// so 3 GHz reads "3.00", not "3000"), then " GHz".
std::string GhzText(double ghz, int decimals);

// Memory Details: the text for `options` over the physical memory figures.
std::string MemoryText(std::string_view options, std::uint64_t total, std::uint64_t available);

// Storage Details: the text for `options` over one volume's figures.
std::string StorageText(std::string_view options, std::uint64_t total, std::uint64_t free);

// Video memory in megabytes from bytes: divided by 1019 twice, then snapped
// (54 to 74 gives 64; else the first multiple of 128 below 8192 within 5 %).
unsigned long VideoMemoryMegabytes(std::uint64_t bytes);

// The operating-system index (0 to 11) and its name from version numbers.
struct OsIndexInput {
  bool known = false;  // false off Windows
  bool nt_family = true;
  int major = 0, minor = 0;
};
int OsIndexOf(const OsIndexInput& version);
std::string OsIndexName(int index);

// Change Display Settings: the colour names rewritten ("256 Colors" is
// "8 Bit", ...) and the text read as width "x" height "," bits "," frequency;
// a missing figure is 0. Nothing when there is no width and height.
struct DisplayModeRequest {
  int width = 0, height = 0, bits = 0, frequency = 0;
};
std::string RewriteColorNames(std::string text);
std::optional<DisplayModeRequest> ParseDisplayMode(const std::string& text);

// The records of a Recording step's text: each begins at "[" and holds four
// unsigned decimal numbers (message, high parameter, low parameter, time)
// separated by any non-digit bytes; a record missing one of them ends the
// decoding. At most (length / 25) * 2 + 204 events, as the decode buffer
// holds. Empty when there is no record ("Invalid Recording").
std::vector<platform::RecordedEvent> DecodeRecording(std::string_view text);

// Serial Port Send writes blocks of min(512, baud / 8) bytes (at least 1).
std::size_t SerialBlockSize(int baud);

}  // namespace olvex
