// The contract tests against the real calls, under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/contract/contract_backend.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_api.h"

namespace keldran::contract {
namespace {

// The message table lives in the product, which sits beside the test program.
HMODULE LoadMessageModule() {
  char path[MAX_PATH];
  DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || !::PathRemoveFileSpecA(path) ||
      !::PathAppendA(path, "KeldranGridAgent.exe")) {
    return nullptr;
  }
  return ::LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

std::string CurrentTestName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
}

class Win32Backend final : public ContractBackend {
 public:
  Win32Backend() : messageModule_(LoadMessageModule()), platform_(messageModule_.get()) {
    if (!messageModule_) ADD_FAILURE() << "KeldranGridAgent.exe not found beside the tests";
  }

  ~Win32Backend() override {
    for (const std::string& directory : directories_) {
      static_cast<void>(platform().shell.DeleteFolder(directory));
    }
    for (const std::string& key : keys_) ::RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
  }

  Platform& platform() override { return platform_.platform(); }

  std::string ScratchDirectory() override {
    char temp[MAX_PATH + 1];
    DWORD n = ::GetTempPathA(sizeof temp, temp);
    std::string path = std::string(temp, n < sizeof temp ? n : 0) + "keldran-contract-" +
                       std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(Next()) +
                       "\\";
    if (!::CreateDirectoryA(path.c_str(), nullptr)) {
      ADD_FAILURE() << "cannot create " << path << ": " << ::GetLastError();
    }
    directories_.push_back(path);
    return path;
  }

  std::string ScratchRegistryPath() override {
    std::string path = "Software\\KeldranContract\\" + CurrentTestName() + "_" +
                       std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(Next());
    keys_.push_back(path);
    return path;
  }

 private:
  static unsigned Next() {
    static std::atomic<unsigned> counter{0};
    return ++counter;
  }

  win32::UniqueModule messageModule_;
  win32::Win32Platform platform_;
  std::vector<std::string> directories_;
  std::vector<std::string> keys_;
};

}  // namespace

std::unique_ptr<ContractBackend> MakeContractBackend() { return std::make_unique<Win32Backend>(); }

}  // namespace keldran::contract
