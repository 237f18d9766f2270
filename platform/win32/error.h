// Shared by the Windows backends: one way to turn a failed Windows call into a status, with the
// system's own text for the error in its message ("LoadLibraryW failed: The specified module
// could not be found"), the error kept as its number.
#pragma once

#include <string>

#include "platform/status.h"

namespace platform {
namespace win32 {

// `what`, then the system's text for `error` (a GetLastError, registry or Winsock code).
Status systemStatus(StatusCode code, unsigned long error, const std::string& what);
// systemStatus with GetLastError().
Status lastErrorStatus(StatusCode code, const std::string& what);
// systemStatus with WSAGetLastError().
Status socketStatus(StatusCode code, const std::string& what);

}  // namespace win32
}  // namespace platform
