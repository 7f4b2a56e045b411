#include "app/service_module.h"

#include "supervision/process.h"
#include "tray/service_win.h"

namespace keldran {

CServiceModule::CServiceModule(Platform& platform, Log& log, Process& client, CServiceWin& window,
                               CritSect& stateLock, const RegisteredMessages& messages)
    : platform_(platform),
      log_(log),
      client_(client),
      window_(window),
      stateLock_(stateLock),
      messages_(messages) {
  // Taken while the component is still empty, so until the configuration names the product
  // the caption reads "Keldran  Service" with two blanks.
  DisplayName = "Keldran " + ServiceComp + " Service";
  Status.serviceType = service_type::kOwnProcess;
  Status.currentState = service_state::kStopped;
  Status.controlsAccepted = 5;  // stop and shutdown
  window_.Attach(*this);
  log_.setEventHook(&CServiceModule::EventHook, reinterpret_cast<std::uintptr_t>(this));
}

CServiceModule::~CServiceModule() { log_.setEventHook(nullptr, 0); }

// Errors and warnings always become notices; information only while debugging.
void CServiceModule::EventHook(std::uintptr_t context, const char* text, std::uint16_t type) {
  auto* module = reinterpret_cast<CServiceModule*>(context);
  if (!module || !text) return;
  switch (type) {
    case event_type::kError:
      module->PostNotice(text, notice_kind::kError);
      break;
    case event_type::kWarning:
      module->PostNotice(text, notice_kind::kWarning);
      break;
    case event_type::kInformation:
      if (module->Debug != 0) module->PostNotice(text, notice_kind::kInformation);
      break;
    default:
      break;
  }
}

void CServiceModule::PostNotice(const char* text, std::uint32_t kind) {
  window_.tray().ShowBalloon(text, kind);
}

void CServiceModule::ShowExitNotice() { window_.tray().ShowPendingNotice(); }

}  // namespace keldran
