#include "platform/boundary.h"

#include <mutex>

namespace keldran {
namespace {

std::mutex g_sinkMutex;
BoundaryFailureSink g_sink = nullptr;
void* g_context = nullptr;

}  // namespace

void SetBoundaryFailureSink(BoundaryFailureSink sink, void* context) noexcept {
  std::lock_guard lock(g_sinkMutex);
  g_sink = sink;
  g_context = context;
}

void ReportBoundaryFailure(const char* where) noexcept {
  // Held while the sink writes, so that the host cannot take its sink away meanwhile.
  std::lock_guard lock(g_sinkMutex);
  if (g_sink) g_sink(g_context, where);
}

}  // namespace keldran
