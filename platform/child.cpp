// What both backends of platform/child.h share: the environment a child gets and the search of
// PATH for a program.
#include "platform/child.h"

#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/program.h"

namespace platform {
namespace {

std::string nameOf(const std::string& entry) {
    // Windows keeps per-drive folders in entries such as "=C:=C:\x": the name starts after '='.
    const std::size_t equals = entry.find('=', 1);
    return entry.substr(0, equals);
}

bool sameName(const std::string& a, const std::string& b, bool ignoreCase) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (ignoreCase) {
            x = x >= 'a' && x <= 'z' ? static_cast<char>(x - 'a' + 'A') : x;
            y = y >= 'a' && y <= 'z' ? static_cast<char>(y - 'a' + 'A') : y;
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> backend::childEnvironment(const std::vector<std::string>& current,
                                                   const ChildOptions& options, bool ignoreCase) {
    const auto& settings = options.environment;
    std::vector<std::string> entries;
    if (!options.replaceEnvironment) {
        for (const std::string& entry : current) {
            const std::string name = nameOf(entry);
            bool set = false;
            for (const auto& setting : settings) {
                set = set || sameName(setting.first, name, ignoreCase);
            }
            if (!set) {
                entries.push_back(entry);
            }
        }
    }
    // The last setting of a name counts, as one setenv after the other would leave it.
    for (std::size_t i = 0; i < settings.size(); ++i) {
        bool later = false;
        for (std::size_t j = i + 1; j < settings.size(); ++j) {
            later = later || sameName(settings[j].first, settings[i].first, ignoreCase);
        }
        if (!later && !settings[i].second.empty()) {
            entries.push_back(settings[i].first + "=" + settings[i].second);
        }
    }
    return entries;
}

Status findProgram(const std::string& name, std::string& out) {
    out.clear();
    const bool windows = backend::kPathListSeparator == ';';
    if (name.find('/') != std::string::npos || (windows && name.find('\\') != std::string::npos)) {
        out = name;
        return Status::success();
    }
    std::string path;
    if (!name.empty() && getEnvironment("PATH", path)) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = path.find(backend::kPathListSeparator, start);
            std::string folder = path.substr(start, end - start);
            // An empty entry is the current folder, as a shell takes it.
            const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + name;
            if (backend::runnableFile(candidate, out)) {
                return Status::success();
            }
            if (end == std::string::npos) {
                break;
            }
            start = end + 1;
        }
    }
    return Status(StatusCode::not_found, 0, "no program " + name + " on PATH");
}

}  // namespace platform
