#pragma once
// The fixture every contract test shares: a backend, its platform, and small helpers written
// against the platform itself so that they run on either backend.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/contract/contract_backend.h"

namespace keldran::contract {

class ContractTest : public ::testing::Test {
 protected:
  ContractTest() : backend_(MakeContractBackend()), p_(backend_->platform()) {}

  // Creates or replaces a file with exactly these bytes.
  void WriteFile(const std::string& path, const std::string& content) {
    ScopedFile file(p_.files);
    ASSERT_EQ(
        p_.files.CreateFile(path, file_access::kGenericWrite, file_share::kNone,
                            file_creation::kCreateAlways, file_attribute::kNormal, file.put()),
        0u)
        << path;
    std::uint32_t written = 0;
    ASSERT_EQ(p_.files.WriteFile(file.get(), content.data(),
                                 static_cast<std::uint32_t>(content.size()), &written),
              0u);
    ASSERT_EQ(written, content.size());
  }

  std::string ReadFile(const std::string& path) {
    ScopedFile file(p_.files);
    EXPECT_EQ(
        p_.files.CreateFile(path, file_access::kGenericRead, file_share::kRead,
                            file_creation::kOpenExisting, file_attribute::kNormal, file.put()),
        0u)
        << path;
    std::string content(4096, '\0');
    std::uint32_t read = 0;
    EXPECT_EQ(p_.files.ReadFile(file.get(), content.data(),
                                static_cast<std::uint32_t>(content.size()), &read),
              0u);
    content.resize(read);
    return content;
  }

  std::unique_ptr<ContractBackend> backend_;
  Platform& p_;
};

}  // namespace keldran::contract
