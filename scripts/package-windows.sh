#!/usr/bin/env bash
# Builds zelvor.exe with mingw-w64 and packs dist/zelvor-<version>-win64.zip with it, a short
# README.txt and the licence. The version is the one of CMake's project().
#   scripts/package-windows.sh [BUILD_FOLDER]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-windows}")
jobs=${JOBS:-$(nproc)}
werror=${WERROR:-ON}

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DZELVOR_CORE_ONLY=ON -DZELVOR_WERROR="$werror" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" -j "$jobs" --target zelvor

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
exe="$build/zelvor.exe"

# The program is one file: it may import nothing but Windows' own DLLs.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\tDLL Name: //p')
for dll in $imports; do
    case "${dll,,}" in
    kernel32.dll | user32.dll | gdi32.dll | ws2_32.dll | comctl32.dll | comdlg32.dll | \
        shell32.dll | advapi32.dll | ole32.dll | msvcrt.dll | api-ms-win-*) ;;
    *)
        echo "zelvor.exe imports $dll, which Windows does not ship" >&2
        exit 1
        ;;
    esac
done
size=$(stat -c %s "$exe")
if ((size >= 3 * 1024 * 1024)); then
    echo "zelvor.exe is $size bytes, above 3 MiB" >&2
    exit 1
fi

name="zelvor-$version-win64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage" "$root/dist"
cp "$exe" "$stage/zelvor.exe"
sed 's/$/\r/' "$root/packaging/windows/README.txt" >"$stage/README.txt"
sed 's/$/\r/' "$root/LICENSE" >"$stage/LICENSE.txt"
rm -f "$root/dist/$name.zip"
(cd "$build/package" && zip -q -X -r "$root/dist/$name.zip" "$name")
echo "dist/$name.zip: zelvor.exe $size bytes; imports: $(echo $imports)"
