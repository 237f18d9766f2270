// RAYDECK_EXPORT marks the one entry a library file declares for export: dllexport on Windows
// (which also keeps the linker from exporting everything else), default visibility elsewhere
// (the libraries build with hidden visibility and a version script).
#pragma once

#if defined(_WIN32)
#define RAYDECK_EXPORT __declspec(dllexport)
#else
#define RAYDECK_EXPORT __attribute__((visibility("default")))
#endif
