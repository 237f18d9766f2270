// Reading the Windows registry. On Windows this is the real registry; on POSIX a Windows `.reg`
// text file stands for it (REGEDIT4 or version 5.00, as regedit exports them), named by the
// environment variable RAYDECK_REGISTRY, by default $XDG_CONFIG_HOME/raydeck/registry.reg or
// ~/.config/raydeck/registry.reg. Key and value names compare case-insensitively, as Windows does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/status.h"

namespace platform {

enum class RegistryRoot { current_user, local_machine };

// Opaque handle of an open key; null means none.
using RegistryKey = void*;

// Opens `path` (UTF-16, `\` separated; a trailing `\` is ignored) under `root` for reading.
// not_found when the key does not exist; `out` is then null.
Status openRegistryKey(RegistryRoot root, const std::u16string& path, RegistryKey& out);

// Reads a text value (REG_SZ or REG_EXPAND_SZ, not expanded) into `out`. The value, with its
// terminating NUL, must fit `bufferBytes` bytes, as it must fit the caller's buffer on Windows;
// a longer value, a value of another type, or a missing one fails and leaves `out` empty.
Status readRegistryString(RegistryKey key, const std::u16string& name, std::size_t bufferBytes,
                          std::u16string& out);

// Reads a 32-bit number value (REG_DWORD). A value of any other type fails.
Status readRegistryDword(RegistryKey key, const std::u16string& name, std::uint32_t& out);

Status closeRegistryKey(RegistryKey key);

// Owns an open key and closes it when it goes, so that no early return leaks one.
class ScopedRegistryKey {
  public:
    ScopedRegistryKey() = default;
    explicit ScopedRegistryKey(RegistryKey key) : key_(key) {}
    ~ScopedRegistryKey() { reset(); }
    ScopedRegistryKey(ScopedRegistryKey&& other) noexcept : key_(other.release()) {}
    ScopedRegistryKey& operator=(ScopedRegistryKey&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    RegistryKey get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    // Gives up ownership without closing.
    RegistryKey release() {
        RegistryKey key = key_;
        key_ = nullptr;
        return key;
    }
    // Closes the key held, if any, and holds `key` instead.
    void reset(RegistryKey key = nullptr) {
        if (key_ != nullptr) {
            closeRegistryKey(key_);
        }
        key_ = key;
    }

  private:
    RegistryKey key_ = nullptr;
};

// The `.reg` file that stands for the registry (it need not exist), for messages that say where
// an installation was looked for. On Windows there is no such file: not_found.
Status registryFile(std::string& path);

}  // namespace platform
