// COM automation: the server's objects reached through IDispatch by member
// name. Each thread that calls joins a single-threaded apartment once (left
// when the thread ends) and registers a message filter. While a call waits
// for the other process, a thread timer makes COM ask the filter ten times a
// second whether to go on waiting; past the bound, or when the stop test says
// so, the filter cancels the call (RPC_E_CALL_CANCELED), so that a server that
// hangs never holds the step for ever.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>

#include "platform/automation.h"

namespace platform {
namespace {

constexpr UINT kPollMs = 100;

struct Bounds {
  int timeout_ms = 30000;
  std::function<bool()> stop;
};

// The calling thread's bounds and the state of the call it waits for.
thread_local Bounds t_bounds;
thread_local DWORD t_call_start = 0;
thread_local bool t_stopped = false;
thread_local bool t_timed_out = false;
thread_local bool t_apartment_alive = false;

bool CallMustEnd() {
  if (t_bounds.stop && t_bounds.stop()) t_stopped = true;
  if (GetTickCount() - t_call_start >= static_cast<DWORD>(t_bounds.timeout_ms)) t_timed_out = true;
  return t_stopped || t_timed_out;
}

class CallFilter : public IMessageFilter {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IMessageFilter) {
      *out = static_cast<IMessageFilter*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }  // lives as long as its thread
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override { return SERVERCALL_ISHANDLED; }
  // A busy server: ask again after a poll, within the bound.
  DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD reject) override {
    return reject == SERVERCALL_RETRYLATER && !CallMustEnd() ? kPollMs : static_cast<DWORD>(-1);
  }
  DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
    return CallMustEnd() ? PENDINGMSG_CANCELCALL : PENDINGMSG_WAITDEFPROCESS;
  }
};

// The thread's apartment, joined on its first automation use.
class Apartment {
 public:
  Apartment() {
    joined_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    if (joined_) CoRegisterMessageFilter(&filter_, &previous_);
    t_apartment_alive = joined_;
  }
  ~Apartment() {
    t_apartment_alive = false;
    if (!joined_) return;
    CoRegisterMessageFilter(previous_, nullptr);
    CoUninitialize();
  }
  bool joined() const { return joined_; }

 private:
  CallFilter filter_;
  IMessageFilter* previous_ = nullptr;
  bool joined_ = false;
};

Apartment& ThisApartment() {
  thread_local Apartment apartment;
  return apartment;
}

class DispatchObject : public AutomationObject {
 public:
  explicit DispatchObject(IDispatch* dispatch) : dispatch_(dispatch), thread_(GetCurrentThreadId()) {}
  ~DispatchObject() override {
    // Another thread, or a thread whose apartment is gone, may not release it.
    if (GetCurrentThreadId() == thread_ && t_apartment_alive) dispatch_->Release();
  }
  IDispatch* get() const { return dispatch_; }

 private:
  IDispatch* dispatch_;
  DWORD thread_;
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

// Waits are polled while a call is out: a thread timer wakes COM's modal
// loop, which asks the filter.
class PolledCall {
 public:
  PolledCall() {
    t_call_start = GetTickCount();
    t_stopped = t_timed_out = false;
    timer_ = SetTimer(nullptr, 0, kPollMs, nullptr);
  }
  ~PolledCall() {
    if (!timer_) return;
    KillTimer(nullptr, timer_);
    MSG msg;
    while (PeekMessageA(&msg, reinterpret_cast<HWND>(-1), WM_TIMER, WM_TIMER, PM_REMOVE)) {
    }
  }
  PolledCall(const PolledCall&) = delete;
  PolledCall& operator=(const PolledCall&) = delete;

 private:
  UINT_PTR timer_ = 0;
};

std::string CancelText() {
  if (t_stopped) return "The call was ended by a stop request";
  return "The automation server did not answer within " + std::to_string(t_bounds.timeout_ms) + " ms";
}

class ComAutomation : public Automation {
 public:
  bool Available() const override { return true; }

  AutoCreate Create(const std::string& prog_id, AutoObject& object, std::string& error) override {
    if (!ThisApartment().joined()) {
      error = "The automation library could not be initialised on this thread";
      return AutoCreate::kServerFailed;
    }
    CLSID clsid;
    const std::wstring wide = Wide(prog_id);
    HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
    if (FAILED(hr)) {
      error = "\"" + prog_id + "\" is not registered: " + SystemText(hr);
      return AutoCreate::kNotRegistered;
    }
    IDispatch* dispatch = nullptr;
    {
      PolledCall polled;
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    }
    if (FAILED(hr) || !dispatch) {
      if (hr == RPC_E_CALL_CANCELED) {
        error = CancelText();
      } else {
        error = "\"" + prog_id + "\" could not be started: " + SystemText(hr);
      }
      return hr == REGDB_E_CLASSNOTREG ? AutoCreate::kNotRegistered : AutoCreate::kServerFailed;
    }
    object = std::make_shared<DispatchObject>(dispatch);
    return AutoCreate::kCreated;
  }

  bool Call(const AutoObject& object, AutoCall kind, const std::string& member, const std::vector<AutoValue>& args,
            AutoValue& result, std::string& error) override {
    result = {};
    if (!object) {
      error = "No object to call \"" + member + "\" on";
      return false;
    }
    IDispatch* dispatch = static_cast<const DispatchObject&>(*object).get();
    std::wstring wide = Wide(member);
    LPOLESTR name = wide.data();
    DISPID id = 0;
    HRESULT hr;
    {
      PolledCall polled;
      hr = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    }
    if (FAILED(hr)) {
      if (hr == RPC_E_CALL_CANCELED) {
        error = CancelText();
      } else if (hr == DISP_E_UNKNOWNNAME) {
        error = "The object has no member \"" + member + "\"";
      } else {
        error = member + ": " + SystemText(hr);
      }
      return false;
    }
    // Arguments go in reverse order.
    std::vector<VARIANT> variants(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
      VariantInit(&variants[args.size() - 1 - i]);
      ToVariant(args[i], variants[args.size() - 1 - i]);
    }
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS params{variants.data(), nullptr, static_cast<UINT>(variants.size()), 0};
    WORD flags = DISPATCH_PROPERTYGET;
    if (kind == AutoCall::kPut) {
      flags = DISPATCH_PROPERTYPUT;
      params.rgdispidNamedArgs = &put_id;
      params.cNamedArgs = 1;
    } else if (kind == AutoCall::kMethod) {
      flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    }
    VARIANT answer;
    VariantInit(&answer);
    EXCEPINFO exception{};
    UINT bad_argument = 0;
    {
      PolledCall polled;
      hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, kind == AutoCall::kPut ? nullptr : &answer,
                            &exception, &bad_argument);
    }
    for (VARIANT& v : variants) VariantClear(&v);
    if (FAILED(hr)) {
      if (hr == RPC_E_CALL_CANCELED) {
        error = CancelText();
      } else if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        const std::string description = NarrowBstr(exception.bstrDescription);
        error = member + ": " + (description.empty() ? SystemText(exception.scode ? exception.scode : hr) : description);
      } else {
        error = member + ": " + SystemText(hr);
      }
      SysFreeString(exception.bstrSource);
      SysFreeString(exception.bstrDescription);
      SysFreeString(exception.bstrHelpFile);
      VariantClear(&answer);
      return false;
    }
    result = FromVariant(answer);
    VariantClear(&answer);
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
