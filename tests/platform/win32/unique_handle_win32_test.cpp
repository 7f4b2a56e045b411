#include "platform/win32/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace keldran::win32 {
namespace {

// Records each close, and disturbs the last error as a failing close would.
struct RecordingTraits {
  using Type = int;
  static Type Invalid() noexcept { return 0; }
  static void Close(Type value) noexcept {
    closed.push_back(value);
    ::SetLastError(ERROR_INVALID_HANDLE);
  }
  static inline std::vector<int> closed;
};
using Recorded = UniqueHandle<RecordingTraits>;

class UniqueHandleTest : public ::testing::Test {
 protected:
  UniqueHandleTest() { RecordingTraits::closed.clear(); }
  const std::vector<int>& closed() const { return RecordingTraits::closed; }
};

TEST_F(UniqueHandleTest, ClosesOnceAtTheEndOfItsScope) {
  {
    Recorded a(7);
    Recorded none;
    EXPECT_TRUE(a);
    EXPECT_FALSE(none);
  }
  EXPECT_EQ(closed(), std::vector<int>{7});
}

TEST_F(UniqueHandleTest, MovesHandOverWithoutClosing) {
  {
    Recorded a(1);
    Recorded b(std::move(a));
    EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): moved-from state is the point
    EXPECT_EQ(b.get(), 1);
    EXPECT_TRUE(closed().empty());

    Recorded c(2);
    c = std::move(b);  // closes what c held, takes b's
    EXPECT_EQ(closed(), std::vector<int>{2});
    EXPECT_EQ(c.get(), 1);
    c = std::move(c);  // self-move keeps it
    EXPECT_EQ(c.get(), 1);
  }
  EXPECT_EQ(closed(), (std::vector<int>{2, 1}));
}

TEST_F(UniqueHandleTest, ResetReleaseAndPut) {
  Recorded a(1);
  a.reset(2);
  EXPECT_EQ(closed(), std::vector<int>{1});
  EXPECT_EQ(a.release(), 2);
  EXPECT_FALSE(a);
  a.reset();  // nothing held, nothing closed
  EXPECT_EQ(closed(), std::vector<int>{1});

  Recorded b(3);
  *b.put() = 4;  // put closes the old value first
  EXPECT_EQ(closed(), (std::vector<int>{1, 3}));
  EXPECT_EQ(b.get(), 4);
}

TEST_F(UniqueHandleTest, ClosingKeepsTheCallersLastError) {
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  { Recorded a(1); }
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  // The same with a real close that fails.
  UniqueKernelHandle bogus(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1234)));
  HANDLE none =
      ::CreateFileA("C:\\no\\such\\file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(none, INVALID_HANDLE_VALUE);
  bogus.reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(UniqueHandleTest, FileOwnersTreatInvalidHandleValueAsNone) {
  UniqueFile file(
      ::CreateFileA("C:\\no\\such\\file.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(file);
  UniqueKernelHandle event(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  EXPECT_TRUE(event);
  HANDLE raw = event.get();
  event.reset();
  EXPECT_FALSE(::SetEvent(raw));  // really closed
}

// A COM object that only counts its references.
class Counted final : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
};

TEST(ComPtrTest, ReleasesItsOneReference) {
  Counted object;
  {
    ComPtr<IUnknown> a;
    *a.put() = &object;
    ComPtr<IUnknown> b(std::move(a));
    EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move)
    ComPtr<IUnknown> c;
    EXPECT_EQ(b.As(IID_IUnknown, &c), S_OK);
    EXPECT_EQ(object.references, 2u);
    ComPtr<IClassFactory> wrong;
    EXPECT_EQ(b.As(IID_IClassFactory, &wrong), E_NOINTERFACE);
    EXPECT_FALSE(wrong);
  }
  EXPECT_EQ(object.references, 0u);
}

TEST(ScopeExitTest, RunsWhenTheScopeEnds) {
  int runs = 0;
  {
    ScopeExit guard([&] { ++runs; });
    EXPECT_EQ(runs, 0);
  }
  EXPECT_EQ(runs, 1);
}

TEST(UniqueBstrTest, OwnsAnAutomationString) {
  UniqueBstr text(::SysAllocString(L"grid"));
  ASSERT_TRUE(text);
  EXPECT_EQ(::SysStringLen(text.get()), 4u);
  UniqueVariant variant;
  EXPECT_EQ(variant.get()->vt, VT_EMPTY);
  variant.get()->vt = VT_BSTR;
  variant.get()->bstrVal = text.release();  // the variant frees it now
}

}  // namespace
}  // namespace keldran::win32
