#include "input/key_names.h"

#include <array>

namespace olvex {
namespace {

constexpr std::array<KeyName, 84> kKeyNames{{
    {"{ControlDown}", 0x11}, {"{ControlUp}", 0x11},
    {"{ShiftDown}", 0x10},   {"{ShiftUp}", 0x10},
    {"{AltDown}", 0x12},     {"{AltUp}", 0x12},
    {"{Enter}", 0x0D},       {"{Space}", 0x20},        {"{Tab}", 0x09},
    {"{Left}", 0x25},        {"{Right}", 0x27},        {"{Up}", 0x26},          {"{Down}", 0x28},
    {"{PageUp}", 0x21},      {"{PageDown}", 0x22},     {"{Home}", 0x24},        {"{End}", 0x23},
    {"{Escape}", 0x1B},      {"{Insert}", 0x2D},       {"{Delete}", 0x2E},      {"{Backspace}", 0x08},
    {"{CapsLock}", 0x14},    {"{PrintScreen}", 0x2C},  {"{ScrollLock}", 0x91},  {"{Pause}", 0x13},
    {"{WinKey}", 0x5B},      {"{WinKeyDown}", 0x5B},   {"{WinKeyUp}", 0x5B},    {"{LeftWinkey}", 0x5B},
    {"{RightWinkey}", 0x5C}, {"{AppKey}", 0x5D},       {"{Delay=1000}", 0x03},
    {"{F1}", 0x70},  {"{F2}", 0x71},  {"{F3}", 0x72},  {"{F4}", 0x73},
    {"{F5}", 0x74},  {"{F6}", 0x75},  {"{F7}", 0x76},  {"{F8}", 0x77},
    {"{F9}", 0x78},  {"{F10}", 0x79}, {"{F11}", 0x7A}, {"{F12}", 0x7B},
    {"{F13}", 0x7C}, {"{F14}", 0x7D}, {"{F15}", 0x7E}, {"{F16}", 0x7F},
    {"{NumLock}", 0x90},
    {"{Num0}", 0x60}, {"{Num1}", 0x61}, {"{Num2}", 0x62}, {"{Num3}", 0x63}, {"{Num4}", 0x64},
    {"{Num5}", 0x65}, {"{Num6}", 0x66}, {"{Num7}", 0x67}, {"{Num8}", 0x68}, {"{Num9}", 0x69},
    {"{Num*}", 0x6A}, {"{Num+}", 0x6B}, {"{Num-}", 0x6D}, {"{Num.}", 0x6E}, {"{Num/}", 0x6F},
    {"{VolumeUp}", 0xAF},    {"{VolumeDown}", 0xAE},   {"{VolumeMute}", 0xAD},
    {"{NextTrack}", 0xB0},   {"{PreviousTrack}", 0xB1}, {"{MediaStop}", 0xB2},  {"{MediaPause}", 0xB3},
    {"{BrowserBack}", 0xA6}, {"{BrowserForward}", 0xA7}, {"{BrowserRefresh}", 0xA8}, {"{BrowserStop}", 0xA9},
    {"{BrowserSearch}", 0xAA}, {"{BrowserFavorites}", 0xAB}, {"{BrowserHome}", 0xAC},
    {"{LaunchEmail}", 0xB4}, {"{SleepMode}", 0x5F},
    {"{App1}", 0xB6},        {"{App2}", 0xB7},
    {"{xbutton1}", 0x05},    {"{xbutton2}", 0x06},
}};

constexpr std::array<KeyAlias, 32> kAliases{{
    {"{Control}", "{ControlDown}"}, {"{Ctrl}", "{ControlDown}"}, {"{Ctl}", "{ControlDown}"},
    {"{CtrlDown}", "{ControlDown}"}, {"{CtrlUp}", "{ControlUp}"},
    {"{Shift}", "{ShiftDown}"},     {"{Alt}", "{AltDown}"},
    {"{newline}", "{Enter}"}, {"{return}", "{Enter}"}, {"{\\n}", "{Enter}"},
    {"{n}", "{Enter}"},       {"{\\r}", "{Enter}"},    {"{r}", "{Enter}"},
    {"{\\t}", "{Tab}"},       {"{t}", "{Tab}"},
    {"{esc}", "{Escape}"},
    {"{Page Up}", "{PageUp}"},     {"{Pg Up}", "{PageUp}"},   {"{PgUp}", "{PageUp}"},
    {"{Page Down}", "{PageDown}"}, {"{Pg Dn}", "{PageDown}"}, {"{PgDn}", "{PageDown}"},
    {"{Ins}", "{Insert}"},    {"{Del}", "{Delete}"},
    {"{Print}", "{PrintScreen}"}, {"{Prt}", "{PrintScreen}"}, {"{PrtScrn}", "{PrintScreen}"},
    {"{Caps}", "{CapsLock}"},
    {"{Volume Up}", "{VolumeUp}"},     {"{Volume_Up}", "{VolumeUp}"},
    {"{Volume Down}", "{VolumeDown}"}, {"{Volume_Down}", "{VolumeDown}"},
}};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace

std::span<const KeyName> KeyNameTable() { return kKeyNames; }
std::span<const KeyAlias> KeyAliasTable() { return kAliases; }

PressForm PressFormOf(std::string_view name) {
  for (std::string_view down : {"{ControlDown}", "{ShiftDown}", "{AltDown}", "{WinKeyDown}"})
    if (SameIgnoringCase(name, down)) return PressForm::PressOnly;
  for (std::string_view up : {"{ControlUp}", "{ShiftUp}", "{AltUp}", "{WinKeyUp}"})
    if (SameIgnoringCase(name, up)) return PressForm::ReleaseOnly;
  return PressForm::PressAndRelease;
}

KeyNameMatch MatchKeyName(std::string_view text) {
  for (const KeyName& key : kKeyNames) {
    if (text.size() >= key.name.size() && SameIgnoringCase(text.substr(0, key.name.size()), key.name))
      return {key.code, key.name.size(), PressFormOf(key.name)};
  }
  return {};
}

int VirtualKeyOfName(std::string_view name) {
  for (const KeyAlias& alias : kAliases)
    if (SameIgnoringCase(name, alias.alias)) {
      name = alias.canonical;
      break;
    }
  for (const KeyName& key : kKeyNames)
    if (SameIgnoringCase(name, key.name)) return key.code;
  return 0;
}

}  // namespace olvex
