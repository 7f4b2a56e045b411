// The resources carried by KeldranGridAgent.exe: the message and category table that the event
// log reads, the type library that COM marshals IService with, the icon and the version. Read
// from the built executable as a data file, as the event viewer and LoadTypeLib read them.
#include <windows.h>
// oleauto.h needs the types of windows.h.
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "keldran_service.h"
#include "support_win32/e2e_support.h"

namespace keldran::test {
namespace {

// The executable loaded as a data file: its resources, none of its code.
class ExeResources {
 public:
  ExeResources()
      : module_(LoadLibraryExA(AgentExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ExeResources(const ExeResources&) = delete;
  ExeResources& operator=(const ExeResources&) = delete;
  ~ExeResources() {
    if (module_) FreeLibrary(module_);
  }
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

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
  ExeResources exe_;
};

TEST_F(MessageTableTest, CategoriesHaveTheirNamesAndIdsOutsideTheTableAreMissing) {
  const std::vector<std::pair<DWORD, const char*>> categories = {
      {1, "Install"}, {2, "Configuration"},    {3, "Startup"}, {4, "Run"},       {5, "Shutdown"},
      {6, "Debug"},   {7, "Controller"},       {8, "Worker"},  {9, "Parameter"}, {11, "Trace"},
      {12, "PDF"},    {13, "Logging Failure"}, {14, "Grid"},   {15, "None"}};
  for (const auto& [id, name] : categories) {
    Formatted f = FormatFromExe(exe_.get(), id, "X");
    EXPECT_TRUE(f.ok) << "category " << id << " error " << f.error;
    EXPECT_EQ(f.text, std::string(name) + "\r\n") << "category " << id;
  }
  // Category 10 and the ids between the table's ranges fail as ERROR_MR_MID_NOT_FOUND.
  for (DWORD id : {0u, 10u, 16u, 99u, 122u, 999u, 1002u, 7002u, 9000u}) {
    Formatted f = FormatFromExe(exe_.get(), id, "X");
    EXPECT_FALSE(f.ok) << "id " << id << " gave " << f.text;
    EXPECT_EQ(f.error, 317u) << "id " << id;
  }
}

TEST_F(MessageTableTest, EveryMessageFormatsWithItsInsertion) {
  const std::vector<std::pair<DWORD, const char*>> messages = {
      {100, "Configuration error: X"},
      {101, "The control handler could not be installed X"},
      {102, "Initialization failed: X"},
      {103, "Service started X"},
      {104, "Service started (as application) X"},
      {105, "Client started X"},
      {106, "Client NOT started X"},
      {107, "Client timed out without responding X"},
      {108, "Client stopped unexpectedly X"},
      {109, "Client requested pause (for debugging) X"},
      {110, "Client requested resume (for debugging) X"},
      {111, "Shutdown initiated by client X"},
      {112, "Cannot open registry key: X"},
      {113, "Cannot create registry key: X"},
      {114, "Cannot set registry key: X"},
      {115, "Client connected hwndClient=X (for debugging)"},
      {116, "Startup failed: X"},
      {117, "Invalid command line parameter: X"},
      {118, "Client resumed responding following timeout X"},
      {119, "Restart initiated by client X"},
      {120, "Cannot delete registry key: X"},
      {121, "Deleting file due to timeout X"},
      {200, "Interface components not properly registered: X"},
      {201, "Cannot start interface X"},
      {202, "Cannot load workspace for interface X"},
      {300, "Bad request: X"},
      {301, "Bad response: X"},
      {302, "Unknown error.  Stopping interface X"},
      {400, "Service stopped X"},
      {401, "Service stopped (as application) X"},
      {402, "Service paused X"},
      {403, "Service paused (as application) X"},
      {404, "Process stopped unexpectedly X"},
      {900, "Service installed X"},
      {901, "Service could not be installed: X"},
      {902, "Component name not specified on command line. X"},
      {903, "Service could not be started; Must specify only one service name on command line"},
      {904, "Service removed X"},
      {905, "Service could not be removed: X"},
      {906, "Reserved X"},
      {907, "Error installing component X"},
      {908, "Error uninstalling component X"},
      {909, "Cannot find INI file: X"},
      {910, "Missing INI file entry: X"},
      {911, "INI file entry X should match service name"},
      {913, "Could not grant \"Log On As Service\" rights X"},
      {1000, "X"},
      {1001, "X"},
      {2000, "X"},
      {3000, "X"},
      {4000, "X"},
      {5000, "X"},
      {6000, "X"},
      {7000, "X"},
      {7001, "X"},
      {8000, "X"}};
  for (const auto& [id, text] : messages) {
    Formatted f = FormatFromExe(exe_.get(), id, "X");
    EXPECT_TRUE(f.ok) << "message " << id << " error " << f.error;
    EXPECT_EQ(f.text, std::string(text) + "\r\n") << "message " << id;
  }
}

TEST_F(MessageTableTest, LogonFormatMessageKeepsItsLinesAndIndent) {
  Formatted f = FormatFromExe(exe_.get(), 912, "X");
  ASSERT_TRUE(f.ok) << f.error;
  EXPECT_EQ(f.text,
            "INI file entry \"Logon\" must specify both userid and password or neither (do not "
            "code for default login).  If coded the format should be:\r\n"
            "\r\n"
            "    Logon=domain\\userid;password\r\n"
            "or\r\n"
            "    Logon=.\\localuserid;password\r\n");
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

struct Doc {
  std::string name;
  std::string help;
};

Doc Documentation(ITypeLib* lib, INT index) {
  Bstr name, help;
  if (FAILED(lib->GetDocumentation(index, name.put(), help.put(), nullptr, nullptr))) return {};
  return {name.narrow(), help.narrow()};
}

Doc Documentation(ITypeInfo* info, MEMBERID member) {
  Bstr name, help;
  if (FAILED(info->GetDocumentation(member, name.put(), help.put(), nullptr, nullptr))) return {};
  return {name.narrow(), help.narrow()};
}

// Type attributes, released with their type info.
class TypeAttr {
 public:
  explicit TypeAttr(ITypeInfo* info) : info_(info) {
    if (FAILED(info_->GetTypeAttr(&attr_))) attr_ = nullptr;
  }
  TypeAttr(const TypeAttr&) = delete;
  TypeAttr& operator=(const TypeAttr&) = delete;
  ~TypeAttr() {
    if (attr_) info_->ReleaseTypeAttr(attr_);
  }
  const TYPEATTR* operator->() const { return attr_; }
  explicit operator bool() const { return attr_ != nullptr; }

 private:
  ITypeInfo* info_;
  TYPEATTR* attr_ = nullptr;
};

class FuncDesc {
 public:
  FuncDesc(ITypeInfo* info, UINT index) : info_(info) {
    if (FAILED(info_->GetFuncDesc(index, &desc_))) desc_ = nullptr;
  }
  FuncDesc(const FuncDesc&) = delete;
  FuncDesc& operator=(const FuncDesc&) = delete;
  ~FuncDesc() {
    if (desc_) info_->ReleaseFuncDesc(desc_);
  }
  const FUNCDESC* operator->() const { return desc_; }
  const FUNCDESC& operator*() const { return *desc_; }
  explicit operator bool() const { return desc_ != nullptr; }

 private:
  ITypeInfo* info_;
  FUNCDESC* desc_ = nullptr;
};

// An automation type as IDL spells it. An interface pointer reads the same whether the library
// encodes it as VT_DISPATCH or as a pointer to the interface's own type info.
std::string TypeText(ITypeInfo* info, const TYPEDESC& type) {
  switch (type.vt) {
    case VT_I4:
      return "long";
    case VT_UINT:
      return "unsigned int";
    case VT_BSTR:
      return "BSTR";
    case VT_VARIANT:
      return "VARIANT";
    case VT_HRESULT:
      return "HRESULT";
    case VT_VOID:
      return "void";
    case VT_DISPATCH:
      return "IDispatch*";
    case VT_UNKNOWN:
      return "IUnknown*";
    case VT_PTR:
      return TypeText(info, *type.lptdesc) + "*";
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> ref;
      if (FAILED(info->GetRefTypeInfo(type.hreftype, ref.put()))) return "?userdefined";
      return Documentation(ref.get(), MEMBERID_NIL).name;
    }
    default:
      return "?vt" + std::to_string(type.vt);
  }
}

std::string DefaultText(const VARIANT& value) {
  if (value.vt == VT_I4) return std::to_string(value.lVal);
  return "?vt" + std::to_string(value.vt);
}

// One method as IDL declares it: "HRESULT Log([in] long Type, ...)".
std::string Signature(ITypeInfo* info, const FUNCDESC& func) {
  BSTR names[16] = {};
  UINT count = 0;
  std::string text;
  if (FAILED(info->GetNames(func.memid, names, 16, &count)) || count == 0) return "?names";
  text = TypeText(info, func.elemdescFunc.tdesc) + " " + Narrow(names[0]) + "(";
  for (SHORT i = 0; i < func.cParams; ++i) {
    const ELEMDESC& param = func.lprgelemdescParam[i];
    const USHORT flags = param.paramdesc.wParamFlags;
    std::vector<std::string> attrs;
    if (flags & PARAMFLAG_FIN) attrs.push_back("in");
    if (flags & PARAMFLAG_FOUT) attrs.push_back("out");
    if (flags & PARAMFLAG_FRETVAL) attrs.push_back("retval");
    if (flags & PARAMFLAG_FOPT) attrs.push_back("optional");
    if ((flags & PARAMFLAG_FHASDEFAULT) && param.paramdesc.pparamdescex) {
      attrs.push_back("defaultvalue(" + DefaultText(param.paramdesc.pparamdescex->varDefaultValue) +
                      ")");
    }
    if (i > 0) text += ", ";
    text += "[";
    for (size_t a = 0; a < attrs.size(); ++a) text += (a ? "," : "") + attrs[a];
    text += "] " + TypeText(info, param.tdesc) + " ";
    text += static_cast<UINT>(i + 1) < count ? Narrow(names[i + 1]) : "?";
  }
  for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
  return text + ")";
}

struct Method {
  MEMBERID dispid;
  const char* signature;
  const char* help;
};

const Method kMethods[] = {
    {1, "HRESULT Stop()", "Stop service and terminate APL"},
    {2, "HRESULT Running()", "Notify service you are still running; must be called periodically"},
    {3, "HRESULT Pause()", "Request service to pause"},
    {4, "HRESULT Connect([in] unsigned int hwndClient, [out,retval] long* pServiceThreadId)",
     "method Connect"},
    {5,
     "HRESULT Log([in] long Type, [in] BSTR MsgString, [in,optional,defaultvalue(0)] long Cat, "
     "[in,optional,defaultvalue(0)] long MsgNumber)",
     "method Log"},
    {6,
     "HRESULT StartWorker([in] BSTR Config, [in,optional] VARIANT Overrides, [out,retval] "
     "IDispatch** pWorker)",
     "method StartWorker"},
    {7, "HRESULT StopWorker([in] IDispatch* Worker, [in,optional,defaultvalue(0)] long Flags)",
     "method StopWorker"},
    {8, "HRESULT RequestStop()", "method RequestStop"},
    {9, "HRESULT NotifyVisible([in] long IsVisible)", "method NotifyVisible"},
    {10, "HRESULT NotifyCanDebug([in] long CanDebug)", "method NotifyCanDebug"},
    {11, "HRESULT SetToolTip([in] BSTR String)", "method SetToolTip"},
    {12, "HRESULT ShowBalloon([in] BSTR Message, [in,optional,defaultvalue(1)] long Type)",
     "method ShowBalloon"},
    {13, "HRESULT Restart()", "method Restart"},
    {14,
     "HRESULT ReadIniString([in] BSTR Section, [in] BSTR Key, [in] BSTR Default, [out,retval] "
     "BSTR* res)",
     "method ReadIniString"},
    {15, "HRESULT DeleteFileOnTimeout([in] BSTR File)", "method DeleteFileOnTimeout"},
    {16, "HRESULT Progress([in] BSTR Message, [in] long Timeout)", "method Progress"},
};

class TypeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(
        LoadTypeLibEx(Widen(AgentExePath()).c_str(), REGKIND_NONE, lib_.put()));
  }

