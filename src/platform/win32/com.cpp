// ICom: apartment and security, the running-object table, GUIDs, local servers and type
// libraries.
#include <algorithm>

#include "keldran_service.h"
#include "platform/win32/backend.h"
#include "platform/win32/com_security.h"
#include "platform/win32/unique_handle.h"

namespace keldran::win32 {
namespace {

// A token's information of one class, in a buffer sized by asking first.
HResult TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS what,
                         std::vector<std::uint8_t>* out) {
  DWORD size = 0;
  ::GetTokenInformation(token, what, nullptr, 0, &size);
  if (size == 0) return LastErrorResult();
  out->assign(size, 0);
  if (!::GetTokenInformation(token, what, out->data(), size, &size)) return LastErrorResult();
  return kSOk;
}

HResult SidText(PSID sid, std::string* text) {
  LPSTR converted = nullptr;
  if (!::ConvertSidToStringSidA(sid, &converted)) return LastErrorResult();
  UniqueLocal owner(converted);
  *text = converted;
  return kSOk;
}

// The descriptor in the absolute form that CoInitializeSecurity takes; its parts point into
// these buffers, so all of it stays together for as long as COM may read it.
struct ProcessSecurity {
  std::vector<std::uint8_t> descriptor, dacl, sacl, owner, group;
};

HResult MakeAbsolute(PSECURITY_DESCRIPTOR selfRelative, ProcessSecurity* security) {
  DWORD sizes[5] = {};
  ::MakeAbsoluteSD(selfRelative, nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2],
                   nullptr, &sizes[3], nullptr, &sizes[4]);
  std::vector<std::uint8_t>* parts[] = {&security->descriptor, &security->dacl, &security->sacl,
                                        &security->owner, &security->group};
  // One byte at least, so that every part has an address.
  for (int i = 0; i < 5; ++i) parts[i]->assign(std::max<DWORD>(sizes[i], 1), 0);
  if (!::MakeAbsoluteSD(selfRelative, security->descriptor.data(), &sizes[0],
                        reinterpret_cast<PACL>(security->dacl.data()), &sizes[1],
                        reinterpret_cast<PACL>(security->sacl.data()), &sizes[2],
                        security->owner.data(), &sizes[3], security->group.data(), &sizes[4])) {
    return LastErrorResult();
  }
  return kSOk;
}

HResult MakeFileMoniker(const std::string& name, ComPtr<IMoniker>* moniker) {
  return ::CreateFileMoniker(ToWide(name).c_str(), moniker->put());
}

class RunningHost final : public IRunningHost {
 public:
  explicit RunningHost(ComPtr<IService> service) : service_(std::move(service)) {}
  HResult RequestStop() override { return service_->RequestStop(); }
  HResult QueryStatus(WideString* text) override {
    ComPtr<IServiceStatus> status;
    if (HResult hr = service_.As(IID_IServiceStatus, &status); Failed(hr)) return hr;
    UniqueBstr value;
    if (HResult hr = status->Status(value.put()); Failed(hr)) return hr;
    const auto* chars = reinterpret_cast<const char16_t*>(value.get());
    *text = chars ? WideString(chars, ::SysStringLen(value.get())) : WideString();
    return kSOk;
  }

 private:
  ComPtr<IService> service_;
};

void ReleaseUnknown(void* object) { static_cast<IUnknown*>(object)->Release(); }

class Com final : public ICom {
 public:
  HResult Initialize() override { return ::CoInitialize(nullptr); }

  HResult InitializeSecurity() override {
    // Process-wide and once only: Windows refuses a second call (RPC_E_TOO_LATE), as it does a
    // first one after anything was marshalled. (Wine accepts any number and enforces nothing.)
    if (security_) return kSOk;
    UniqueLocal selfRelative;
    if (HResult hr = BuildComAccessDescriptor(&selfRelative); Failed(hr)) return hr;
    auto security = std::make_unique<ProcessSecurity>();
    if (HResult hr = MakeAbsolute(selfRelative.get(), security.get()); Failed(hr)) return hr;
    HResult hr = ::CoInitializeSecurity(security->descriptor.data(), -1, nullptr, nullptr,
                                        RPC_C_AUTHN_LEVEL_PKT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                        EOAC_NONE, nullptr);
    if (Succeeded(hr)) security_ = std::move(security);
    return hr;
  }

