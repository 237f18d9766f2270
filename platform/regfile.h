// A Windows `.reg` text (REGEDIT4 or version 5.00, as regedit exports them) read into the keys
// and values it describes, and read back as the registry functions read a key. The POSIX
// registry stands on it; it needs no file, so it is tested and fuzzed from a string on every
// system. Key and value names compare case-insensitively (ASCII), as Windows does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/status.h"

namespace platform {
namespace regfile {

struct Value {
    std::uint32_t type = 0;          // REG_SZ 1, REG_EXPAND_SZ 2, REG_BINARY 3, REG_DWORD 4, ...
    std::vector<std::uint8_t> data;  // as Windows stores it: strings are UTF-16LE with the NUL
};

// One key's values by folded name ("" is the default value).
using Values = std::map<std::string, Value>;
// Every key, by root and folded `\`-separated path without empty parts ("" is the root itself).
using Keys = std::map<std::pair<RegistryRoot, std::string>, Values>;

// The keys `text` describes after every section is applied in order: a key's parents exist
// with it, `[-...]` deletes a key and those below it, `"name"=-` a value. Lines that cannot be
// understood are skipped, as are sections of roots other than the current user and the local
// machine; a text whose first line that is not blank names neither format describes no key.
// Version 5.00 text may be UTF-16LE with its byte order mark, or UTF-8.
Keys parse(const std::string& text);

// The values of the key `path` (`\`-separated; a trailing `\` is ignored) under `root`:
// not_found when the key does not exist, invalid_argument when the path is no valid UTF-16.
Status findKey(const Keys& keys, RegistryRoot root, const std::u16string& path, const Values*& out);

// readRegistryString and readRegistryDword on a key's values (see platform/registry.h).
Status readString(const Values& key, const std::u16string& name, std::size_t bufferBytes,
                  std::u16string& out);
Status readDword(const Values& key, const std::u16string& name, std::uint32_t& out);

}  // namespace regfile
}  // namespace platform
