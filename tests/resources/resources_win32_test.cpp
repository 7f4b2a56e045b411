// The resources of KeldranGridAgent.exe as the event viewer and LoadTypeLib read them: the
// message and category table and the type library.
#include <windows.h>
// oleauto.h needs the types of windows.h.
#include <oleauto.h>

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "keldran_service.h"
#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;

// The executable loaded as a data file: its resources, none of its code.
Module LoadExe() {
  return Module(LoadLibraryExA(AgentExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
                &FreeLibrary);
}

// FormatMessageA as the event log does it: from the module, one insertion string.
struct Formatted {
  bool ok;
  DWORD error;
  std::string text;
};

Formatted FormatFromExe(HMODULE module, DWORD id, const char* insert) {
  char buffer[4096];
  DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(insert)};
  SetLastError(0);
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id,
                           0x400, buffer, sizeof buffer, reinterpret_cast<va_list*>(args));
  if (n == 0) return {false, GetLastError(), {}};
  return {true, 0, std::string(buffer, n)};
}

class MessageTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(exe_.get(), nullptr) << "cannot load " << AgentExePath(); }
  const Module exe_ = LoadExe();
};

// Every id and text of the message table's source, with "X" for the insertion.
std::vector<std::pair<DWORD, std::string>> SourceMessages() {
  std::vector<std::pair<DWORD, std::string>> messages;
  std::istringstream in(ReadWholeFile(KELDRAN_MESSAGE_SOURCE).value_or(""));
  std::string line, text;
  DWORD id = 0;
  bool inText = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (inText) {
      if (line == ".") {
        for (std::size_t at; (at = text.find("%1")) != std::string::npos;) text.replace(at, 2, "X");
        messages.emplace_back(id, text);
        inText = false;
      } else {
        text += line + "\r\n";
      }
    } else if (line.rfind("MessageId=", 0) == 0) {
      id = static_cast<DWORD>(std::stoul(line.substr(10)));
    } else if (line.rfind("Language=", 0) == 0) {
      inText = true;
      text.clear();
    }
  }
  return messages;
}

TEST_F(MessageTableTest, EveryMessageOfTheSourceFormatsAsWrittenAndOtherIdsAreMissing) {
  const auto messages = SourceMessages();
  ASSERT_GE(messages.size(), 70u) << KELDRAN_MESSAGE_SOURCE;
  for (const auto& [id, text] : messages) {
    const Formatted f = FormatFromExe(exe_.get(), id, "X");
    EXPECT_TRUE(f.ok) << "message " << id << " error " << f.error;
    EXPECT_EQ(f.text, text) << "message " << id;
  }
  // Category 10 and the ids between the table's ranges fail as ERROR_MR_MID_NOT_FOUND.
  for (DWORD id : {0u, 10u, 16u, 99u, 122u, 999u, 1002u, 7002u, 9000u}) {
    const Formatted f = FormatFromExe(exe_.get(), id, "X");
    EXPECT_FALSE(f.ok) << "id " << id << " gave " << f.text;
    EXPECT_EQ(f.error, 317u) << "id " << id;
  }
}

// ---------------------------------------------------------------------------------------------
// Type library

// What compiled clients rely on: the coclass, and IService with fixed dispatch ids.
TEST(TypeLibraryTest, TheLibraryCarriesTheCoclassAndIServicesDispatchIds) {
  ComApartment com;
  ComPtr<ITypeLib> lib;
  ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(Widen(AgentExePath()).c_str(), REGKIND_NONE, lib.put()));
  ComPtr<ITypeInfo> coclass;
  ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(CLSID_Service, coclass.put()));

  ComPtr<ITypeInfo> info;
  ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(IID_IService, info.put()));
  const char* methods[] = {
      "Stop",        "Running",     "Pause",       "Connect",       "Log",
      "StartWorker", "StopWorker",  "RequestStop", "NotifyVisible", "NotifyCanDebug",
      "SetToolTip",  "ShowBalloon", "Restart",     "ReadIniString", "DeleteFileOnTimeout",
      "Progress"};
  for (MEMBERID dispid = 1; dispid <= 16; ++dispid) {
    std::wstring wide = Widen(methods[dispid - 1]);
    LPOLESTR names[] = {wide.data()};
    MEMBERID id = MEMBERID_NIL;
    ASSERT_HRESULT_SUCCEEDED(info->GetIDsOfNames(names, 1, &id)) << methods[dispid - 1];
    EXPECT_EQ(id, dispid) << methods[dispid - 1];
  }
}

}  // namespace
}  // namespace keldran::test
