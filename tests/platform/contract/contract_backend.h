#pragma once
// The contract tests run the same checks against each backend: natively against the fake, and
// under Wine against the Win32 backend. Each backend's test file implements MakeContractBackend.

#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace keldran::contract {

class ContractBackend {
 public:
  virtual ~ContractBackend() = default;
  virtual Platform& platform() = 0;
  // An existing, empty directory private to the calling test, with a trailing backslash.
  virtual std::string ScratchDirectory() = 0;
  // A key path under HKEY_CURRENT_USER private to the calling test (it does not exist yet).
  virtual std::string ScratchRegistryPath() = 0;
  // Runs the function to its end on another thread (real on both backends); for checks of
  // cross-thread ownership such as mutexes.
  virtual void RunOnOtherThread(const std::function<void()>& fn) = 0;
  // Name of this backend, for messages ("fake" or "win32").
  virtual std::string Name() const = 0;
};

std::unique_ptr<ContractBackend> MakeContractBackend();

}  // namespace keldran::contract
