// Calls of host operations on a handle: the one place that says what a wrapper answers when the
// host lacks the operation or the handle is null (nothing, zero, an empty array, `out` untouched).
#ifndef RAYDECK_PLUGINS_C4D_HOST_HOSTCALL_H
#define RAYDECK_PLUGINS_C4D_HOST_HOSTCALL_H

#include <cstdint>
#include <type_traits>
#include <utility>

#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// `member`(handle, args...) when the host has the operation and the handle is not null; else the
// result type's zero (null, 0, 0.0), or nothing for an operation without result.
template <typename Fn, typename H, typename... Args>
auto hostCall(Fn RdHostInterface::*member, H* handle, Args&&... args)
    -> std::invoke_result_t<Fn, H*, Args...> {
    using Result = std::invoke_result_t<Fn, H*, Args...>;
    auto fn = hostOp(member);
    if (fn == nullptr || handle == nullptr) {
        return Result();
    }
    return fn(handle, std::forward<Args>(args)...);
}

// One value read through `member`(handle, args..., &raw), with `raw` as the starting value the
// host sees. On success stores it, converted, in `out`; on failure `out` stays untouched.
// Answers success.
template <typename Out, typename Raw, typename Fn, typename H, typename... Args>
bool hostRead(Out& out, Raw raw, Fn RdHostInterface::*member, H* handle, Args... args) {
    if (hostCall(member, handle, args..., &raw) == 0) {
        return false;
    }
    out = Out(raw);
    return true;
}

// A read-only array the host lends with its count through `member`(handle, &count); empty when
// it lends none or a negative count.
template <typename T, typename H>
ConstArray<T> hostArray(const T* (*RdHostInterface::*member)(const H*, int32_t*), const H* handle) {
    ConstArray<T> a;
    a.data = hostCall(member, handle, &a.count);
    if (a.data == nullptr || a.count < 0) {
        return ConstArray<T>();
    }
    return a;
}

}  // namespace raydeck::host

#endif
