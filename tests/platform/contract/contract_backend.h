#pragma once
// The contract tests run the same checks against each backend: natively against the fake, and
// under Wine against the Win32 backend. Each backend's test file implements MakeContractBackend.

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
};

std::unique_ptr<ContractBackend> MakeContractBackend();

}  // namespace keldran::contract
