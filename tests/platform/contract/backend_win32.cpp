// The contract tests against the real calls, under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <list>
#include <string>
#include <vector>

#include "common/files.h"
#include "platform/contract/contract_backend.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::contract {
namespace {

class Win32Backend final : public ContractBackend {
 public:
  // The message table lives in the product, which sits beside the test program.
  Win32Backend()
      : messageModule_(::LoadLibraryExA(tools::ProgramPath("KeldranGridAgent.exe").c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE)),
        platform_(messageModule_.get()) {
    if (!messageModule_) ADD_FAILURE() << "KeldranGridAgent.exe not found beside the tests";
  }

  ~Win32Backend() override {
    for (const std::string& key : keys_) ::RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  }

  Platform& platform() override { return platform_.platform(); }

  std::string ScratchDirectory() override {
    if (directories_.emplace_back().path().empty()) ADD_FAILURE() << "no scratch directory";
    return directories_.back().path() + "\\";
  }

  std::string ScratchRegistryPath() override {
    static std::atomic<unsigned> counter{0};
    keys_.push_back("Software\\KeldranContract\\" + std::to_string(::GetCurrentProcessId()) + "_" +
                    std::to_string(++counter));
    return keys_.back();
  }

 private:
  win32::UniqueModule messageModule_;
  win32::Win32Platform platform_;
  std::list<tools::ScratchDir> directories_;
  std::vector<std::string> keys_;
};

}  // namespace

std::unique_ptr<ContractBackend> MakeContractBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace keldran::contract
