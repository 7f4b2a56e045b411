#include "platform/fake/fake_com.h"

#include <algorithm>
#include <cstdio>

namespace keldran::fake {
namespace {

class FakeRunningHost final : public IRunningHost {
 public:
  explicit FakeRunningHost(std::function<HResult()> onRequestStop)
      : onRequestStop_(std::move(onRequestStop)) {}
  HResult RequestStop() override { return onRequestStop_(); }
  HResult QueryStatus(WideString* text) override {
    text->clear();
    return kSOk;
  }

 private:
  std::function<HResult()> onRequestStop_;
};

}  // namespace

FakeCom::FakeCom(FaultPlan& faults, FakeSystemTexts& texts) : FakeArea(faults, texts) {}

FakeCom::~FakeCom() = default;

HResult FakeCom::Initialize() {
  std::lock_guard lock(mutex_);
  if (auto hr = InjectedHResult("CoInitialize")) return *hr;
  // The first call on a thread gives S_OK, later ones S_FALSE.
  return initializeCalls_++ == 0 ? kSOk : kSFalse;
}

HResult FakeCom::InitializeSecurity() {
  std::lock_guard lock(mutex_);
  return InjectedHResult("CoInitializeSecurity").value_or(kSOk);
}

HResult FakeCom::RegisterInRunningObjectTable(const std::string& monikerName, const ObjectRef&,
                                              std::uint32_t flags, std::uint32_t* cookie) {
  std::lock_guard lock(mutex_);
  *cookie = 0;
  attempts_.push_back(monikerName + " flags=" + std::to_string(flags));
  if (auto hr = InjectedHResult("IRunningObjectTable::Register")) return *hr;
  *cookie = nextCookie_++;
  table_[*cookie] = FoldCase(monikerName);
  return kSOk;
}

HResult FakeCom::RevokeFromRunningObjectTable(std::uint32_t cookie) {
  std::lock_guard lock(mutex_);
  return table_.erase(cookie) ? kSOk : kEInvalidArg;
}

HResult FakeCom::FindInRunningObjectTable(const std::string& monikerName,
                                          std::unique_ptr<IRunningHost>* host) {
  host->reset();
  const bool own = IsRegistered(monikerName);
  std::lock_guard lock(mutex_);
  const std::string key = FoldCase(monikerName);
  auto foreign = foreign_.find(key);
  if (!own && foreign == foreign_.end()) return kSOk;
  *host = std::make_unique<FakeRunningHost>(foreign != foreign_.end() ? foreign->second
                                                                      : [] { return kSOk; });
  return kSOk;
}

HResult FakeCom::CreateGuidText(std::string* text) {
  std::lock_guard lock(mutex_);
  if (auto hr = InjectedHResult("CoCreateGuid")) return *hr;
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "{5EED0000-0000-4000-8000-%012llX}",
                static_cast<unsigned long long>(nextGuid_++));
  *text = buffer;
  return kSOk;
}

HResult FakeCom::CreateLocalServerObject(const std::string&, const std::string&,
                                         ObjectRef* object) {
  *object = ObjectRef();
  return static_cast<HResult>(0x80040154u);  // REGDB_E_CLASSNOTREG
}

HResult FakeCom::RegisterTypeLibrary(const std::string& modulePath) {
  std::lock_guard lock(mutex_);
  if (auto hr = InjectedHResult("RegisterTypeLib")) return *hr;
  typeLibraries_.push_back(modulePath);
  return kSOk;
}

HResult FakeCom::UnregisterTypeLibrary(const std::string& libid, std::uint16_t, std::uint16_t) {
  std::lock_guard lock(mutex_);
  if (auto hr = InjectedHResult("UnRegisterTypeLib")) return *hr;
  typeLibraries_.push_back("-" + libid);
  return kSOk;
}

bool FakeCom::IsRegistered(const std::string& monikerName) const {
  std::lock_guard lock(mutex_);
  const std::string key = FoldCase(monikerName);
  return std::any_of(table_.begin(), table_.end(), [&](const auto& r) { return r.second == key; });
}

void FakeCom::AddForeignHost(const std::string& monikerName,
                             std::function<HResult()> onRequestStop) {
  std::lock_guard lock(mutex_);
  foreign_[FoldCase(monikerName)] = std::move(onRequestStop);
}

}  // namespace keldran::fake
