#pragma once
// The clipboard's text (CF_TEXT on Windows) and pictures (CF_DIB and
// CF_BITMAP). The service is an interface so that tests can put a fake in
// place of the real one (SetClipboardForTest).
#include <optional>
#include <string>

namespace platform {

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // The clipboard's text; nothing when it holds none or cannot be opened.
  virtual std::optional<std::string> Text() = 0;
  // Replaces the clipboard's contents with the text; false when that fails.
  virtual bool SetText(const std::string& text) = 0;
  // Empties the clipboard; false when it cannot be opened. The default (for
  // fakes) puts an empty text there.
  virtual bool Clear() { return SetText(""); }
  // Replaces the clipboard's contents with a picture given as a packed
  // device-independent bitmap (a BMP file without its 14-byte file header).
  // False, with the reason in `error`, when that fails.
  virtual bool SetPicture(const std::string& /*dib*/, std::string& error) {
    error = "Pictures cannot be put on the clipboard on this system";
    return false;
  }
  // The clipboard's picture as a packed device-independent bitmap; nothing
  // when it holds none.
  virtual std::optional<std::string> Picture() { return std::nullopt; }
  // The run ended: where the clipboard's text lives only as long as the
  // program that put it there (an X selection), a clipboard manager is asked
  // to keep a copy. Returns within a few seconds.
  virtual void HandOver() {}
};

// The clipboard service in force: the platform's own, or the one a test installed.
// POSIX: the X server's CLIPBOARD selection (text only); without an X server
// its text is nothing and writing fails (pictures with the reason above).
Clipboard& clipboard();
// Tests: install a fake (nullptr puts the platform's own back).
void SetClipboardForTest(Clipboard* fake);

}  // namespace platform
