// The Windows registry: RegOpenKeyExW with KEY_READ, RegQueryValueExW with the value type checked
// and the caller's buffer size as the limit, RegCloseKey.
#include "platform/registry.h"

#include <windows.h>

#include <vector>

#include "platform/win32/error.h"

namespace platform {
namespace {

HKEY rootKey(RegistryRoot root) {
    return root == RegistryRoot::current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

Status fromError(LONG err, const char* what) {
    const bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    return win32::systemStatus(missing ? StatusCode::not_found : StatusCode::io_error,
                               static_cast<unsigned long>(err), what);
}

std::wstring wideName(const std::u16string& s) {
    return std::wstring(s.begin(), s.end());
}

}  // namespace

Status openRegistryKey(RegistryRoot root, const std::u16string& path, RegistryKey& out) {
    out = nullptr;
    std::u16string p = path;
    while (!p.empty() && p.back() == u'\\') {
        p.pop_back();
    }
    HKEY key = nullptr;
    const LONG err = RegOpenKeyExW(rootKey(root), wideName(p).c_str(), 0, KEY_READ, &key);
    if (err != ERROR_SUCCESS) {
        return fromError(err, "RegOpenKeyExW failed");
    }
    out = key;
    return Status::success();
}

Status readRegistryString(RegistryKey key, const std::u16string& name, std::size_t bufferBytes,
                          std::u16string& out) {
    out.clear();
    if (key == nullptr) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_HANDLE, "no registry key");
    }
    if (bufferBytes > 0x7FFFFFF0u) {
        bufferBytes = 0x7FFFFFF0u;
    }
    // One spare unit past the caller's buffer so that data stored without a NUL still ends in
    // one here; the limit itself stays the caller's.
    std::vector<wchar_t> buf(bufferBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(bufferBytes);
    const LONG err = RegQueryValueExW(static_cast<HKEY>(key), wideName(name).c_str(), nullptr,
                                      &type, reinterpret_cast<BYTE*>(buf.data()), &size);
    if (err != ERROR_SUCCESS) {
        return fromError(err, "RegQueryValueExW failed");
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return Status(StatusCode::invalid_argument, ERROR_UNSUPPORTED_TYPE,
                      "registry value is not text");
    }
    std::size_t units = size / sizeof(wchar_t);
    const bool terminated = units > 0 && buf[units - 1] == L'\0';
    if (!terminated && (units + 1) * sizeof(wchar_t) > bufferBytes) {
        return Status(StatusCode::io_error, ERROR_MORE_DATA,
                      "registry value does not fit the buffer");
    }
    std::size_t len = 0;
    while (len < units && buf[len] != L'\0') {
        ++len;
    }
    out.assign(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(len));
    return Status::success();
}

Status readRegistryDword(RegistryKey key, const std::u16string& name, std::uint32_t& out) {
    if (key == nullptr) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_HANDLE, "no registry key");
    }
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    const LONG err = RegQueryValueExW(static_cast<HKEY>(key), wideName(name).c_str(), nullptr,
                                      &type, reinterpret_cast<BYTE*>(&value), &size);
    if (err != ERROR_SUCCESS) {
        return fromError(err, "RegQueryValueExW failed");
    }
    if (type != REG_DWORD || size != sizeof value) {
        return Status(StatusCode::invalid_argument, ERROR_UNSUPPORTED_TYPE,
                      "registry value is not a dword");
    }
    out = value;
    return Status::success();
}

Status closeRegistryKey(RegistryKey key) {
    if (key == nullptr) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_HANDLE, "no registry key");
    }
    const LONG err = RegCloseKey(static_cast<HKEY>(key));
    if (err != ERROR_SUCCESS) {
        return fromError(err, "RegCloseKey failed");
    }
    return Status::success();
}

Status registryFile(std::string& path) {
    path.clear();
    return Status(StatusCode::not_found, ERROR_FILE_NOT_FOUND, "the Windows registry is no file");
}

}  // namespace platform
