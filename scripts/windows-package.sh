#!/usr/bin/env bash
# The Windows installer and zip, made from the Windows build (build/windows,
# already built: `cmake --preset windows && cmake --build --preset windows`):
#
#   build/windows/package/boot-loader-veltra-VERSION-win64.msi
#   build/windows/package/boot-loader-veltra-VERSION-win64.zip
#
# Both hold exactly what `cmake --install build/windows --strip` puts into
# build/windows/package/root (made fresh each time): the two programs, the
# MinGW runtime and Qt DLLs, the Qt plugins and the icon. The MSI installs
# them into "C:\Program Files\Boot Loader Veltra" with a Start-menu entry
# (packaging/windows/make-msi.sh); the zip is for machines where the operator
# may not install, a folder to unpack and start from.
#
# Before packing, every program and DLL of the folder must be stripped, and
# every DLL that one of them imports must be in the folder or be one of
# Windows' own: a DLL the build forgot would only show on an operator's
# machine, as a program that does not start.
# scripts/windows-install-check.sh then proves the MSI under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/windows
out=$build/package
root=$out/root
# An MSI above this is a sign that something unstripped or unneeded came in.
msi_limit=15000000

fail() {
  echo "windows-package.sh: $*" >&2
  exit 1
}

if [[ ! -f $build/CMakeCache.txt || ! -f $build/bin/boot-loader-veltra.exe ]]; then
  fail "no Windows build with the window in $build: cmake --preset windows && cmake --build --preset windows"
fi
./scripts/install-deps.sh wixl binutils-mingw-w64-x86-64

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[[ -n $version ]] || fail "$build/CMakeCache.txt names no project version"
name=boot-loader-veltra-$version-win64
msi=$out/$name.msi
zip=$out/$name.zip

# ---- The folder that is shipped ----------------------------------------------
rm -rf -- "$root"
cmake --install "$build" --prefix "$root" --strip >/dev/null
for file in boot-loader-veltra.exe veltra-load.exe boot-loader-veltra.ico platforms/qwindows.dll; do
  if [[ ! -f $root/$file ]]; then
    if [[ $file == *.ico ]]; then
      fail "the install has no $file: draw it with cmake --preset debug && cmake --build --preset debug --target program-icon, then configure the windows preset again"
    fi
    fail "the install has no $file"
  fi
done

# ---- Stripped, and every imported DLL shipped or Windows' own -----------------
# Windows looks for a program's DLLs in the program's folder, and a plugin's
# in the folder of the program that loads it: only the top folder counts.
# The list of Windows' own DLLs holds what these programs and Qt import
# (api-ms-win-* are Windows' API sets); anything new must be looked at before
# it is added.
declare -A windows_dll=()
for dll in advapi32 authz bcrypt comdlg32 d3d11 d3d9 dwmapi dwrite dxgi gdi32 imm32 kernel32 \
  mpr msvcrt netapi32 ole32 oleaut32 shcore shell32 shlwapi user32 userenv uxtheme version \
  winmm ws2_32 wtsapi32; do
  windows_dll[$dll.dll]=1
done
declare -A shipped=()
while IFS= read -r dll; do
  shipped[${dll,,}]=1
done < <(find "$root" -maxdepth 1 -type f -iname '*.dll' -printf '%f\n')
unknown=() unstripped=()
while IFS= read -r -d '' file; do
  if x86_64-w64-mingw32-objdump -h "$file" | grep -q '[[:space:]]\.debug_'; then
    unstripped+=("${file#"$root"/}")
  fi
  imports=$(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [[ -n $imports ]] || fail "${file#"$root"/} imports no DLL at all: is it a Windows program?"
  while IFS= read -r dll; do
    lower=${dll,,}
    [[ -n ${shipped[$lower]:-} || -n ${windows_dll[$lower]:-} || $lower == api-ms-win-* ]] && continue
    unknown+=("${file#"$root"/} imports $dll")
  done <<<"$imports"
done < <(find "$root" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | sort -z)
if ((${#unstripped[@]} > 0)); then
  printf '  %s\n' "${unstripped[@]}" >&2
  fail "these files carry debugging information: cmake --install --strip left them as they were (packaging/windows/CMakeLists.txt strips the DLLs)"
fi
if ((${#unknown[@]} > 0)); then
  printf '  %s\n' "${unknown[@]}" >&2
  fail "these DLLs are neither in the folder nor Windows' own: ship them (cmake/WindowsRuntime.cmake), or add a DLL of Windows to the list here"
fi
echo "windows-package.sh: every program and DLL stripped; every DLL they import shipped or part of Windows"

# ---- The MSI -------------------------------------------------------------------
rm -f -- "$msi" "$zip"
packaging/windows/make-msi.sh "$root" "$version" "$msi"

# ---- The zip -------------------------------------------------------------------
# CMake's own archiver writes zip files: no other tool needed, and it packs
# the very folder the MSI was made from (CPack would install the build a
# second time). Inside, one folder named like the zip, so that unpacking
# puts nothing loose beside it.
stage=$out/zip-stage
rm -rf -- "$stage"
mkdir -p "$stage"
cp -al -- "$root" "$stage/$name"
(cd "$stage" && cmake -E tar cf "../$name.zip" --format=zip -- "$name")
rm -rf -- "$stage"

# ---- Sizes ---------------------------------------------------------------------
size() { stat -c %s -- "$1"; }
megabytes() { awk -v b="$1" 'BEGIN { printf "%.1f MB", b / 1e6 }'; }
for file in "$msi" "$zip"; do
  echo "windows-package.sh: $file: $(megabytes "$(size "$file")") ($(size "$file") bytes)"
done
if (($(size "$msi") > msi_limit)); then
  echo "Largest files shipped:" >&2
  find "$root" -type f -printf '  %s\t%P\n' | sort -rn | head -n 5 >&2
  fail "the MSI is over $(megabytes "$msi_limit")"
fi
