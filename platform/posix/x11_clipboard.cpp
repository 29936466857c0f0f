// The CLIPBOARD selection. A thread of its own, on a connection of its own,
// owns the selection for the text this process put there and answers other
// programs' requests for it (TARGETS, UTF8_STRING, STRING, TEXT, TIMESTAMP,
// MULTIPLE; texts larger than one request go in INCR steps). Reading
// another program's selection waits at most a second for each answer.
// Other threads hand their requests to that thread and wait for its answer.
// An X selection lives only as long as its owner: HandOver asks a running
// clipboard manager (the owner of CLIPBOARD_MANAGER) to keep a copy.
#include "platform/posix/x11_clipboard.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/x11_desktop.h"
#include "platform/posix/x11_display.h"
#include "platform/posix/x11_text.h"

namespace platform::x11 {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long another client may take for each answer, and for a whole read.
constexpr auto kAnswerWait = 1000ms;
constexpr auto kReadWait = 5000ms;
// How long a clipboard manager may take to save the text.
constexpr auto kHandOverWait = 3000ms;
// An INCR transfer whose reader stays silent this long is dropped.
constexpr auto kTransferIdle = 5000ms;

struct Atoms {
  Atom clipboard, targets, multiple, timestamp, text, utf8, incr, atom_pair, manager, save_targets, property;
  explicit Atoms(Display* d)
      : clipboard(XInternAtom(d, "CLIPBOARD", False)),
        targets(XInternAtom(d, "TARGETS", False)),
        multiple(XInternAtom(d, "MULTIPLE", False)),
        timestamp(XInternAtom(d, "TIMESTAMP", False)),
        text(XInternAtom(d, "TEXT", False)),
        utf8(XInternAtom(d, "UTF8_STRING", False)),
        incr(XInternAtom(d, "INCR", False)),
        atom_pair(XInternAtom(d, "ATOM_PAIR", False)),
        manager(XInternAtom(d, "CLIPBOARD_MANAGER", False)),
        save_targets(XInternAtom(d, "SAVE_TARGETS", False)),
        property(XInternAtom(d, "OLVEX_SELECTION", False)) {}
};

// A property being written to a reader in INCR steps.
struct Transfer {
  Window requestor;
  Atom property, type;
  std::string data;
  std::size_t sent = 0;
  bool finished = false;  // the empty closing step is written
  Clock::time_point last;
};

struct Request {
  std::function<void()> work;
  bool started = false, done = false;
};

class X11Clipboard : public Clipboard {
 public:
  explicit X11Clipboard(Display* display) : d_(display), atoms_(display) {
    window_ = XCreateSimpleWindow(d_, DefaultRootWindow(d_), -10, -10, 1, 1, 0, 0, 0);
    XSelectInput(d_, window_, PropertyChangeMask);
    const long max_request = std::max(XExtendedMaxRequestSize(d_), XMaxRequestSize(d_));
    chunk_ = static_cast<std::size_t>(std::min<long>(max_request * 4 - 1024, 256 * 1024));
    if (pipe(wake_) != 0) wake_[0] = wake_[1] = -1;
    XFlush(d_);
    thread_ = std::thread([this] { Serve(); });
  }

  ~X11Clipboard() override {
    Call([this] { quit_ = true; }, 10s);
    if (thread_.joinable()) thread_.join();
    XDestroyWindow(d_, window_);
    XCloseDisplay(d_);
    for (const int fd : wake_)
      if (fd >= 0) close(fd);
  }

  std::optional<std::string> Text() override {
    std::optional<std::string> text;
    Call([&] { text = owned_ ? std::optional<std::string>(text_) : ReadOthers(); }, kReadWait + 1s);
    return text;
  }

  bool SetText(const std::string& text) override {
    bool ok = false;
    Call([&] { ok = Own(text); }, 3s);
    return ok;
  }

  bool Clear() override {
    bool ok = false;
    Call(
        [&] {
          XSetSelectionOwner(d_, atoms_.clipboard, None, ServerTime());
          owned_ = false;
          text_.clear();
          ok = XGetSelectionOwner(d_, atoms_.clipboard) == None;
        },
        3s);
    return ok;
  }

  void HandOver() override {
    Call([this] { SaveWithManager(); }, kHandOverWait + 1s);
  }

