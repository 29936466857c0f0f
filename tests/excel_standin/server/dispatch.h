#pragma once
// A small generic IDispatch for the stand-in's objects. Each object kind lists
// its members in one table (name, handler, whether a put is allowed); the
// DISPID is the member's place in the table plus one. GetIDsOfNames finds a
// name ignoring case; Invoke hands the call's flags and arguments to the
// handler, which answers through `Call` and fails by throwing `Fault`.
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <new>
#include <span>
#include <string>
#include <string_view>

namespace standin {

// The live objects and server locks; the last release ends the server.
void ServerAddRef();
void ServerRelease();
// The member named by OLVEX_STANDIN_HANG: its calls sleep far past any bound.
void HangIfAsked(const wchar_t* member);

// A failed call: DISP_E_EXCEPTION with a description, or another result code.
struct Fault {
  HRESULT code;
  std::string description;
};
[[noreturn]] inline void Fail(std::string description) { throw Fault{DISP_E_EXCEPTION, std::move(description)}; }

std::string Narrow(const wchar_t* text, int length = -1);
BSTR NewBstr(std::string_view text);

class Call {
 public:
  Call(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* arg_error)
      : put_((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0),
        params_(params),
        result_(result),
        arg_error_(arg_error) {}

  bool IsPut() const { return put_; }
  // Positional arguments, the put value not counted.
  int Count() const { return static_cast<int>(params_->cArgs) - (put_ ? 1 : 0); }
  // Argument `i` (from 0) was given, and not left out as an optional one.
  bool Has(int i) const {
    if (i >= Count()) return false;
    const VARIANT& v = Arg(i);
    return !(V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND);
  }
  // Argument `i` as it came (perhaps VT_BYREF), or the put value.
  const VARIANT& Arg(int i) const { return params_->rgvarg[params_->cArgs - 1 - static_cast<unsigned>(i)]; }
  const VARIANT& PutValue() const { return params_->rgvarg[0]; }

  // Argument `i` (or the put value, i = kPut) coerced; a failure is DISP_E_TYPEMISMATCH.
  static constexpr int kPut = -1;
  std::string Text(int i) const;
  long Long(int i) const;
  double Double(int i) const;
  bool Bool(int i) const;
  // Argument `i` with VT_BYREF taken away (the caller clears it).
  VARIANT Plain(int i) const;
  // Fails unless argument `i` is given.
  void Need(int i) const;

  void Return(long v) { Set(VT_I4).lVal = v; }
  void Return(double v) { Set(VT_R8).dblVal = v; }
  void Return(bool v) { Set(VT_BOOL).boolVal = v ? VARIANT_TRUE : VARIANT_FALSE; }
  void Return(std::string_view v) { Set(VT_BSTR).bstrVal = NewBstr(v); }
  // Takes over the reference of `object`.
  void Return(IDispatch* object) {
    if (!result_) {
      object->Release();
      return;
    }
    Set(VT_DISPATCH).pdispVal = object;
  }

 private:
  VARIANT& Set(VARTYPE type) {
    static VARIANT ignored;
    VARIANT& v = result_ ? *result_ : ignored;
    VariantClear(&v);
    V_VT(&v) = type;
    return v;
  }
  VARIANT Coerced(int i, VARTYPE type) const;

  bool put_;
  DISPPARAMS* params_;
  VARIANT* result_;
  UINT* arg_error_;
};

template <class T>
struct Member {
  const wchar_t* name;
  void (*handler)(T&, Call&);
  bool settable = false;
};

// T lists its members through `static std::span<const Member<T>> Members()`.
template <class T>
class Object : public IDispatch {
 public:
  Object() { ServerAddRef(); }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() { ServerRelease(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT n = 0; n < count; ++n) ids[n] = DISPID_UNKNOWN;
    const std::span<const Member<T>> members = T::Members();
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (names[0] && lstrcmpiW(names[0], members[i].name) == 0) ids[0] = static_cast<DISPID>(i + 1);
    }
    // Named arguments are not known either.
    return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* info, UINT* arg_error) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const std::span<const Member<T>> members = T::Members();
    if (id < 1 || static_cast<std::size_t>(id) > members.size()) return DISP_E_MEMBERNOTFOUND;
    const Member<T>& member = members[static_cast<std::size_t>(id) - 1];
    static DISPPARAMS no_params{};
    if (!params) params = &no_params;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (put && (!member.settable || params->cArgs == 0 || params->cNamedArgs != 1 ||
                params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
      return put && !member.settable ? DISP_E_MEMBERNOTFOUND : DISP_E_PARAMNOTOPTIONAL;
    if (!put && params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    HangIfAsked(member.name);
    if (result) VariantInit(result);
    Call call(flags, params, result, arg_error);
    try {
      member.handler(static_cast<T&>(*this), call);
      return S_OK;
    } catch (const Fault& fault) {
      if (result) VariantClear(result);
      if (fault.code == DISP_E_EXCEPTION && info) {
        *info = EXCEPINFO{};
        info->bstrSource = NewBstr("Excel stand-in");
        info->bstrDescription = NewBstr(Narrow(member.name) + ": " + fault.description);
        info->scode = E_FAIL;
      }
      return fault.code;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace standin
