# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads). The dependencies that
# Debian ships no mingw package of are built by `./build.sh windows` into RAYDECK_WINDOWS_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT RAYDECK_WINDOWS_PREFIX AND DEFINED ENV{RAYDECK_WINDOWS_PREFIX})
  set(RAYDECK_WINDOWS_PREFIX $ENV{RAYDECK_WINDOWS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${RAYDECK_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked statically: the binaries then need Windows system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# The static C++ runtime brings its debug sections along; release binaries leave them out.
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_RELEASE_INIT "-s")
endforeach()
# Tests run the Windows programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
