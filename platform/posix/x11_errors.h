// Errors the X server reports never end the process: a request that may
// fail (a window gone meanwhile, an area the screen no longer covers)
// runs under an ErrorTrap, which takes the errors of its thread; the
// connections marked quiet lose theirs silently; any other error goes to
// the handler that was in place before.
#pragma once

struct _XDisplay;

namespace platform::x11 {

class ErrorTrap {
 public:
  explicit ErrorTrap(_XDisplay* display);
  ~ErrorTrap();
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;
  // Waits until the server has answered every request so far; true when
  // one of them failed since the trap was set.
  bool Failed();

 private:
  _XDisplay* display_;
  int outer_count_;
};

// A connection whose errors are dropped (the clipboard's own).
void MarkQuiet(_XDisplay* display);
// Before the quiet connection closes.
void Unmark(_XDisplay* display);

}  // namespace platform::x11
