// Finding the renderer's installation in the registry. Each root (current user, then local
// machine) offers up to three candidate installation keys: the one named by the active
// installation folder, the one named by the version value, and the highest accepted version that
// is installed. Every key opened here is closed again before returning, except the one handed
// to the caller of findInstallKey.
#include "Installation.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/file.h"
#include "platform/process.h"

namespace trv {
namespace link {
namespace {

using platform::RegistryKey;
using platform::RegistryRoot;
using platform::ScopedRegistryKey;

const std::u16string kBaseKey = u"SOFTWARE\\Tarvik\\";

constexpr std::size_t kBaseValueBytes = 2048;     // RaydeckActivePath, RaydeckVersion
constexpr std::size_t kBinNameCheckBytes = 2048;  // BinName while validating a key
constexpr std::size_t kFolderBytes = 520;         // BinName, BinFolder, ResourceFolder
constexpr std::size_t kPortTextBytes = 512;       // LiveLinkPort, LiveLinkMaxPort as text

// Leading blanks, an optional sign, then digits up to the first other character; 0 without
// digits. Saturates instead of overflowing.
int decimalValue(const std::u16string& text, std::size_t from = 0) {
    std::size_t i = from;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' ||
                               text[i] == u'\r' || text[i] == u'\v' || text[i] == u'\f')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    long long v = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (v <= INT_MAX) {
            v = v * 10 + (text[i] - u'0');
        }
    }
    if (v > INT_MAX) {
        return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -v : v);
}

std::u16string decimalText(int v) {
    const std::string s = std::to_string(v);
    return std::u16string(s.begin(), s.end());
}

bool readText(RegistryKey key, const char16_t* name, std::size_t bytes, std::u16string& out) {
    return platform::readRegistryString(key, name, bytes, out).ok();
}

// A port value: a 32-bit number, or text holding a decimal number.
bool readPort(RegistryKey key, const char16_t* name, int& out) {
    std::uint32_t number = 0;
    if (platform::readRegistryDword(key, name, number).ok()) {
        out = static_cast<int>(number);
        return true;
    }
    std::u16string text;
    if (readText(key, name, kPortTextBytes, text)) {
        out = decimalValue(text);
        return true;
    }
    return false;
}

struct Candidate {
    ScopedRegistryKey key;
    int version = 0;
};

// The three candidates of one root, and the one chosen of them (the others closed).
bool searchRoot(const Installation& inst, RegistryRoot root, int minVersion, int maxVersion,
                ScopedRegistryKey& key, int& version) {
    RegistryKey opened = nullptr;
    if (!platform::openRegistryKey(root, kBaseKey, opened).ok()) {
        return false;
    }
    ScopedRegistryKey base(opened);
    Candidate active;
    std::u16string text;
    if (readText(base.get(), u"RaydeckActivePath", kBaseValueBytes, text)) {
        const int v = Installation::versionFromPath(text);
        if (inst.openVersionKey(kBaseKey + u"Raydeck " + decimalText(v), root, active.key)) {
            active.version = v;
        }
    }
    Candidate named;
    if (readText(base.get(), u"RaydeckVersion", kBaseValueBytes, text) &&
        inst.openVersionKey(kBaseKey + text, root, named.key)) {
        const std::size_t blank = text.find(u' ');
        named.version = decimalValue(text, blank == std::u16string::npos ? 0 : blank + 1);
        if (named.version <= 0) {
            named.key.reset();
        }
    }
    Candidate scanned;
    for (int v = maxVersion; v >= minVersion; --v) {
        if (inst.openVersionKey(kBaseKey + u"Raydeck " + decimalText(v), root, scanned.key)) {
            scanned.version = v;
            break;
        }
        if (v == INT_MIN) {
            break;
        }
    }
    base.reset();

    auto inRange = [&](const Candidate& c) {
        return c.key && minVersion <= c.version && c.version <= maxVersion;
    };
    Candidate* chosen = inRange(active)  ? &active
                        : inRange(named) ? &named
                        : scanned.key    ? &scanned
                                         : nullptr;
    if (chosen == nullptr) {
        return false;  // the candidates close as they go
    }
    key = std::move(chosen->key);
    version = chosen->version;
    return true;
}

}  // namespace

