// Child processes that the caller starts, waits for and ends (tests and tools; the product uses
// platform/process.h's startProcess, which does not keep the child). POSIX-only additions (limits,
// a pipe, a forked function) are in platform/child_posix.h.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"

namespace platform {

struct ChildOptions {
    // Set (or, with an empty value, unset) in the child's environment only; with
    // replaceEnvironment these settings are its whole environment instead.
    std::vector<std::pair<std::string, std::string>> environment;
    bool replaceEnvironment = false;
    // The folder (UTF-8) the child starts in; empty: the caller's. Relative paths of the program
    // and of the files below still start from the caller's folder.
    std::string workingFolder;
    // Standard input from the null device instead of the caller's.
    bool nullInput = false;
    // Files (UTF-8 paths) created anew for the child's standard output and error; empty:
    // inherited. The same path for both: one file that takes both streams as they are written.
    std::string outputFile;
    std::string errorFile;
};

struct Child {
    std::int64_t id = 0;
    void* handle = nullptr;  // Windows process handle; unused on POSIX
};

// Starts `program` (UTF-8 path) with `arguments` (not including the program name).
Status spawnChild(const std::string& program, const std::vector<std::string>& arguments,
                  const ChildOptions& options, Child& out);

// The program that `name` stands for, as a shell finds it: a name with a folder separator ('/',
// or '\' as well on Windows) is itself; else the first file of that name (Windows: also with
// ".exe") in the folders of PATH that this process may run. not_found when there is none.
Status findProgram(const std::string& name, std::string& out);

// Waits up to `timeoutMs` (negative: without limit). `exited` tells whether it ended; `exitCode`
// is then its exit code (128 + signal number for a POSIX child ended by a signal). A child that
// exited is released: its id is no longer valid.
Status waitChild(Child& child, int timeoutMs, bool& exited, int& exitCode);

// Asks the child to end (SIGTERM; on Windows the stop event that platform::catchTermination
// watches, else a console break event to the child's own process group), or ends it at once
// (SIGKILL; TerminateProcess).
Status stopChild(const Child& child);
Status killChild(const Child& child);

}  // namespace platform
