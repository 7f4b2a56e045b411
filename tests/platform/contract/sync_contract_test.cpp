#include <functional>
#include <thread>

#include "log/log.h"
#include "platform/contract/contract_test.h"

namespace keldran::contract {
namespace {

// Runs to its end on a thread of its own, for the checks of cross-thread ownership.
void OnOtherThread(const std::function<void()>& fn) { std::thread(fn).join(); }

class SyncContractTest : public ContractTest {
 protected:
  // A name no other test process uses.
  std::string MutexName(const std::string& what) {
    return "Keldran.Contract." + what + "." + std::to_string(p_.processes.CurrentProcessId());
  }
};

// With the log's descriptor, which grants Everyone only what waiting and releasing need: both
// the maker and a second opener may wait and release.
TEST_F(SyncContractTest, SecuredNamedMutexIsOwnedByOneThreadAcrossHandles) {
  ScopedMutex first(p_.sync);
  ScopedMutex second(p_.sync);
  ASSERT_EQ(p_.sync.CreateNamedMutex(MutexName("shared"), Log::kMutexSddl, first.put()), 0u);
  ASSERT_EQ(p_.sync.CreateNamedMutex(MutexName("shared"), "", second.put()), 0u);

  ASSERT_EQ(p_.sync.WaitForMutex(first.get(), 0), wait_result::kObject0);
  // The owner may wait again on either handle.
  EXPECT_EQ(p_.sync.WaitForMutex(second.get(), 0), wait_result::kObject0);
  std::uint32_t other = 0;
  OnOtherThread([&] { other = p_.sync.WaitForMutex(second.get(), 0); });
  EXPECT_EQ(other, wait_result::kTimeout);

  EXPECT_TRUE(p_.sync.ReleaseMutex(first.get()));
  EXPECT_TRUE(p_.sync.ReleaseMutex(second.get()));
  EXPECT_FALSE(p_.sync.ReleaseMutex(first.get()));  // no longer the owner
  OnOtherThread([&] {
    other = p_.sync.WaitForMutex(second.get(), 0);
    if (other == wait_result::kObject0) p_.sync.ReleaseMutex(second.get());
  });
  EXPECT_EQ(other, wait_result::kObject0);
}

TEST_F(SyncContractTest, MutexLeftByAnEndedThreadIsAbandoned) {
  ScopedMutex mutex(p_.sync);
  ASSERT_EQ(p_.sync.CreateNamedMutex(MutexName("abandoned"), "", mutex.put()), 0u);
  std::uint32_t taken = 0;
  OnOtherThread([&] { taken = p_.sync.WaitForMutex(mutex.get(), 0); });
  ASSERT_EQ(taken, wait_result::kObject0);
  EXPECT_EQ(p_.sync.WaitForMutex(mutex.get(), 0), wait_result::kAbandoned);
  // Abandonment is reported once; the new owner holds it normally.
  EXPECT_TRUE(p_.sync.ReleaseMutex(mutex.get()));
  EXPECT_EQ(p_.sync.WaitForMutex(mutex.get(), 0), wait_result::kObject0);
  EXPECT_TRUE(p_.sync.ReleaseMutex(mutex.get()));
}

}  // namespace
}  // namespace keldran::contract
