// The resources of KeldranGridAgent.exe as the event viewer and LoadTypeLib read them: the
// message and category table, the type library, the icon and the version.
#include <windows.h>
// oleauto.h needs the types of windows.h.
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
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

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string DocName(ITypeInfo* info, MEMBERID member) {
  Bstr name;
  if (FAILED(info->GetDocumentation(member, name.put(), nullptr, nullptr, nullptr))) return {};
  return name.narrow();
}

// A copy of the type attributes; all zero when they cannot be read.
TYPEATTR AttrOf(ITypeInfo* info) {
  TYPEATTR copy{};
  TYPEATTR* attr = nullptr;
  if (SUCCEEDED(info->GetTypeAttr(&attr))) {
    copy = *attr;
    info->ReleaseTypeAttr(attr);
  }
  return copy;
}

// The identities that compiled clients and the universal marshaler rely on: the coclass, and
// IService as a dual interface with fixed dispatch ids.
TEST(TypeLibraryTest, TheLibraryCarriesItsIdentitiesAndADualIService) {
  ComApartment com;
  ComPtr<ITypeLib> lib;
  ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(Widen(AgentExePath()).c_str(), REGKIND_NONE, lib.put()));
  ComPtr<ITypeInfo> coclass;
  ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(CLSID_Service, coclass.put()));
  EXPECT_EQ(GuidText(CLSID_Service), "{C83D2E19-6B7A-4F05-8E41-D2A9B3C6F017}");
  EXPECT_EQ(DocName(coclass.get(), MEMBERID_NIL), "Service");

  ComPtr<ITypeInfo> info;
  ASSERT_HRESULT_SUCCEEDED(lib->GetTypeInfoOfGuid(IID_IService, info.put()));
  EXPECT_EQ(GuidText(IID_IService), "{A7C4E2B9-5D31-4F86-B2E0-8C9D1F3A6B47}");
  HREFTYPE other;
  ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &other));
  ComPtr<ITypeInfo> otherInfo;
  ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(other, otherInfo.put()));
  ITypeInfo* dispatch =
      AttrOf(info.get()).typekind == TKIND_DISPATCH ? info.get() : otherInfo.get();
  const TYPEATTR d = AttrOf(dispatch);
  EXPECT_TRUE(d.wTypeFlags & TYPEFLAG_FDUAL);

  const char* methods[] = {
      "Stop",        "Running",     "Pause",       "Connect",       "Log",
      "StartWorker", "StopWorker",  "RequestStop", "NotifyVisible", "NotifyCanDebug",
      "SetToolTip",  "ShowBalloon", "Restart",     "ReadIniString", "DeleteFileOnTimeout",
      "Progress"};
  for (MEMBERID dispid = 1; dispid <= 16; ++dispid) {
    std::wstring wide = Widen(methods[dispid - 1]);
    LPOLESTR names[] = {wide.data()};
    MEMBERID id = MEMBERID_NIL;
    ASSERT_HRESULT_SUCCEEDED(dispatch->GetIDsOfNames(names, 1, &id)) << methods[dispid - 1];
    EXPECT_EQ(id, dispid) << methods[dispid - 1];
  }
}

// ---------------------------------------------------------------------------------------------
// Icon and version

TEST(ExeResourcesTest, IconGroupAndVersionArePresent) {
  const Module exe = LoadExe();
  ASSERT_NE(exe.get(), nullptr);
  EXPECT_NE(FindResourceA(exe.get(), MAKEINTRESOURCEA(201), MAKEINTRESOURCEA(14)), nullptr)
      << "icon group 201";  // RT_GROUP_ICON

  HRSRC version = FindResourceA(exe.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  ASSERT_NE(version, nullptr);  // RT_VERSION
  HGLOBAL loaded = LoadResource(exe.get(), version);
  ASSERT_NE(loaded, nullptr);
  const auto* data = static_cast<const BYTE*>(LockResource(loaded));
  const DWORD size = SizeofResource(exe.get(), version);
  // VS_VERSIONINFO: three WORDs, the key "VS_VERSION_INFO" with its terminator, padding to a
  // DWORD boundary, then the fixed part.
  constexpr DWORD kFixedOffset = 40;
  ASSERT_GE(size, kFixedOffset + sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed;
  memcpy(&fixed, data + kFixedOffset, sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileVersionMS, MAKELONG(21, 3));
  EXPECT_EQ(fixed.dwProductVersionMS, MAKELONG(21, 3));
}

}  // namespace
}  // namespace keldran::test
