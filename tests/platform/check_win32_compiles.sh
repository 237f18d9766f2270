#!/bin/sh
# Compiles every platform/win32/*.cpp with the mingw-w64 cross compiler.
# Usage: check_win32_compiles.sh <repository root>. Exit 77 (skip) when the compiler is missing.
repo=$1
cxx=x86_64-w64-mingw32-g++-posix
if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "skipped: $cxx not installed"
    exit 77
fi
status=0
count=0
for f in "$repo"/platform/win32/*.cpp; do
    [ -e "$f" ] || continue
    count=$((count + 1))
    "$cxx" -std=c++17 -Wall -Wextra -Werror -c -o /dev/null -I"$repo" "$f" || status=1
done
if [ "$count" -eq 0 ]; then
    echo "no platform/win32/*.cpp found"
    exit 1
fi
echo "checked $count file(s)"
exit $status
