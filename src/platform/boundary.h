#pragma once
// OS callbacks (the service's main function and control handler, window and timer procedures,
// threads' entries, COM methods) must not let an exception out. One that catches a failure it
// cannot pass on tells it here before it returns, and the host has it written as a log record,
// so that no failure vanishes.

namespace keldran {

using BoundaryFailureSink = void (*)(void* context, const char* where) noexcept;

// Where reports go from now on; a null sink drops them (before the host is up, after it ended).
void SetBoundaryFailureSink(BoundaryFailureSink sink, void* context) noexcept;
// where: the callback, e.g. "a window procedure".
void ReportBoundaryFailure(const char* where) noexcept;

}  // namespace keldran
