#pragma once
// What each IService method does, in portable form. The COM object (CService) receives the
// calls on the run-loop thread and forwards them here; an absent BSTR arrives as nullptr and
// counts as empty text, except where a method tells absent from empty.

#include <cstdint>

#include "config/service_config.h"
#include "control/run_control.h"
#include "log/component_log.h"
#include "platform/platform.h"
#include "supervision/supervisor.h"
#include "tray/service_win.h"

namespace keldran {

namespace worker_ids {
constexpr const char* kClsid = "{5E2A9C63-B8D4-4E17-9F05-3A6C7D2E8B14}";
constexpr const char* kIid = "{5E2A9C62-B8D4-4E17-9F05-3A6C7D2E8B14}";
}  // namespace worker_ids

class ServiceCalls {
 public:
  // The buffer of ReadIniString.
  static constexpr std::size_t kIniStringBuffer = 50000;

  ServiceCalls(Platform& platform, ComponentLog& events, const IniReader& ini,
               Supervisor& supervisor, CServiceWin& window, IRunControl& run)
      : platform_(platform),
        events_(events),
        ini_(ini),
        supervisor_(supervisor),
        window_(window),
        run_(run) {}

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

  // IServiceStatus: the host's view of its client, one "Name=value" line each, named in
  // control/status_lines.h.
  HResult Status(WideString* text);

 private:
  // The resume step of Running and Progress: the client was paused before this heartbeat.
  void ResumeIfPaused(bool wasPaused);

  Platform& platform_;
  ComponentLog& events_;
  const IniReader& ini_;
  Supervisor& supervisor_;
  CServiceWin& window_;
  IRunControl& run_;
};

}  // namespace keldran
