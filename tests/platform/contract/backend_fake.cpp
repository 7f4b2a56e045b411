// The contract tests' backend natively: the fake platform.
#include "platform/contract/contract_backend.h"
#include "platform/fake/fake_platform.h"

#include <gtest/gtest.h>

namespace keldran::contract {
namespace {

class FakeBackend final : public ContractBackend {
 public:
  Platform& platform() override { return fake_.platform(); }
  std::string ScratchDirectory() override {
    std::string dir = "C:\\scratch\\" + std::to_string(++scratchCount_) + "\\";
    fake_.files.AddDirectory(dir);
    return dir;
  }
  std::string ScratchRegistryPath() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string("Software\\KeldranContract\\") + (info ? info->name() : "test");
  }

 private:
  fake::FakePlatform fake_;
  int scratchCount_ = 0;
};

}  // namespace

std::unique_ptr<ContractBackend> MakeContractBackend() { return std::make_unique<FakeBackend>(); }

}  // namespace keldran::contract
