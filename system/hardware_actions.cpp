#include "system/hardware_actions.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <thread>

#include "engine/dispatch.h"
#include "engine/document.h"
#include "engine/output.h"
#include "engine/run.h"
#include "engine/run_log.h"
#include "engine/text.h"
#include "platform/dialogs.h"
#include "platform/displays.h"
#include "platform/file_ops.h"
#include "platform/files.h"
#include "platform/input_playback.h"
#include "platform/os_details.h"
#include "platform/processor.h"
#include "platform/registry.h"
#include "platform/screen_saver.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/volumes.h"
#include "system/hardware_rules.h"
#include "system/serial_actions.h"
#include "vars/expand.h"
#include "vars/registry_value.h"

namespace olvex {
namespace {

constexpr const char* kNoDesktop = "No desktop is available on this system";
constexpr std::string_view kDesktopKey = "HKEY_CURRENT_USER\\Control Panel\\Desktop\\";

bool Has(std::string_view text, std::string_view word) { return ContainsNoCase(text, word); }

int Fail(const std::string& message) {
  SetStepError(message);
  return 0;
}

int Saved(int slot, int index, const std::string& text) {
  SaveOutput(slot, index, text);
  return 1;
}

// Sleeps `ms`, ending early on a stop request; false when stopped.
bool PauseUnlessStopped(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (StopRequestedOrKeyPressed()) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(50)));
  }
  return true;
}

int ProcessorDetails(int slot, int index, std::string_view o) {
  const platform::ProcessorIdentity p = platform::ReadProcessor();
  std::string out;
  if (Has(o, "Architecture")) {
    out = p.architecture;
  } else if (Has(o, "Description")) {
    out = p.name;
    if (!out.empty() && !p.identifier.empty()) out += '\n';
    out += p.identifier;
  } else if (const std::optional<unsigned> field = SignatureField(o, p.signature)) {
    out = std::to_string(*field);
  } else if (Has(o, "Revision")) {
    out = p.revision;
  } else if (Has(o, "Number of Processors")) {
    out = std::to_string(p.count);
  } else if (Has(o, "Speed") && Has(o, "Test")) {
    const std::optional<double> ghz = platform::MeasureClockGhz();
    if (ghz) out = GhzText(*ghz, 7);
  } else if (Has(o, "Speed")) {
    if (p.mhz) out = GhzText(*p.mhz / 1000.0, 2);
  } else if (Has(o, "Instructions")) {
    out = InstructionsText(p.features);
  } else if (Has(o, "Manufacturer")) {
    out = p.vendor == "AuthenticAMD" ? "AMD" : p.vendor == "GenuineIntel" ? "Intel" : p.vendor;
  }
  return Saved(slot, index, out);
}

int MemoryDetails(int slot, int index, std::string_view o) {
  const std::optional<platform::MemoryStatus> memory = platform::PhysicalMemory();
  if (!memory) return Fail("The memory figures are not available on this system");
  return Saved(slot, index, MemoryText(o, memory->total, memory->available));
}

int VideoDetails(int slot, int index, std::string_view o) {
  const std::optional<platform::DisplayFacts> d = platform::ReadDisplays();
  if (!d) return Fail(kNoDesktop);
  std::string out;
  if (Has(o, "Memory")) {
    out = Has(o, "MB") ? std::to_string(VideoMemoryMegabytes(d->video_memory)) : std::to_string(d->video_memory);
  } else if (Has(o, "Frequency")) {
    out = std::to_string(d->refresh_hz);
  } else if (Has(o, "Color Depth")) {
    out = std::to_string(d->bits_per_pixel);
  } else if (Has(o, "Maximum Colors")) {
    out = std::to_string(1ull << std::clamp(d->bits_per_pixel, 0, 24));
  } else if (Has(o, "Monitors")) {
    out = std::to_string(d->monitors);
  } else if (Has(o, "Resolution")) {
    const bool second = Has(o, "2");
    out = std::to_string(second ? d->second_width : d->width) + " x " + std::to_string(second ? d->second_height : d->height);
  }
  return Saved(slot, index, out);
}