  // The two halves of the dual interface: the vtable interface and its dispatch interface.
  void GetServiceHalves(ComPtr<ITypeInfo>& vtable, ComPtr<ITypeInfo>& dispatch) {
    ComPtr<ITypeInfo> info;
    ASSERT_HRESULT_SUCCEEDED(lib_->GetTypeInfoOfGuid(IID_IService, info.put()));
    TypeAttr attr(info.get());
    ASSERT_TRUE(attr);
    HREFTYPE other;
    ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &other));
    ComPtr<ITypeInfo> otherInfo;
    ASSERT_HRESULT_SUCCEEDED(info->GetRefTypeInfo(other, otherInfo.put()));
    if (attr->typekind == TKIND_DISPATCH) {
      dispatch = info;
      vtable = otherInfo;
    } else {
      vtable = info;
      dispatch = otherInfo;
    }
  }

  ComApartment com_;
  ComPtr<ITypeLib> lib_;
};

TEST_F(TypeLibraryTest, LibraryCoclassAndDualInterfaceCarryTheirIdentities) {
  TLIBATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetLibAttr(&attr));
  EXPECT_EQ(GuidText(attr->guid), "{5A1F93C4-8E27-4B60-A3D5-19C6E0B7F482}");
  EXPECT_EQ(attr->wMajorVerNum, 3);
  EXPECT_EQ(attr->wMinorVerNum, 21);
  lib_->ReleaseTLibAttr(attr);
  Doc doc = Documentation(lib_.get(), -1);
  EXPECT_EQ(doc.name, "KeldranService");
  EXPECT_EQ(doc.help, "Keldran Grid Agent 3.21 Type Library");

  // The coclass "Service" with IService as its one, default interface.
  ComPtr<ITypeInfo> coclass;
  ASSERT_HRESULT_SUCCEEDED(lib_->GetTypeInfoOfGuid(CLSID_Service, coclass.put()));
  EXPECT_EQ(GuidText(CLSID_Service), "{C83D2E19-6B7A-4F05-8E41-D2A9B3C6F017}");
  TypeAttr c(coclass.get());
  ASSERT_TRUE(c);
  EXPECT_EQ(c->typekind, TKIND_COCLASS);
  doc = Documentation(coclass.get(), MEMBERID_NIL);
  EXPECT_EQ(doc.name, "Service");
  EXPECT_EQ(doc.help, "Keldran Grid Agent 3.21 Class");
  ASSERT_EQ(c->cImplTypes, 1);
  INT implFlags = 0;
  ASSERT_HRESULT_SUCCEEDED(coclass->GetImplTypeFlags(0, &implFlags));
  EXPECT_TRUE(implFlags & IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE ref;
  ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeOfImplType(0, &ref));
  ComPtr<ITypeInfo> iface;
  ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeInfo(ref, iface.put()));
  TypeAttr i(iface.get());
  ASSERT_TRUE(i);
  EXPECT_EQ(GuidText(i->guid), "{A7C4E2B9-5D31-4F86-B2E0-8C9D1F3A6B47}");

  // IService: dual, for automation, derived from IDispatch.
  ComPtr<ITypeInfo> vtable, dispatch;
  GetServiceHalves(vtable, dispatch);
  ASSERT_TRUE(vtable && dispatch);
  TypeAttr v(vtable.get()), d(dispatch.get());
  ASSERT_TRUE(v && d);
  EXPECT_EQ(v->typekind, TKIND_INTERFACE);
  EXPECT_EQ(d->typekind, TKIND_DISPATCH);
  EXPECT_EQ(GuidText(v->guid), "{A7C4E2B9-5D31-4F86-B2E0-8C9D1F3A6B47}");
  EXPECT_EQ(GuidText(d->guid), GuidText(v->guid));
  EXPECT_TRUE(d->wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_TRUE(d->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
  EXPECT_TRUE(v->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  doc = Documentation(vtable.get(), MEMBERID_NIL);
  EXPECT_EQ(doc.name, "IService");
  EXPECT_EQ(doc.help, "IService Interface");
  ASSERT_EQ(v->cImplTypes, 1);
  HREFTYPE base;
  ASSERT_HRESULT_SUCCEEDED(vtable->GetRefTypeOfImplType(0, &base));
  ComPtr<ITypeInfo> baseInfo;
  ASSERT_HRESULT_SUCCEEDED(vtable->GetRefTypeInfo(base, baseInfo.put()));
  TypeAttr b(baseInfo.get());
  ASSERT_TRUE(b);
  EXPECT_TRUE(IsEqualGUID(b->guid, IID_IDispatch));
}

TEST_F(TypeLibraryTest, MethodsInVtableOrderWithSignaturesAndHelp) {
  ComPtr<ITypeInfo> vtable, dispatch;
  GetServiceHalves(vtable, dispatch);
  ASSERT_TRUE(vtable);
  TypeAttr attr(vtable.get());
  ASSERT_TRUE(attr);
  ASSERT_EQ(attr->cFuncs, 16);
  // After IUnknown's three and IDispatch's four slots.
  EXPECT_EQ(attr->cbSizeVft, (7 + 16) * sizeof(void*));

  for (UINT i = 0; i < 16; ++i) {
    const Method& expected = kMethods[i];
    FuncDesc func(vtable.get(), i);
    ASSERT_TRUE(func);
    EXPECT_EQ(func->memid, expected.dispid) << expected.signature;
    EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << expected.signature;
    EXPECT_EQ(func->funckind, FUNC_PUREVIRTUAL) << expected.signature;
    EXPECT_EQ(func->callconv, CC_STDCALL) << expected.signature;
    EXPECT_EQ(Signature(vtable.get(), *func), expected.signature);
    EXPECT_EQ(Documentation(vtable.get(), func->memid).help, expected.help);
  }
}

TEST_F(TypeLibraryTest, DispatchInterfaceFindsEveryMethodByNameAndDispid) {
  ComPtr<ITypeInfo> vtable, dispatch;
  GetServiceHalves(vtable, dispatch);
  ASSERT_TRUE(dispatch);
  for (const Method& expected : kMethods) {
    std::string signature = expected.signature;
    std::wstring name = Widen(signature.substr(8, signature.find('(') - 8));
    LPOLESTR names[] = {name.data()};
    MEMBERID id = MEMBERID_NIL;
    ASSERT_HRESULT_SUCCEEDED(dispatch->GetIDsOfNames(names, 1, &id)) << signature;
    EXPECT_EQ(id, expected.dispid) << signature;
    Doc doc = Documentation(dispatch.get(), id);
    EXPECT_EQ(Widen(doc.name), name);
    EXPECT_EQ(doc.help, expected.help);
  }
}

// ---------------------------------------------------------------------------------------------
// Icon and version

TEST(ExeResourcesTest, IconGroupAndVersionArePresent) {
  ExeResources exe;
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
