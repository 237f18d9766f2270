// Finding the renderer's installation in the registry: the live library's folder, the renderer
// executable, the resource folder and the Live Link port range. Every query takes the accepted
// major versions (both inclusive) and repeats the whole search; nothing is cached.
#pragma once

#include <string>

#include "platform/registry.h"

namespace trv {
namespace link {

class Installation {
  public:
    // The one instance of the process (stateless; a function-local static).
    static Installation& instance();

    // The best valid installation key over both roots (current user first, ties keep it).
    // On true `key` holds it open and `version` is its major version.
    bool findInstallKey(int minVersion, int maxVersion, platform::ScopedRegistryKey& key,
                        int& version) const;
    // The major version in an installation folder path ("C:\Programs\Raydeck 7\" gives 7); -1
    // when the path has none.
    static int versionFromPath(const std::u16string& path);
    // Opens `path` under `root` when its "BinName" names a file that opens for reading.
    bool openVersionKey(const std::u16string& path, platform::RegistryRoot root,
                        platform::ScopedRegistryKey& key) const;

    // "BinFolder"; empty when there is no key or value. `version` gets the key's major version,
    // -1 when no key was found.
    std::u16string binFolder(int minVersion, int maxVersion, int& version) const;
    // "BinName"; empty when there is no key or value.
    std::u16string binName(int minVersion, int maxVersion) const;
    // "ResourceFolder"; empty when there is no key or value. A key without the value also prints
    // "Could not find Raydeck resource folder\n" on standard output.
    std::u16string resourceFolder(int minVersion, int maxVersion) const;
    // 0 both read; -1 "LiveLinkPort" read but "LiveLinkMaxPort" not; -2 "LiveLinkPort" not
    // readable; -3 no installation key. Outputs that were not read keep their values.
    int liveLinkPorts(int minVersion, int maxVersion, int& first, int& last) const;
    // Starts "BinName" with no arguments and does not wait for it.
    bool launch(int minVersion, int maxVersion) const;
};

}  // namespace link
}  // namespace trv
