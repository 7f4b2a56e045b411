#include "service_calls.h"

#include <memory>
#include <vector>

#include "common/com.h"

namespace keldran::client {

using namespace keldran::tools;

namespace {

// The call's arguments as the method's parameter types want them.
class Args {
 public:
  explicit Args(const Call& call) : call_(call) {}
  bool Has(size_t i) const { return i < call_.args.size(); }
  long Number(size_t i, long fallback) const {
    if (!Has(i)) return fallback;
    return ParseNumber(call_.args[i]).value_or(fallback);
  }
  // A missing argument is an absent (null) string; an empty one is an empty string.
  BSTR Text(size_t i) {
    if (!Has(i)) return nullptr;
    strings_.emplace_back(std::make_unique<Bstr>(Widen(call_.args[i])));
    return strings_.back()->get();
  }

 private:
  const Call& call_;
  std::vector<std::unique_ptr<Bstr>> strings_;
};

// Dispatch arguments, cleared on every exit path.
class VariantArgs {
 public:
  explicit VariantArgs(size_t count) : v_(count) {
    for (VARIANT& v : v_) VariantInit(&v);
  }
  VariantArgs(const VariantArgs&) = delete;
  VariantArgs& operator=(const VariantArgs&) = delete;
  ~VariantArgs() {
    for (VARIANT& v : v_) VariantClear(&v);
  }
  VARIANT& operator[](size_t i) { return v_[i]; }
  VARIANT* data() { return v_.data(); }
  UINT size() const { return static_cast<UINT>(v_.size()); }

 private:
  std::vector<VARIANT> v_;
};

// The texts that a failing Invoke may hand back.
struct ExcepInfo : EXCEPINFO {
  ExcepInfo() : EXCEPINFO{} {}
  ExcepInfo(const ExcepInfo&) = delete;
  ExcepInfo& operator=(const ExcepInfo&) = delete;
  ~ExcepInfo() {
    SysFreeString(bstrSource);
    SysFreeString(bstrDescription);
    SysFreeString(bstrHelpFile);
  }
};

}  // namespace

CallOutcome CallEarlyBound(IService* service, const Call& call) {
  Args args(call);
  CallOutcome out;
  const std::string& m = call.method;
  if (m == "Stop") {
    out.hr = service->Stop();
  } else if (m == "Running") {
    out.hr = service->Running();
  } else if (m == "Pause") {
    out.hr = service->Pause();
  } else if (m == "Log") {
    out.hr = service->Log(args.Number(0, 0), args.Text(1), args.Number(2, 0), args.Number(3, 0));
  } else if (m == "RequestStop") {
    out.hr = service->RequestStop();
  } else if (m == "SetToolTip") {
    out.hr = service->SetToolTip(args.Text(0));
  } else if (m == "ReadIniString") {
    Bstr result;
    out.hr = service->ReadIniString(args.Text(0), args.Text(1), args.Text(2), result.put());
    out.value = Narrow(result.get());
  } else if (m == "DeleteFileOnTimeout") {
    out.hr = service->DeleteFileOnTimeout(args.Text(0));
  } else if (m == "Progress") {
    out.hr = service->Progress(args.Text(0), args.Number(1, 0));
  } else {
    out.hr = DISP_E_UNKNOWNNAME;
  }
  return out;
}

CallOutcome CallLateBound(IService* service, const Call& call) {
  CallOutcome out;
  std::wstring name = Widen(call.method);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  out.hr = service->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(out.hr)) return out;

  // IDispatch takes the arguments last to first.
  VariantArgs args(call.args.size());
  for (size_t i = 0; i < call.args.size(); ++i) {
    VARIANT& v = args[call.args.size() - 1 - i];
    if (std::optional<long> number = ParseNumber(call.args[i])) {
      v.vt = VT_I4;
      v.lVal = *number;
    } else {
      v.vt = VT_BSTR;
      v.bstrVal = SysAllocString(Widen(call.args[i]).c_str());
    }
  }
  DISPPARAMS params{args.data(), nullptr, args.size(), 0};
  Variant result;
  ExcepInfo exception;
  UINT badArg = 0;
  out.hr = service->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                           result.get(), &exception, &badArg);

  if ((*result).vt == VT_BSTR) out.value = Narrow((*result).bstrVal);
  return out;
}

}  // namespace keldran::client
