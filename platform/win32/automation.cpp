// COM automation: the server's objects reached through IDispatch by member
// name. Every COM call runs on a call thread of the process's multi-threaded
// apartment while the calling thread waits for it in 20 ms slices: past the
// bound, or when the stop test says so, the caller gives up on that thread
// (it stays blocked in the call until the server answers, then ends) and
// later calls go to a new one. So a server that hangs never holds a step for
// ever. (A message filter cannot do this under Wine: its COM does not ask the
// filter while an outgoing call waits.)
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/automation.h"

namespace platform {
namespace {

struct Bounds {
  int timeout_ms = 30000;
  std::function<bool()> stop;
};
thread_local Bounds t_bounds;

struct Job {
  std::function<void()> work;
  bool done = false;
};

// A thread in the multi-threaded apartment that runs the jobs handed to it in order.
class CallThread : public std::enable_shared_from_this<CallThread> {
 public:
  void Start() {
    std::thread([self = shared_from_this()] { self->Serve(); }).detach();
  }
  void Post(std::shared_ptr<Job> job) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(job));
    cv_.notify_all();
  }
  // Waits for `job`: false when the bound passed or the stop test said so.
  bool Wait(const std::shared_ptr<Job>& job, bool& stopped) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(t_bounds.timeout_ms);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!job->done) {
      if (t_bounds.stop && t_bounds.stop()) {
        stopped = true;
        return false;
      }
      if (std::chrono::steady_clock::now() >= end) return false;
      cv_.wait_for(lock, std::chrono::milliseconds(20));
    }
    return true;
  }
  // Given up on: ends after the call it is in.
  void Abandon() {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
    cv_.notify_all();
  }

 private:
  void Serve() {
    const bool joined = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    std::unique_lock<std::mutex> lock(mutex_);
    while (!abandoned_) {
      if (queue_.empty()) {
        cv_.wait(lock);
        continue;
      }
      std::shared_ptr<Job> job = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      job->work();
      lock.lock();
      job->done = true;
      cv_.notify_all();
    }
    lock.unlock();
    if (joined) CoUninitialize();
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Job>> queue_;
  bool abandoned_ = false;
};

std::mutex g_call_thread_mutex;
std::shared_ptr<CallThread> g_call_thread;

std::shared_ptr<CallThread> CurrentCallThread() {
  std::lock_guard<std::mutex> lock(g_call_thread_mutex);
  if (!g_call_thread) {
    g_call_thread = std::make_shared<CallThread>();
    g_call_thread->Start();
  }
  return g_call_thread;
}

// Runs `work` on the call thread within the calling thread's bounds; false,
// with the reason, when the wait was given up.
bool RunBounded(std::function<void()> work, std::string& error) {
  const std::shared_ptr<CallThread> thread = CurrentCallThread();
  auto job = std::make_shared<Job>();
  job->work = std::move(work);
  thread->Post(job);
  bool stopped = false;
  if (thread->Wait(job, stopped)) return true;
  thread->Abandon();
  {
    std::lock_guard<std::mutex> lock(g_call_thread_mutex);
    if (g_call_thread == thread) g_call_thread.reset();
  }
  error = stopped ? "The call was ended by a stop request"
                  : "The automation server did not answer within " + std::to_string(t_bounds.timeout_ms) + " ms";
  return false;
}

class DispatchObject : public AutomationObject {
 public:
  explicit DispatchObject(IDispatch* dispatch) : dispatch_(dispatch) {}
  // Released on the call thread, without waiting for it.
  ~DispatchObject() override {
    auto job = std::make_shared<Job>();
    job->work = [d = dispatch_] { d->Release(); };
    CurrentCallThread()->Post(std::move(job));
  }
  IDispatch* get() const { return dispatch_; }

 private:
  IDispatch* dispatch_;
};

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* text, UINT length) {
  if (!text || length == 0) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

std::string NarrowBstr(BSTR text) { return Narrow(text, text ? SysStringLen(text) : 0); }

std::string SystemText(HRESULT hr) {
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(hr), 0,
                           buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' || buffer[n - 1] == '.')) --n;
  char code[32];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  return n > 0 ? std::string(buffer, n) + " (" + code + ")" : std::string("Error ") + code;
}

// Fills `v` (cleared by the caller) from `value`.
void ToVariant(const AutoValue& value, VARIANT& v) {
  if (const auto* i = std::get_if<std::int32_t>(&value)) {
    v.vt = VT_I4;
    v.lVal = *i;
  } else if (const auto* d = std::get_if<double>(&value)) {
    v.vt = VT_R8;
    v.dblVal = *d;
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    const std::wstring wide = Wide(*s);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  } else if (const auto* b = std::get_if<bool>(&value)) {
    v.vt = VT_BOOL;
    v.boolVal = *b ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (const auto* o = std::get_if<AutoObject>(&value); o && *o) {
    IDispatch* dispatch = static_cast<const DispatchObject&>(**o).get();
    dispatch->AddRef();
    v.vt = VT_DISPATCH;
    v.pdispVal = dispatch;
  }
}

AutoValue FromVariant(VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      return {};
    case VT_BOOL:
      return v.boolVal != VARIANT_FALSE;
    case VT_BSTR:
      return NarrowBstr(v.bstrVal);
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_DECIMAL:
      if (SUCCEEDED(VariantChangeType(&v, &v, 0, VT_R8))) return v.dblVal;
      return {};
    case VT_DISPATCH:
      if (!v.pdispVal) return {};
      v.pdispVal->AddRef();
      return AutoObject(std::make_shared<DispatchObject>(v.pdispVal));
    case VT_UNKNOWN: {
      IDispatch* dispatch = nullptr;
      if (v.punkVal && SUCCEEDED(v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
        return AutoObject(std::make_shared<DispatchObject>(dispatch));
      return {};
    }
    default:
      if (SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4))) return static_cast<std::int32_t>(v.lVal);
      if (SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BSTR))) return NarrowBstr(v.bstrVal);
      return {};
  }
}

