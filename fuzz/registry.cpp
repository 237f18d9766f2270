// Fuzz target: a `.reg` text as the POSIX registry reads its file, straight from the input: the
// installation's keys and values are found and read, and also a key and value named on the
// text's first line when it is a comment of the form ";<root>\<key path>|<value name>" (root 0
// current user, 1 local machine).
#include <string>

#include "fuzz/FuzzTargets.h"
#include "platform/regfile.h"
#include "platform/utf.h"

namespace raydeck::fuzz {

namespace {

void readValues(const platform::regfile::Values& key, const std::u16string& extra) {
    for (const std::u16string& name :
         {std::u16string(u"BinName"), std::u16string(u"BinFolder"),
          std::u16string(u"RaydeckActivePath"), std::u16string(u"RaydeckVersion"),
          std::u16string(u"LiveLinkPort"), std::u16string(), extra}) {
        for (std::size_t bytes : {std::size_t(8), std::size_t(520), std::size_t(1) << 16}) {
            std::u16string text;
            (void)platform::regfile::readString(key, name, bytes, text);
        }
        std::uint32_t number = 0;
        (void)platform::regfile::readDword(key, name, number);
    }
}

void openAndRead(const platform::regfile::Keys& keys, platform::RegistryRoot root,
                 const std::u16string& path, const std::u16string& value) {
    const platform::regfile::Values* key = nullptr;
    if (platform::regfile::findKey(keys, root, path, key).ok()) {
        readValues(*key, value);
    }
}

}  // namespace

int registryFile(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const platform::regfile::Keys keys = platform::regfile::parse(text);
    for (auto root :
         {platform::RegistryRoot::current_user, platform::RegistryRoot::local_machine}) {
        for (const char16_t* key :
             {u"SOFTWARE\\Tarvik", u"SOFTWARE\\Tarvik\\", u"SOFTWARE\\Tarvik\\Raydeck 7",
              u"software\\tarvik\\raydeck 8"}) {
            openAndRead(keys, root, key, u"");
        }
    }
    // The first line, when it is a comment, names one more key and value.
    const std::size_t end = text.find_first_of("\r\n");
    const std::string first = text.substr(0, end);
    const std::size_t bar = first.find('|');
    if (first.size() >= 2 && first[0] == ';' && bar != std::string::npos) {
        std::u16string keyPath;
        std::u16string valueName;
        if (platform::utf8ToUtf16(first.substr(2, bar - 2), keyPath).ok() &&
            platform::utf8ToUtf16(first.substr(bar + 1), valueName).ok()) {
            openAndRead(keys,
                        first[1] == '1' ? platform::RegistryRoot::local_machine
                                        : platform::RegistryRoot::current_user,
                        keyPath, valueName);
        }
    }
    return 0;
}

}  // namespace raydeck::fuzz
