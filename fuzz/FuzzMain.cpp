// libFuzzer entry: RAYDECK_FUZZ_TARGET names the target function this executable drives.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return raydeck::fuzz::RAYDECK_FUZZ_TARGET(data, size);
}
