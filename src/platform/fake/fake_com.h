#pragma once
// COM: a running-object table keyed by file-moniker name (without regard to case, as file
// monikers are), predictable GUIDs, recorded type libraries and the test's hosts of other
// processes. No local server is ever found.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/fake/fake_support.h"

namespace keldran::fake {

class FakeCom final : public ICom, private FakeArea {
 public:
  FakeCom(FaultPlan& faults, FakeSystemTexts& texts);
  ~FakeCom() override;

  HResult Initialize() override;
  HResult InitializeSecurity() override;
  HResult RegisterInRunningObjectTable(const std::string& monikerName, const ObjectRef& object,
                                       std::uint32_t flags, std::uint32_t* cookie) override;
  HResult RevokeFromRunningObjectTable(std::uint32_t cookie) override;
  HResult FindInRunningObjectTable(const std::string& monikerName,
                                   std::unique_ptr<IRunningHost>* host) override;
  HResult CreateGuidText(std::string* text) override;
  HResult CreateLocalServerObject(const std::string& clsid, const std::string& iid,
                                  ObjectRef* object) override;
  HResult RegisterTypeLibrary(const std::string& modulePath) override;
  HResult UnregisterTypeLibrary(const std::string& libid, std::uint16_t major,
                                std::uint16_t minor) override;

  bool IsRegistered(const std::string& monikerName) const;
  // A host of another process, registered under the name; its RequestStop calls the function.
  void AddForeignHost(const std::string& monikerName, std::function<HResult()> onRequestStop);
  // Registered module paths, and "-libid" for each unregistration, in order.
  std::vector<std::string> RegisteredTypeLibraries() const {
    return Locked(mutex_, typeLibraries_);
  }
  // "name flags=n" per Register call.
  std::vector<std::string> RegistrationAttempts() const { return Locked(mutex_, attempts_); }

 private:
  mutable std::mutex mutex_;
  std::map<std::uint32_t, std::string> table_;  // folded names by cookie
  std::uint32_t nextCookie_ = 0x100;
  std::map<std::string, std::function<HResult()>> foreign_;  // RequestStop by folded name
  int initializeCalls_ = 0;
  std::uint64_t nextGuid_ = 1;
  std::vector<std::string> typeLibraries_;
  std::vector<std::string> attempts_;
};

}  // namespace keldran::fake
