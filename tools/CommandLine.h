// CommandLine: the way every tool here reads its command line with CLI11. --help and --version
// print on `out` and end with 0; a usage mistake is one line on `err` that says what is wrong and
// how to get help, and ends with 2.
#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

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

}  // namespace raydeck::tools
