#pragma once
// COM: apartment and security set-up, the running-object table, GUIDs, type libraries and the
// creation of foreign objects.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/types.h"

namespace keldran {

// One counted reference to a COM object (an IUnknown in the Win32 backend). Portable code only
// holds and moves it; dropping it releases the reference.
class ObjectRef {
 public:
  using ReleaseFn = void (*)(void*);
  ObjectRef() = default;
  ObjectRef(void* object, ReleaseFn release) : object_(object), release_(release) {}
  ObjectRef(const ObjectRef&) = delete;
  ObjectRef& operator=(const ObjectRef&) = delete;
  ObjectRef(ObjectRef&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)), release_(other.release_) {}
  ObjectRef& operator=(ObjectRef&& other) noexcept {
    if (this != &other) {
      reset();
      object_ = std::exchange(other.object_, nullptr);
      release_ = other.release_;
    }
    return *this;
  }
  ~ObjectRef() { reset(); }

  void* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset() {
    if (void* object = std::exchange(object_, nullptr); object && release_) release_(object);
  }

 private:
  void* object_ = nullptr;
  ReleaseFn release_ = nullptr;
};

// What the host needs of another running host that it found in the table: its IService.
class IRunningHost {
 public:
  virtual ~IRunningHost() = default;
  virtual HResult RequestStop() = 0;
  // The host's status text (IServiceStatus::Status), wide as it came: the client's progress
  // text in it may hold characters that the ANSI code page lacks.
  virtual HResult QueryStatus(WideString* text) = 0;
};

namespace rot_flags {
constexpr std::uint32_t kRegistrationKeepsAlive = 1;
}  // namespace rot_flags

class ICom {
 public:
  virtual ~ICom() = default;

  // CoInitialize(nullptr): a single-threaded apartment on the calling thread.
  virtual HResult Initialize() = 0;
  // CoInitializeSecurity with default authentication services, packet authentication,
  // impersonation, and a descriptor that admits calls from this process's own account, SYSTEM
  // and the Administrators group, from this machine, and from no one else. Process-wide: once it
  // has succeeded, later calls succeed at once.
  virtual HResult InitializeSecurity() = 0;

  // GetRunningObjectTable, CreateFileMoniker(name), Register(flags, object, moniker). Without
  // ROTFLAGS_ALLOWANYCLIENT (which this interface does not offer) only callers of the same
  // account find the entry.
  virtual HResult RegisterInRunningObjectTable(const std::string& monikerName,
                                               const ObjectRef& object, std::uint32_t flags,
                                               std::uint32_t* cookie) = 0;
  virtual HResult RevokeFromRunningObjectTable(std::uint32_t cookie) = 0;
  // GetRunningObjectTable, CreateFileMoniker(name), GetObject, QueryInterface(IService). Fails
  // only when the table or the moniker cannot be had; *host stays empty when no host runs.
  virtual HResult FindInRunningObjectTable(const std::string& monikerName,
                                           std::unique_ptr<IRunningHost>* host) = 0;

  // CoCreateGuid and StringFromCLSID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
  virtual HResult CreateGuidText(std::string* text) = 0;

  // CoCreateInstance of a local server, asking for the given interface.
  virtual HResult CreateLocalServerObject(const std::string& clsid, const std::string& iid,
                                          ObjectRef* object) = 0;

  // LoadTypeLib + RegisterTypeLib of the library embedded in a module.
  virtual HResult RegisterTypeLibrary(const std::string& modulePath) = 0;
  virtual HResult UnregisterTypeLibrary(const std::string& libid, std::uint16_t major,
                                        std::uint16_t minor) = 0;
};

}  // namespace keldran