int StorageDetails(int slot, int index, const Step& step, std::string_view o) {
  const std::string drive = ExpandText(step.value(1), slot, index, 0);
  if (Has(o, "List") || drive.empty()) {
    std::string list;
    for (const platform::VolumeEntry& volume : platform::ListVolumes())
      list += volume.name + (volume.label.empty() ? "" : "  " + volume.label) + "\r\n";
    return Saved(slot, index, list);
  }
  const std::string path = platform::VolumePath(drive);
  const std::optional<platform::VolumeInfo> volume = platform::ReadVolume(path);
  if (!volume) return Fail("Unable to read the drive \"" + drive + "\": " + platform::LastErrorText());
  return Saved(slot, index, StorageText(o, volume->total, volume->free));
}

int OsDetails(int slot, int index, std::string_view o) {
  const platform::OsDetails d = platform::ReadOsDetails();
  const bool win = d.windows;
  std::string out;
  if (Has(o, "Computer Name")) out = d.computer_name;
  else if (Has(o, "Description")) out = d.description;
  else if (Has(o, "Major Version")) out = std::to_string(d.major);
  else if (Has(o, "Minor Version")) out = std::to_string(d.minor);
  else if (Has(o, "Version")) out = std::to_string(d.major) + "." + std::to_string(d.minor);
  else if (Has(o, "Product Type")) out = win ? std::to_string(d.product_type) : "";
  else if (Has(o, "Platform ID")) out = win ? std::to_string(d.platform_id) : "";
  else if (Has(o, "Suite Mask")) out = win ? std::to_string(d.suite_mask) : "";
  else if (Has(o, "Build Number")) out = std::to_string(d.build);
  else if (Has(o, "Service Pack")) out = d.service_pack;
  else if (Has(o, "Install")) out = d.install_folder;
  return Saved(slot, index, out);
}

int DisplaySettings(int slot, int index, const Step& step) {
  const std::string text = ExpandText(step.text, slot, index, 0);
  const std::optional<DisplayModeRequest> mode = ParseDisplayMode(text);
  if (!mode) return Fail("Incorrect video display mode \"" + text + "\"");
  switch (platform::ChangeDisplayMode(mode->width, mode->height, mode->bits, mode->frequency)) {
    case platform::DisplayChange::kDone: return 1;
    case platform::DisplayChange::kNoDesktop: return Fail(kNoDesktop);
    case platform::DisplayChange::kFailed: return Fail("Unable to set the video display mode \"" + text + "\"");
    case platform::DisplayChange::kRestartNeeded: break;
  }
  platform::dialogs().ShowMessage("The computer must be restarted to activate the change in the video display mode.",
                                  "System Message",
                                  platform::box::kIconInformation | platform::box::kSetForeground | platform::box::kTopmost);
  return 1;
}

void LogNothingHeard() { LogText("    Warning: this system has no sound output, nothing was heard"); }

int PlaySound(int slot, int index, const Step& step) {
  const std::string path = ExpandText(step.text, slot, index, 0);
  if (path.empty() || !platform::PathExists(path) || platform::IsFolder(path)) return Fail("Incorrect media file");
  switch (platform::PlaySoundFile(path, Has(step.options, "Sync"))) {
    case platform::SoundResult::kPlayed: return 1;
    case platform::SoundResult::kNoOutput: LogNothingHeard(); return 1;
    case platform::SoundResult::kFailed: break;
  }
  return Fail("Incorrect media file");
}

int PlayTone(int slot, int index, const Step& step) {
  int duration = FirstNumber(ExpandText(step.timeout(), slot, index, 0).substr(0, 31));
  if (duration < 5) duration = 1000;
  int hz = FirstNumber(ExpandText(step.text, slot, index, 0));
  if (hz < 2) return PauseUnlessStopped(duration) ? 1 : -1;
  if (hz < 37 || hz > 32767) {
    hz = 370;
    duration = 100;
  }
  if (platform::PlayTone(hz, duration) != platform::SoundResult::kNoOutput) return 1;
  LogNothingHeard();
  return PauseUnlessStopped(duration) ? 1 : -1;
}

// A text value of the store, without the terminating zeros the registry keeps.
std::optional<std::string> TextValue(const std::string& path) {
  std::optional<std::string> value = RegistryRead(path);
  while (value && !value->empty() && value->back() == '\0') value->pop_back();
  return value;
}

