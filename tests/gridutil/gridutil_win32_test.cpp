// KeldranGridUtil.dll as COM and a script see it: its self-registration and its unregistration,
// and the class, called by name, against a stand-in host in this process.
#include <windows.h>
// oleauto.h needs the types of windows.h.
#include <oleauto.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <type_traits>

#include "support_win32/host_test.h"
#include "support_win32/stand_in_host.h"

namespace keldran::test {
namespace {

const std::string kClassKey = "CLSID\\{BBC45CF1-78DF-47F8-BEAA-DB3A51071078}";
const std::string kProgIdKey = "KeldranGridUtil.Client";
const std::string kTypeLibKey = "TypeLib\\{17772D78-9410-43A3-9E79-A0AE9BD32916}";
const std::string kInterfaceKey = "Interface\\{C947272A-4916-40E4-9CA7-F7BA4EFEFA36}";

constexpr WPARAM kPing = 4;

// A method called by name through IDispatch, with at most one whole-number argument.
HRESULT CallByName(IDispatch* object, const wchar_t* name, std::optional<long> argument = {}) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  VARIANT arg{};
  arg.vt = VT_I4;
  arg.lVal = argument.value_or(0);
  DISPPARAMS params{argument ? &arg : nullptr, nullptr, argument ? 1u : 0u, 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                        nullptr, nullptr);
}

class GridUtilTest : public TypeLibTest {
 protected:
  void SetUp() override {
    TypeLibTest::SetUp();
    ASSERT_TRUE(dll_);
  }
  // An export of the DLL loaded into the test, called as regsvr32 calls it.
  HRESULT Call(const char* name) const {
    const FARPROC proc = GetProcAddress(dll_.get(), name);
    if (!proc) return HRESULT_FROM_WIN32(GetLastError());
    return reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void (*)()>(proc))();
  }

  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> dll_{
      LoadLibraryA(ProgramPath("KeldranGridUtil.dll").c_str()), &FreeLibrary};
};

TEST_F(GridUtilTest, RegistrationAddsClassProgIdAndTypeLibAndUnregistrationRemovesJustThose) {
  // The server's path and the ProgID are proven by every script client's CreateObject.
  ASSERT_HRESULT_SUCCEEDED(Call("DllRegisterServer"));
  EXPECT_EQ(ReadRegString(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "ThreadingModel"),
            "Apartment");
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0"));
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));

  ASSERT_HRESULT_SUCCEEDED(Call("DllUnregisterServer"));
  for (const std::string& key : {kClassKey, kProgIdKey, kTypeLibKey, kInterfaceKey})
    EXPECT_FALSE(RegKeyExists(HKEY_CLASSES_ROOT, key)) << key;
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, "CLSID"));
  EXPECT_TRUE(RegKeyExists(HKEY_CLASSES_ROOT, "TypeLib"));
  // An uninstall after an uninstall (or after a failed install) still succeeds.
  EXPECT_HRESULT_SUCCEEDED(Call("DllUnregisterServer"));
}

// Its stop and WaitForStop are run end to end (gridutil_client_test).
TEST_F(GridUtilTest, ClientAnswersPingsOnlyInsideItsWaits) {
  ASSERT_HRESULT_SUCCEEDED(Call("DllRegisterServer"));
  StandInHost host;
  ASSERT_HRESULT_SUCCEEDED(host.Start());
  // This process was not started by a host: the parameters come from the environment.
  const std::string params = " /ServiceID=" + host.serviceId() + " /ServiceName=Grid Svc";
  ASSERT_TRUE(SetEnvironmentVariableA("KeldranService_PDF_PARAMS", params.c_str()));

  CLSID clsid;
  ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(L"KeldranGridUtil.Client", &clsid));
  ComPtr<IDispatch> client;
  ASSERT_HRESULT_SUCCEEDED(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, client.put_void()));
  ASSERT_HRESULT_SUCCEEDED(CallByName(client.get(), L"Connect"));
  const HWND window = host.clientWindow();
  ASSERT_NE(window, nullptr);
  const UINT event = RegisterWindowMessageA("KeldranService_Event");

  // A ping that some other loop of the script's thread dispatches goes unanswered: the script
  // may be hung anywhere but in a wait.
  ASSERT_TRUE(PostMessageA(window, event, kPing, 0));
  for (const ULONGLONG end = GetTickCount64() + 300; GetTickCount64() < end; Sleep(10)) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  EXPECT_EQ(host.Count("Running"), 0u);
  ASSERT_TRUE(PostMessageA(window, event, kPing, 0));
  ASSERT_HRESULT_SUCCEEDED(CallByName(client.get(), L"Sleep", 300));
  EXPECT_EQ(host.Count("Running"), 1u);

  client.reset();
  SetEnvironmentVariableA("KeldranService_PDF_PARAMS", nullptr);
  EXPECT_HRESULT_SUCCEEDED(Call("DllUnregisterServer"));
}

}  // namespace
}  // namespace keldran::test
