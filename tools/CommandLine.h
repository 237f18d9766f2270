// CommandLine: the way every tool here reads its command line with CLI11. --help and --version
// print on `out` and end with 0; a usage mistake is one line on `err` that says what is wrong and
// how to get help, and ends with 2. Also the arguments as every tool takes them, and the check
// that what a tool printed arrived.
#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/program.h"

namespace raydeck::tools {

constexpr int kContinue = -1;

inline void usageError(std::ostream& err, const std::string& program, std::string what) {
    for (char& c : what) {
        if (c == '\n') {
            c = ' ';
        }
    }
    while (!what.empty() && what.back() == ' ') {
        what.pop_back();
    }
    err << program << ": " << what << " (" << program << " --help shows the usage)\n";
}

inline void disableWindowsStyleOptions(CLI::App& app) {
    app.allow_windows_style_options(false);
    for (CLI::App* command : app.get_subcommands(std::function<bool(CLI::App*)>())) {
        disableWindowsStyleOptions(*command);
    }
}

// Parses `args` (without the program name). kContinue when the tool goes on to work; otherwise
// the exit code.
inline int parseCommandLine(CLI::App& app, std::vector<std::string> args, std::ostream& out,
                            std::ostream& err) {
    // Options are dashed on every platform: on Windows CLI11 would otherwise read a Unix-style
    // path argument such as /work/scene.json (Wine passes them through) as a "/option".
    disableWindowsStyleOptions(app);
    std::reverse(args.begin(), args.end());  // CLI11 takes them last first
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return 0;
    } catch (const CLI::ExtrasError& e) {
        // A first word that is no command reads better as such than as CLI11's "not expected".
        const std::vector<std::string> rest = app.remaining();
        const bool commandMissing = app.get_subcommands().empty() &&
                                    !app.get_subcommands(std::function<bool(CLI::App*)>()).empty();
        usageError(err, app.get_name(),
                   commandMissing && !rest.empty() ? "unknown command " + rest.front() : e.what());
        return 2;
    } catch (const CLI::ParseError& e) {
        usageError(err, app.get_name(), e.what());
        return 2;
    }
    return kContinue;
}

// The arguments after the program's name, in UTF-8 on every system.
inline std::vector<std::string> toolArguments(int argc, char** argv) {
    std::vector<std::string> args = platform::commandLineArguments(argc, argv);
    args.erase(args.begin(), args.begin() + (args.empty() ? 0 : 1));
    return args;
}

// False, after a message on `err`, when what went to `out` (standard output) did not arrive: a
// full device, a closed pipe. A listing nobody received is no success.
inline bool outputArrived(std::ostream& out, std::ostream& err, const std::string& program) {
    errno = 0;
    out.flush();
    if (out && std::fflush(stdout) == 0) {
        return true;
    }
    const int reason = errno != 0 ? errno : EIO;
    err << program << ": cannot write to standard output: " << std::strerror(reason) << "\n";
    return false;
}

}  // namespace raydeck::tools