  HResult RegisterInRunningObjectTable(const std::string& monikerName, const ObjectRef& object,
                                       std::uint32_t flags, std::uint32_t* cookie) override {
    ComPtr<IRunningObjectTable> rot;
    if (HResult hr = ::GetRunningObjectTable(0, rot.put()); Failed(hr)) return hr;
    ComPtr<IMoniker> moniker;
    if (HResult hr = MakeFileMoniker(monikerName, &moniker); Failed(hr)) return hr;
    DWORD registered = 0;
    HResult hr =
        rot->Register(flags, static_cast<IUnknown*>(object.get()), moniker.get(), &registered);
    if (Succeeded(hr)) *cookie = registered;
    return hr;
  }

  HResult RevokeFromRunningObjectTable(std::uint32_t cookie) override {
    ComPtr<IRunningObjectTable> rot;
    if (HResult hr = ::GetRunningObjectTable(0, rot.put()); Failed(hr)) return hr;
    return rot->Revoke(cookie);
  }

  HResult FindInRunningObjectTable(const std::string& monikerName,
                                   std::unique_ptr<IRunningHost>* host) override {
    host->reset();
    ComPtr<IRunningObjectTable> rot;
    if (HResult hr = ::GetRunningObjectTable(0, rot.put()); Failed(hr)) return hr;
    ComPtr<IMoniker> moniker;
    if (HResult hr = MakeFileMoniker(monikerName, &moniker); Failed(hr)) return hr;
    ComPtr<IUnknown> object;
    if (Failed(rot->GetObject(moniker.get(), object.put()))) return kSOk;  // no host runs
    ComPtr<IService> service;
    if (Succeeded(object.As(IID_IService, &service))) {
      *host = std::make_unique<RunningHost>(std::move(service));
    }
    return kSOk;
  }

  HResult CreateGuidText(std::string* text) override {
    GUID guid{};
    if (HResult hr = ::CoCreateGuid(&guid); Failed(hr)) return hr;
    LPOLESTR wide = nullptr;
    if (HResult hr = ::StringFromCLSID(guid, &wide); Failed(hr)) return hr;
    UniqueCoTaskMem owner(wide);
    *text = ToAnsi(wide);
    return kSOk;
  }

  HResult CreateLocalServerObject(const std::string& clsid, const std::string& iid,
                                  ObjectRef* object) override {
    CLSID classId{};
    if (HResult hr = ::CLSIDFromString(ToWide(clsid).c_str(), &classId); Failed(hr)) return hr;
    IID interfaceId{};
    if (HResult hr = ::IIDFromString(ToWide(iid).c_str(), &interfaceId); Failed(hr)) return hr;
    void* created = nullptr;
    HResult hr = ::CoCreateInstance(classId, nullptr, CLSCTX_LOCAL_SERVER, interfaceId, &created);
    if (Succeeded(hr)) *object = ObjectRef(created, &ReleaseUnknown);
    return hr;
  }

  HResult RegisterTypeLibrary(const std::string& modulePath) override {
    std::wstring path = ToWide(modulePath);
    ComPtr<ITypeLib> library;
    if (HResult hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()); Failed(hr)) {
      return hr;
    }
    return ::RegisterTypeLib(library.get(), path.data(), nullptr);
  }

  HResult UnregisterTypeLibrary(const std::string& libid, std::uint16_t major,
                                std::uint16_t minor) override {
    GUID id{};
    if (HResult hr = ::CLSIDFromString(ToWide(libid).c_str(), &id); Failed(hr)) return hr;
    return ::UnRegisterTypeLib(id, major, minor, 0, SYS_WIN64);
  }

 private:
  std::unique_ptr<ProcessSecurity> security_;
};

}  // namespace

HResult BuildComAccessDescriptor(UniqueLocal* descriptor) {
  UniqueKernelHandle token;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
    if (::GetLastError() != ERROR_NO_TOKEN) return LastErrorResult();
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
      return LastErrorResult();
    }
  }
  std::vector<std::uint8_t> user, group;
  if (HResult hr = TokenInformation(token.get(), TokenUser, &user); Failed(hr)) return hr;
  if (HResult hr = TokenInformation(token.get(), TokenPrimaryGroup, &group); Failed(hr)) return hr;
  std::string userText, groupText;
  if (HResult hr = SidText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &userText);
      Failed(hr)) {
    return hr;
  }
  if (HResult hr =
          SidText(reinterpret_cast<TOKEN_PRIMARY_GROUP*>(group.data())->PrimaryGroup, &groupText);
      Failed(hr)) {
    return hr;
  }
  const std::string sddl = "O:" + userText + "G:" + groupText + "D:P(A;;0x3;;;" + userText +
                           ")(A;;0x3;;;SY)(A;;0x3;;;BA)";
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &converted, nullptr)) {
    return LastErrorResult();
  }
  descriptor->reset(converted);
  return kSOk;
}

std::unique_ptr<ICom> MakeCom() { return std::make_unique<Com>(); }

}  // namespace keldran::win32
