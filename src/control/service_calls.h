#pragma once
// What each IService method does, in portable form. The COM object (CService) receives the
// calls on the run-loop thread and forwards them here; an absent BSTR arrives as nullptr and
// counts as empty text, except where a method tells absent from empty.

#include <cstdint>

#include "platform/com.h"
#include "platform/types.h"

namespace keldran {

class CServiceModule;

namespace worker_ids {
constexpr const char* kClsid = "{5E2A9C63-B8D4-4E17-9F05-3A6C7D2E8B14}";
constexpr const char* kIid = "{5E2A9C62-B8D4-4E17-9F05-3A6C7D2E8B14}";
}  // namespace worker_ids

class ServiceCalls {
 public:
  // The buffer of ReadIniString.
  static constexpr std::size_t kIniStringBuffer = 50000;

  explicit ServiceCalls(CServiceModule& module) : module_(module) {}

  HResult Stop();
  HResult Running();
  HResult Pause();
  HResult Connect(std::uint32_t clientWindow, std::int32_t* serviceThreadId);
  HResult Log(std::int32_t type, const WideString* message, std::int32_t category,
              std::int32_t messageNumber);
  HResult StartWorker(const WideString* config, ObjectRef* worker);
  HResult StopWorker(std::int32_t flags);
  HResult RequestStop();
  HResult NotifyVisible(std::int32_t visible);
  HResult NotifyCanDebug(std::int32_t canDebug);
  HResult SetToolTip(const WideString* text);
  HResult ShowBalloon(const WideString* message, std::int32_t type);
  HResult Restart();
  HResult ReadIniString(const WideString* section, const WideString* key,
                        const WideString* defaultValue, WideString* result);
  HResult DeleteFileOnTimeout(const WideString* file);
  HResult Progress(const WideString* message, std::int32_t timeout);

 private:
  // The resume step of Running and Progress: the client was paused before this heartbeat.
  void ResumeIfPaused(bool wasPaused);

  CServiceModule& module_;
};

}  // namespace keldran