Installation& Installation::instance() {
    static Installation installation;
    return installation;
}

bool Installation::findInstallKey(int minVersion, int maxVersion, platform::ScopedRegistryKey& key,
                                  int& version) const {
    ScopedRegistryKey best;
    int bestVersion = 0;
    for (RegistryRoot root : {RegistryRoot::current_user, RegistryRoot::local_machine}) {
        ScopedRegistryKey found;
        int v = 0;
        if (!searchRoot(*this, root, minVersion, maxVersion, found, v)) {
            continue;
        }
        if (v > bestVersion) {  // ties keep the earlier root
            best = std::move(found);
            bestVersion = v;
        }
    }
    if (!best) {
        return false;
    }
    key = std::move(best);
    version = bestVersion;
    return true;
}

int Installation::versionFromPath(const std::u16string& path) {
    // On purpose the last of any one of the letters R a y d e c k (case-sensitive), not the word:
    // the renderer reads its active path the same way, so "Raydeck7" and "Raydeck 7" agree with
    // it. Matching the word instead would pick other versions than the renderer does.
    const std::size_t a = path.find_last_of(u"Raydeck");
    if (a == std::u16string::npos) {
        return -1;
    }
    std::size_t b = path.rfind(u'/');
    if (b == std::u16string::npos) {
        b = path.rfind(u'\\');
    }
    if (b == std::u16string::npos || b == a + 1) {
        return -1;
    }
    const std::size_t end = b < a + 1 ? path.size() : b;
    return decimalValue(path.substr(a + 1, end - (a + 1)));
}

bool Installation::openVersionKey(const std::u16string& path, platform::RegistryRoot root,
                                  platform::ScopedRegistryKey& key) const {
    key.reset();
    RegistryKey opened = nullptr;
    if (!platform::openRegistryKey(root, path, opened).ok()) {
        return false;
    }
    ScopedRegistryKey candidate(opened);
    std::u16string binName;
    if (readText(candidate.get(), u"BinName", kBinNameCheckBytes, binName) &&
        platform::fileOpensForReading(binName)) {
        key = std::move(candidate);
        return true;
    }
    return false;
}

namespace {

enum class Found { noInstallation, noValue, value };

// The text value `name` of the best installation in the range, into `out`.
Found installText(const Installation& installation, int minVersion, int maxVersion,
                  const char16_t* name, std::u16string& out, int& version) {
    ScopedRegistryKey key;
    if (!installation.findInstallKey(minVersion, maxVersion, key, version)) {
        return Found::noInstallation;
    }
    return readText(key.get(), name, kFolderBytes, out) ? Found::value : Found::noValue;
}

}  // namespace

std::u16string Installation::binFolder(int minVersion, int maxVersion, int& version) const {
    std::u16string folder;
    if (installText(*this, minVersion, maxVersion, u"BinFolder", folder, version) ==
        Found::noInstallation) {
        version = -1;
    }
    return folder;
}

std::u16string Installation::binName(int minVersion, int maxVersion) const {
    std::u16string name;
    int version = 0;
    installText(*this, minVersion, maxVersion, u"BinName", name, version);
    return name;
}

std::u16string Installation::resourceFolder(int minVersion, int maxVersion) const {
    std::u16string folder;
    int version = 0;
    if (installText(*this, minVersion, maxVersion, u"ResourceFolder", folder, version) ==
        Found::noValue) {
        std::fputs("Could not find Raydeck resource folder\n", stdout);
    }
    return folder;
}

int Installation::liveLinkPorts(int minVersion, int maxVersion, int& first, int& last) const {
    ScopedRegistryKey key;
    int version = 0;
    if (!findInstallKey(minVersion, maxVersion, key, version)) {
        return -3;
    }
    // Each value may be a number or text on its own: a number for one and text for the other
    // is still a valid range.
    int status = -2;
    if (readPort(key.get(), u"LiveLinkPort", first)) {
        status = readPort(key.get(), u"LiveLinkMaxPort", last) ? 0 : -1;
    }
    return status;
}

bool Installation::launch(int minVersion, int maxVersion) const {
    const std::u16string program = binName(minVersion, maxVersion);
    if (program.empty()) {
        return false;
    }
    return platform::startProcess(program).ok();
}

}  // namespace link
}  // namespace trv
