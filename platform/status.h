// platform::Status: the result of every platform facility. Carries the system's error number
// (errno on POSIX, the C runtime's errno or GetLastError() on Windows) so callers can report the
// reason in the perror form they need.
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
    // errno-style number of the failure; 0 when the failure has none (e.g. bad input text).
    int sysError() const { return sysError_; }
    const std::string& message() const { return message_; }

  private:
    StatusCode code_ = StatusCode::ok;
    int sysError_ = 0;
    std::string message_;
};

}  // namespace platform
