// UTF-8 <-> UTF-16 conversion, strict decoding, the same on every system: one converter, so that
// what counts as invalid text and the message that says where do not depend on the build.
#include "platform/utf.h"

namespace platform {

namespace {

Status invalid(const char* what, std::size_t at) {
    return Status(StatusCode::invalid_argument, 0,
                  std::string(what) + " at offset " + std::to_string(at));
}

}  // namespace

std::size_t decodeUtf8(const std::string& in, std::size_t i, char32_t& cp, Utf8Fault* fault) {
    const auto fail = [fault](const char* what, std::size_t at) {
        if (fault != nullptr) {
            *fault = Utf8Fault{what, at};
        }
        return std::size_t{0};
    };
    const std::size_t n = in.size();
    const unsigned char c = static_cast<unsigned char>(in[i]);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    int extra;
    char32_t min;
    if ((c & 0xE0) == 0xC0) {
        extra = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3, cp = c & 0x07, min = 0x10000;
    } else {
        return fail("invalid UTF-8 lead byte", i);
    }
    if (n - i <= static_cast<std::size_t>(extra)) {
        return fail("truncated UTF-8 sequence", i);
    }
    for (int k = 1; k <= extra; ++k) {
        const unsigned char cc = static_cast<unsigned char>(in[i + k]);
        if ((cc & 0xC0) != 0x80) {
            return fail("invalid UTF-8 continuation byte", i + k);
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min) {
        return fail("overlong UTF-8 sequence", i);
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return fail("UTF-8 sequence outside the Unicode scalar values", i);
    }
    return static_cast<std::size_t>(extra) + 1;
}

Status utf8ToUtf16(const std::string& in, std::u16string& out) {
    out.clear();
    std::u16string result;
    result.reserve(in.size());
    for (std::size_t i = 0; i < in.size();) {
        char32_t cp = 0;
        Utf8Fault fault;
        const std::size_t length = decodeUtf8(in, i, cp, &fault);
        if (length == 0) {
            return invalid(fault.what, fault.at);
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            result.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            result.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    out.swap(result);
    return Status::success();
}

Status utf16ToUtf8(const std::u16string& in, std::string& out) {
    out.clear();
    std::string result;
    result.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) {
                return invalid("unpaired UTF-16 high surrogate", i);
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return invalid("unpaired UTF-16 low surrogate", i);
        }
        if (cp < 0x80) {
            result.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            result.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            result.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            result.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            result.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    out.swap(result);
    return Status::success();
}

}  // namespace platform
