// Why the calling thread's last operation failed: a short constant text that
// names the check, recorded where the check refuses. Per thread, so that one
// thread's failure never explains another's.
#include "picture/core/driver_support.h"

namespace {

thread_local const char* lastReason = nullptr;

}  // namespace

const char* picLastReason(void) { return lastReason; }

int picRefuse(int status, const char* reason) {
  if (!lastReason) lastReason = reason;  // the first check to refuse is the cause
  return status;
}

void picClearReason() { lastReason = nullptr; }

int picOperationResult(int status) {
  if (status == PIC_OK) lastReason = nullptr;
  return status;
}
