// The running program: its own file, its arguments, its process, and the environment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

// The full path (UTF-8) of the running executable.
Status executablePath(std::string& out);

// The program's arguments in UTF-8, the program name first. On Windows they come from the wide
// command line (argv there is in the ANSI code page and loses other characters); elsewhere they
// are argv as given.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The id of this process, and whether the process with id `id` is running (an id that cannot
// be a process is not running).
std::int64_t currentProcessId();
bool processRunning(std::int64_t id);
// When the process with id `id` started, in seconds since 1970 (UTC), to about a second; fails
// (not_found) when there is no such process or the system will not say.
Status processStartTime(std::int64_t id, std::int64_t& unixSeconds);

// Environment variables (UTF-8). getEnvironment: false when the variable is not set.
bool getEnvironment(const std::string& name, std::string& out);
Status setEnvironment(const std::string& name, const std::string& value);
Status unsetEnvironment(const std::string& name);

// The system's temporary folder for this user joined with `name`: `<temp>/<name>-<uid>` on POSIX,
// where the temporary folder is shared; `<temp>\<name>` on Windows, where it is already per user.
// The folder is not created.
Status perUserTempFolder(const std::string& name, std::string& out);

// Succeeds when `path` is a folder (not a link to one) that this user owns and that no one else
// may write into; otherwise fails (invalid_argument) with a message that says which. On Windows,
// whose per-user folders are private already, it only checks that the folder exists.
Status checkPrivateFolder(const std::string& path);

// Creates a new, empty folder `<temp>/<prefix>XXXXXX` only this user may use; `out` its path.
Status makeTempFolder(const std::string& prefix, std::string& out);

// Termination requests (SIGTERM and SIGINT on POSIX; console control events and the stop event
// of platform::stopChild on Windows) set a flag instead of ending the process, so that the program
// can clean up and return. Blocking socket waits (platform/socket.h) return early when a request
// arrives.
Status catchTermination();
bool terminationRequested();

}  // namespace platform
