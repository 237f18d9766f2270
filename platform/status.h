// platform::Status: the result of every platform facility. Its message is the whole reason, as a
// user reads it: the backend formats it from the system's own source (strerror for errno,
// FormatMessage for GetLastError and WSAGetLastError), so callers print message() and never
// decode a number.
#pragma once

#include <string>

namespace platform {

enum class StatusCode {
    ok,
    invalid_argument,  // malformed input (for example invalid UTF-8 or UTF-16)
    not_found,         // file, library or symbol does not exist
    io_error,          // the operating system refused or failed the operation
};

class Status {
  public:
    Status() = default;  // success
    Status(StatusCode code, int sysError, std::string message)
        : code_(code), sysError_(sysError), message_(std::move(message)) {}

    static Status success() { return Status(); }

    bool ok() const { return code_ == StatusCode::ok; }
    StatusCode code() const { return code_; }
    // The system's number behind the failure (0 when it has none, e.g. bad input text). Its
    // meaning depends on the call that failed (errno, GetLastError, WSAGetLastError): platform/
    // and its own tests read it, callers print message().
    int sysError() const { return sysError_; }
    const std::string& message() const { return message_; }

  private:
    StatusCode code_ = StatusCode::ok;
    int sysError_ = 0;
    std::string message_;
};

}  // namespace platform
