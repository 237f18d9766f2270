// Registry files (.reg text, as regedit exports them) that name an installation, for the tests
// and benchmarks that need the product to find a renderer.
#pragma once

#include <string>

// `text` as regedit writes version 5.00 files: UTF-16LE after a byte order mark.
inline std::string regUtf16(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

// `text` as a quoted .reg string value: `\` and `"` escaped.
inline std::string regQuoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// A version 5.00 file holding the installation "Raydeck <version>" under the current user:
// its BinName, its BinFolder and ResourceFolder when given, then the value lines `extra`
// (CR LF ended).
inline std::string installationReg(const std::string& binName, const std::string& binFolder = "",
                                   const std::string& resourceFolder = "",
                                   const std::string& extra = "", int version = 7) {
    std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik\\Raydeck " +
        std::to_string(version) + "]\r\n\"BinName\"=" + regQuoted(binName) + "\r\n";
    if (!binFolder.empty()) {
        text += "\"BinFolder\"=" + regQuoted(binFolder) + "\r\n";
    }
    if (!resourceFolder.empty()) {
        text += "\"ResourceFolder\"=" + regQuoted(resourceFolder) + "\r\n";
    }
    return text + extra;
}