 private:
  // Runs `work` on the clipboard's thread. A request still queued after
  // `bound` is dropped; one already running is waited for (each of its
  // waits is bounded).
  void Call(std::function<void()> work, Clock::duration bound) {
    auto request = std::make_shared<Request>();
    request->work = std::move(work);
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopped_ || wake_[1] < 0) return;
    queue_.push_back(request);
    const char byte = 1;
    if (write(wake_[1], &byte, 1) != 1) {
      queue_.pop_back();
      return;
    }
    if (done_.wait_for(lock, bound, [&] { return request->done; })) return;
    if (request->started) {
      done_.wait(lock, [&] { return request->done; });
      return;
    }
    queue_.erase(std::find(queue_.begin(), queue_.end(), request));
  }

  void Serve() {
    while (!quit_) {
      Drain();
      RunRequests();
      if (quit_) break;
      Wait(Clock::now() + 200ms);
      DropIdleTransfers();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    for (auto& request : queue_) request->done = true;
    done_.notify_all();
  }

  void RunRequests() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!queue_.empty()) {
      const std::shared_ptr<Request> request = queue_.front();
      queue_.pop_front();
      request->started = true;
      lock.unlock();
      request->work();
      lock.lock();
      request->done = true;
      done_.notify_all();
    }
  }

  // Sleeps until the server or another thread has something, or `until`.
  void Wait(Clock::time_point until) {
    XFlush(d_);
    if (XPending(d_) > 0) return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd fds[2] = {{ConnectionNumber(d_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(std::max<long long>(left, 0))) > 0 && (fds[1].revents & POLLIN)) {
      char bytes[64];
      [[maybe_unused]] const ssize_t n = read(wake_[0], bytes, sizeof bytes);
    }
  }

  // Handles every event that has arrived.
  void Drain() {
    while (XPending(d_) > 0) {
      XEvent event;
      XNextEvent(d_, &event);
      Handle(event);
    }
  }

  // Handles events until one satisfies `wanted` (true, the event in `out`)
  // or `until` passes (false).
  bool WaitForEvent(const std::function<bool(const XEvent&)>& wanted, Clock::time_point until, XEvent& out) {
    for (;;) {
      while (XPending(d_) > 0) {
        XNextEvent(d_, &out);
        if (wanted(out)) return true;
        Handle(out);
      }
      if (Clock::now() >= until) return false;
      Wait(until);
    }
  }

  void Handle(const XEvent& event) {
    switch (event.type) {
      case SelectionRequest:
        Answer(event.xselectionrequest);
        break;
      case SelectionClear:
        if (event.xselectionclear.selection == atoms_.clipboard) {
          owned_ = false;
          text_.clear();
        }
        break;
      case PropertyNotify:
        if (event.xproperty.state == PropertyDelete) NextStep(event.xproperty.window, event.xproperty.atom);
        break;
      default:
        break;
    }
  }

  // The server's time now: the time stamp of a change to our own window.
  Time ServerTime() {
    XChangeProperty(d_, window_, atoms_.property, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent event;
    const bool seen = WaitForEvent(
        [this](const XEvent& e) {
          return e.type == PropertyNotify && e.xproperty.window == window_ && e.xproperty.atom == atoms_.property &&
                 e.xproperty.state == PropertyNewValue;
        },
        Clock::now() + kAnswerWait, event);
    return seen ? event.xproperty.time : CurrentTime;
  }

  bool Own(const std::string& text) {
    own_time_ = ServerTime();
    XSetSelectionOwner(d_, atoms_.clipboard, window_, own_time_);
    owned_ = XGetSelectionOwner(d_, atoms_.clipboard) == window_;
    text_ = owned_ ? text : std::string();
    return owned_;
  }

  // ---- serving our text ----

  void Answer(const XSelectionRequestEvent& request) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = d_;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None;
    // Obsolete clients name no property: the target's name serves.
    const Atom property = request.property == None ? request.target : request.property;
    const bool ours = owned_ && request.selection == atoms_.clipboard &&
                      (request.time == CurrentTime || own_time_ == CurrentTime || request.time >= own_time_);
    if (ours && request.target == atoms_.multiple && request.property != None) {
      if (AnswerMultiple(request.requestor, property)) reply.property = property;
    } else if (ours && Put(request.requestor, request.target, property)) {
      reply.property = property;
    }
    XSendEvent(d_, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
    XFlush(d_);
  }

  // Each pair of the requestor's ATOM_PAIR list converted; a pair that
  // cannot be has its property replaced by None.
  bool AnswerMultiple(Window requestor, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d_, requestor, property, 0, 1 << 16, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) != Success ||
        !data || format != 32) {
      if (data) XFree(data);
      return false;
    }
    std::vector<Atom> pairs(reinterpret_cast<Atom*>(data), reinterpret_cast<Atom*>(data) + count);
    XFree(data);
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
      if (pairs[i] == atoms_.multiple || !Put(requestor, pairs[i], pairs[i + 1])) pairs[i + 1] = None;
    XChangeProperty(d_, requestor, property, atoms_.atom_pair, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(pairs.data()), static_cast<int>(pairs.size()));
    return true;
  }

  // Writes our text (or list of targets) as `target` into the property.
  bool Put(Window requestor, Atom target, Atom property) {
    if (target == atoms_.targets) {
      Atom list[] = {atoms_.targets, atoms_.multiple, atoms_.timestamp, atoms_.utf8, XA_STRING, atoms_.text};
      XChangeProperty(d_, requestor, property, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(list), 6);
      return true;
    }
    if (target == atoms_.timestamp) {
      long time = static_cast<long>(own_time_);
      XChangeProperty(d_, requestor, property, XA_INTEGER, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&time),
                      1);
      return true;
    }
    if (target == atoms_.utf8) return PutText(requestor, property, atoms_.utf8, CodePageToUtf8(text_));
    // Latin-1 lacks the code page's 0x80 to 0x9F as much as the other way round.
    if (target == XA_STRING || target == atoms_.text)
      return PutText(requestor, property, XA_STRING, Latin1ToCodePage(text_));
    return false;
  }

  bool PutText(Window requestor, Atom property, Atom type, std::string bytes) {
    if (bytes.size() <= chunk_) {
      XChangeProperty(d_, requestor, property, type, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
      return true;
    }
    // Too large for one request: the reader deletes the property for each
    // next step (ICCCM's INCR).
    XSelectInput(d_, requestor, PropertyChangeMask);
    long size = static_cast<long>(bytes.size());
    XChangeProperty(d_, requestor, property, atoms_.incr, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&size),
                    1);
    transfers_.push_back({requestor, property, type, std::move(bytes), 0, false, Clock::now()});
    return true;
  }

  void NextStep(Window window, Atom property) {
    const auto it = std::find_if(transfers_.begin(), transfers_.end(),
                                 [&](const Transfer& t) { return t.requestor == window && t.property == property; });
    if (it == transfers_.end()) return;
    if (it->finished) {
      EndTransfer(it);
      return;
    }
    const std::size_t size = std::min(chunk_, it->data.size() - it->sent);
    XChangeProperty(d_, window, property, it->type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(it->data.data() + it->sent), static_cast<int>(size));
    it->sent += size;
    it->finished = size == 0;
    it->last = Clock::now();
    XFlush(d_);
  }

  void EndTransfer(std::vector<Transfer>::iterator it) {
    const Window window = it->requestor;
    transfers_.erase(it);
    if (std::none_of(transfers_.begin(), transfers_.end(), [&](const Transfer& t) { return t.requestor == window; }))
      XSelectInput(d_, window, NoEventMask);
  }

  void DropIdleTransfers() {
    for (auto it = transfers_.begin(); it != transfers_.end();)
      if (Clock::now() - it->last > kTransferIdle) {
        EndTransfer(it);
        it = transfers_.begin();
      } else {
        ++it;
      }
  }

  // ---- reading another owner's text ----

  std::optional<std::string> ReadOthers() {
    if (XGetSelectionOwner(d_, atoms_.clipboard) == None) return std::nullopt;
    const Clock::time_point until = Clock::now() + kReadWait;
    for (const Atom target : {atoms_.utf8, XA_STRING}) {
      XDeleteProperty(d_, window_, atoms_.property);
      XConvertSelection(d_, atoms_.clipboard, target, atoms_.property, window_, CurrentTime);
      XEvent event;
      const bool answered = WaitForEvent(
          [this](const XEvent& e) {
            return e.type == SelectionNotify && e.xselection.requestor == window_ &&
                   e.xselection.selection == atoms_.clipboard;
          },
          std::min(until, Clock::now() + kAnswerWait), event);
      if (!answered) return std::nullopt;
      if (event.xselection.property == None) continue;
      const std::optional<std::string> bytes = ReadProperty(until);
      if (!bytes) return std::nullopt;
      return target == atoms_.utf8 ? Utf8ToCodePage(*bytes) : Latin1ToCodePage(*bytes);
    }
    return std::nullopt;
  }

  // Our property's bytes (deleted as read), through INCR steps when the
  // owner sends it so.
  std::optional<std::string> ReadProperty(Clock::time_point until) {
    Atom type = None;
    std::string bytes;
    if (!TakeProperty(type, bytes)) return std::nullopt;
    if (type != atoms_.incr) return bytes;
    std::string whole;
    for (;;) {
      XEvent event;
      if (!WaitForEvent(
              [this](const XEvent& e) {
                return e.type == PropertyNotify && e.xproperty.window == window_ &&
                       e.xproperty.atom == atoms_.property && e.xproperty.state == PropertyNewValue;
              },
              std::min(until, Clock::now() + kAnswerWait), event))
        return std::nullopt;
      if (!TakeProperty(type, bytes)) return std::nullopt;
      if (bytes.empty()) return whole;
      whole += bytes;
    }
  }

  bool TakeProperty(Atom& type, std::string& bytes) {
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d_, window_, atoms_.property, 0, 0x1FFFFFFF, True, AnyPropertyType, &type, &format, &count,
                           &after, &data) != Success)
      return false;
    bytes.assign(reinterpret_cast<const char*>(data), data && format == 8 ? count : 0);
    if (data) XFree(data);
    return true;
  }

  // ---- the hand-over ----

  void SaveWithManager() {
    if (!owned_ || XGetSelectionOwner(d_, atoms_.manager) == None) return;
    Atom keep[] = {atoms_.utf8, XA_STRING};
    const Atom list = XInternAtom(d_, "OLVEX_SAVE_TARGETS", False);
    XChangeProperty(d_, window_, list, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(keep), 2);
    XConvertSelection(d_, atoms_.manager, atoms_.save_targets, list, window_, ServerTime());
    XEvent event;
    WaitForEvent(
        [this](const XEvent& e) {
          return e.type == SelectionNotify && e.xselection.requestor == window_ &&
                 e.xselection.selection == atoms_.manager;
        },
        Clock::now() + kHandOverWait, event);
  }

  Display* const d_;
  const Atoms atoms_;
  Window window_ = None;
  std::size_t chunk_ = 0;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  // Touched only by the clipboard's thread.
  bool owned_ = false, quit_ = false;
  std::string text_;
  Time own_time_ = CurrentTime;
  std::vector<Transfer> transfers_;
  // The requests of other threads.
  std::mutex mutex_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<Request>> queue_;
  bool stopped_ = false;
};

