#include <gtest/gtest.h>

#include "keldran_service.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::win32 {
namespace {

// The least IService that can sit in the running-object table: it counts RequestStop calls.
class StubService final : public IService {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IService) {
      *out = static_cast<IService*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Running() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Connect(UINT, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Log(LONG, BSTR, LONG, LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE StartWorker(BSTR, VARIANT, IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE StopWorker(IDispatch*, LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RequestStop() override {
    ++stopRequests;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NotifyVisible(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NotifyCanDebug(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetToolTip(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ShowBalloon(BSTR, LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Restart() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ReadIniString(BSTR, BSTR, BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteFileOnTimeout(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Progress(BSTR, LONG) override { return E_NOTIMPL; }

  ULONG references = 1;
  int stopRequests = 0;
};

void NoRelease(void*) {}

TEST(ComTest, RunningHostIsFoundByItsMonikerUntilRevoked) {
  Win32Platform backend;
  ICom& com_ = backend.platform().com;
  ASSERT_TRUE(Succeeded(com_.Initialize()));
  std::string moniker;
  ASSERT_EQ(com_.CreateGuidText(&moniker), kSOk);
  std::unique_ptr<IRunningHost> host;
  ASSERT_EQ(com_.FindInRunningObjectTable(moniker, &host), kSOk);
  EXPECT_FALSE(host);

  StubService service;
  std::uint32_t cookie = 0;
  ASSERT_EQ(com_.RegisterInRunningObjectTable(moniker, ObjectRef(&service, &NoRelease),
                                              rot_flags::kRegistrationKeepsAlive, &cookie),
            kSOk);
  ASSERT_EQ(com_.FindInRunningObjectTable(moniker, &host), kSOk);
  ASSERT_TRUE(host);
  EXPECT_EQ(host->RequestStop(), kSOk);
  EXPECT_EQ(service.stopRequests, 1);
  host.reset();

  ASSERT_EQ(com_.RevokeFromRunningObjectTable(cookie), kSOk);
  ASSERT_EQ(com_.FindInRunningObjectTable(moniker, &host), kSOk);
  EXPECT_FALSE(host);
  EXPECT_EQ(service.references, 1u);  // every reference the table took was given back
  ::CoUninitialize();
}

}  // namespace
}  // namespace keldran::win32