// The store part of Disable and Enable Screen Saver, then the system's switch.
int ScreenSaver(const Step& step) {
  const bool enable = Has(step.action, "Enable");
  const std::string active = std::string(kDesktopKey) + "ScreenSaveActive";
  const std::string current = std::string(kDesktopKey) + "SCRNSAVE.EXE";
  const std::string backup = current + ".BAK";
  bool stored = RegistryWrite(active, platform::regtype::kSz, enable ? "1" : "0");
  if (!enable) {
    const std::optional<std::string> program = TextValue(current);
    if (program && !program->empty()) {
      stored = stored && RegistryWrite(backup, platform::regtype::kSz, *program) && RegistryDelete(current);
    }
  } else {
    const std::optional<std::string> saved = TextValue(backup);
    if (saved) {
      stored = stored && RegistryWrite(current, platform::regtype::kSz, *saved);
    } else if (!RegistryExists(current)) {
      if (const std::optional<std::string> system = platform::KnownFolder(platform::Folder::kSystem))
        stored = stored && RegistryWrite(current, platform::regtype::kSz, *system + "\\logon.scr");
    }
    if (saved) stored = stored && RegistryDelete(backup);
  }
  if (!stored) return Fail("Unable to write the screen saver settings under " + std::string(kDesktopKey));
  platform::SetScreenSaverActive(enable);
  return 1;
}

int Recording(int slot, int index, const Step& step) {
  const std::vector<platform::RecordedEvent> events = DecodeRecording(ExpandText(step.text, slot, index, 0));
  if (events.empty()) return Fail("Invalid Recording");
  const bool journal = !Has(step.options, "Hardware");
  LogLine("    (using \"%s\" recording method)", journal ? "Software" : "Hardware");
  const auto stop = [] { return StopRequestedOrKeyPressed(); };
  platform::PlaybackResult result = platform::PlayRecordedInput(events, journal, stop);
  if (result == platform::PlaybackResult::kJournalUnavailable) {
    LogText("    Journal playback is not available on this system: playing the recording with the \"Hardware\" method");
    result = platform::PlayRecordedInput(events, false, stop);
  }
  if (result == platform::PlaybackResult::kNoDesktop) return Fail(kNoDesktop);
  // Ended before its last event without a stop request: the system stopped asking for events.
  if (result == platform::PlaybackResult::kStopped && !StopRequested()) return Fail("Unable to play recording");
  return 1;
}

}  // namespace

int OperatingSystemIndex(std::string* name) {
  const platform::OsDetails d = platform::ReadOsDetails();
  const int index = OsIndexOf({d.windows, d.nt_family, d.major, d.minor});
  if (name) *name = OsIndexName(index) + (d.service_pack.empty() ? "" : " " + d.service_pack);
  return index;
}

int HandleHardwareStep(int slot, int step_index) {
  const Step& step = Document(slot).steps[static_cast<std::size_t>(step_index)];
  const std::string_view a = step.action, o = step.options;
  if (Has(a, "Record")) return Recording(slot, step_index, step);
  if (Has(a, "CPU")) return ProcessorDetails(slot, step_index, o);
  if (Has(a, "Memory")) return MemoryDetails(slot, step_index, o);
  // "Video Display Mode" is the old name of Change Display Settings: it is
  // tested before "Video", which would take it for Video Details.
  if (Has(a, "Change Display Settings") || Has(a, "Video Display Mode")) return DisplaySettings(slot, step_index, step);
  if (Has(a, "Video")) return VideoDetails(slot, step_index, o);
  if (Has(a, "Storage")) return StorageDetails(slot, step_index, step, o);
  if (Has(a, "Operating System")) return OsDetails(slot, step_index, o);
  if (Has(a, "Sound")) return PlaySound(slot, step_index, step);
  if (Has(a, "Tone")) return PlayTone(slot, step_index, step);
  if (Has(a, "Screen Saver")) return ScreenSaver(step);
  if (Has(a, "Serial")) return SerialStep(slot, step_index, step);
  return StepNotAvailable(slot, step_index);
}

}  // namespace olvex