// The clipboard on a connection of its own; nullptr without an X server.
std::unique_ptr<Clipboard> OpenClipboard() {
  // Dpy() sets the error handler that keeps a request about a window gone
  // meanwhile (a reader that quit) from ending the program.
  Display* shared = Connection() ? Dpy() : nullptr;
  Display* own = shared ? XOpenDisplay(DisplayString(shared)) : nullptr;
  if (!own) return nullptr;
  return std::make_unique<X11Clipboard>(own);
}

// The process's clipboard, connected at its first use: a run that never
// touches the clipboard opens no connection and starts no thread.
class FirstUseClipboard : public Clipboard {
 public:
  std::optional<std::string> Text() override {
    Clipboard* c = Get();
    return c ? c->Text() : std::nullopt;
  }
  bool SetText(const std::string& text) override {
    Clipboard* c = Get();
    return c && c->SetText(text);
  }
  bool Clear() override {
    Clipboard* c = Get();
    return c && c->Clear();
  }
  void HandOver() override {
    if (opened_.load()) Get()->HandOver();
  }

 private:
  Clipboard* Get() {
    std::call_once(once_, [this] {
      real_ = OpenClipboard();
      opened_.store(real_ != nullptr);
    });
    return real_.get();
  }
  std::once_flag once_;
  std::unique_ptr<Clipboard> real_;
  std::atomic<bool> opened_{false};
};

}  // namespace

Clipboard* DesktopClipboard() {
  static const std::unique_ptr<FirstUseClipboard> clipboard =
      Connection() ? std::make_unique<FirstUseClipboard>() : nullptr;
  return clipboard.get();
}

}  // namespace platform::x11