// What one call needs and gives, shared with the call thread (which may
// outlive the wait).
struct CallState {
  AutoObject object;  // kept while the call thread uses it
  IDispatch* dispatch = nullptr;
  std::string member;
  AutoCall kind = AutoCall::kGet;
  std::vector<AutoValue> args;
  AutoValue result;
  std::string error;
  bool ok = false;
};

void CallOnThisThread(CallState& c) {
  std::wstring wide = Wide(c.member);
  LPOLESTR name = wide.data();
  DISPID id = 0;
  HRESULT hr = c.dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) {
    c.error = hr == DISP_E_UNKNOWNNAME ? "The object has no member \"" + c.member + "\"" : c.member + ": " + SystemText(hr);
    return;
  }
  // Arguments go in reverse order.
  const std::size_t n = c.args.size();
  std::vector<VARIANT> variants(n);
  for (std::size_t i = 0; i < n; ++i) {
    VariantInit(&variants[n - 1 - i]);
    ToVariant(c.args[i], variants[n - 1 - i]);
  }
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params{variants.data(), nullptr, static_cast<UINT>(n), 0};
  WORD flags = DISPATCH_PROPERTYGET;
  if (c.kind == AutoCall::kPut) {
    flags = DISPATCH_PROPERTYPUT;
    params.rgdispidNamedArgs = &put_id;
    params.cNamedArgs = 1;
  } else if (c.kind == AutoCall::kMethod) {
    flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  }
  VARIANT answer;
  VariantInit(&answer);
  EXCEPINFO exception{};
  UINT bad_argument = 0;
  hr = c.dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, c.kind == AutoCall::kPut ? nullptr : &answer,
                          &exception, &bad_argument);
  for (VARIANT& v : variants) VariantClear(&v);
  if (FAILED(hr)) {
    if (hr == DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
      const std::string description = NarrowBstr(exception.bstrDescription);
      c.error = c.member + ": " + (description.empty() ? SystemText(exception.scode ? exception.scode : hr) : description);
    } else {
      c.error = c.member + ": " + SystemText(hr);
    }
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  } else {
    c.result = FromVariant(answer);
    c.ok = true;
  }
  VariantClear(&answer);
}

class ComAutomation : public Automation {
 public:
  bool Available() const override { return true; }

  AutoCreate Create(const std::string& prog_id, AutoObject& object, std::string& error) override {
    struct Creation {
      std::wstring prog_id;
      AutoCreate status = AutoCreate::kServerFailed;
      IDispatch* dispatch = nullptr;
      std::string error;
    };
    auto c = std::make_shared<Creation>();
    c->prog_id = Wide(prog_id);
    const bool answered = RunBounded(
        [c, name = prog_id] {
          CLSID clsid;
          HRESULT hr = CLSIDFromProgID(c->prog_id.c_str(), &clsid);
          if (FAILED(hr)) {
            c->error = "\"" + name + "\" is not registered: " + SystemText(hr);
            c->status = AutoCreate::kNotRegistered;
            return;
          }
          hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&c->dispatch));
          if (SUCCEEDED(hr) && c->dispatch) {
            c->status = AutoCreate::kCreated;
            return;
          }
          c->error = "\"" + name + "\" could not be started: " + SystemText(hr);
          c->status = hr == REGDB_E_CLASSNOTREG ? AutoCreate::kNotRegistered : AutoCreate::kServerFailed;
        },
        error);
    if (!answered) return AutoCreate::kServerFailed;
    if (c->status != AutoCreate::kCreated) {
      error = c->error;
      return c->status;
    }
    object = std::make_shared<DispatchObject>(c->dispatch);
    return AutoCreate::kCreated;
  }

  bool Call(const AutoObject& object, AutoCall kind, const std::string& member, const std::vector<AutoValue>& args,
            AutoValue& result, std::string& error) override {
    result = {};
    if (!object) {
      error = "No object to call \"" + member + "\" on";
      return false;
    }
    auto c = std::make_shared<CallState>();
    c->dispatch = static_cast<const DispatchObject&>(*object).get();
    c->member = member;
    c->kind = kind;
    c->args = args;
    c->object = object;
    if (!RunBounded([c] { CallOnThisThread(*c); }, error)) return false;
    if (!c->ok) {
      error = c->error;
      return false;
    }
    result = std::move(c->result);
    return true;
  }

  void SetBounds(int timeout_ms, std::function<bool()> stop) override {
    t_bounds.timeout_ms = timeout_ms > 0 ? timeout_ms : 1;
    t_bounds.stop = std::move(stop);
  }
};

}  // namespace

Automation& PlatformAutomation() {
  static ComAutomation automation;
  return automation;
}

}  // namespace platform
