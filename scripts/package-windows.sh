#!/usr/bin/env bash
# Builds the Windows installer build/package/VudoZid-<version>-<arch>.msi with
# wixl: the 32-bit VudoZid.dll and qvperf.exe, plus the provider SDK and the
# exporter service feature when the build provides them. The binaries go in
# stripped; their debug information is kept beside the package, in
# build/package/VudoZid-<version>-<arch>-debug.zip (one <binary>.debug each,
# which the binary names in its .gnu_debuglink), for crash analysis.
#
#   scripts/package-windows.sh [--arch x86|x64] [--version X.Y.Z]
#
# x86 is the shipped package (the mingw-i686 build). x64 packages the
# mingw-x64 build the same way, for test systems that run only 64-bit programs.
# The version defaults to project(VERSION) in CMakeLists.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

arch=x86
version=$(sed -n 's/^project(VudoZid VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
while (($#)); do
  case $1 in
    --arch) arch=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    *) echo "usage: $0 [--arch x86|x64] [--version X.Y.Z]" >&2; exit 2 ;;
  esac
done
case $arch in
  x86) preset=mingw-i686 system_folder=SystemFolder binutils=i686-w64-mingw32 ;;
  x64) preset=mingw-x64 system_folder=System64Folder binutils=x86_64-w64-mingw32 ;;
  *) echo "package-windows: unknown architecture $arch (x86 or x64)" >&2; exit 2 ;;
esac
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "package-windows: bad version '$version'" >&2; exit 2; }
for tool in wixl msibuild msiinfo zip "$binutils-strip" "$binutils-objcopy"; do
  command -v "$tool" >/dev/null || { echo "package-windows: $tool missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

build=build/$preset
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"${JOBS:-2}"

out=build/package
stage=$out/stage-$arch
rm -rf "$stage"
mkdir -p "$stage/sdk/include" "$stage/sdk/lib"
cp "$build/src/VudoZid.dll" "$build/tools/qvperf.exe" "$stage/"

# The provider SDK comes from the build's install step, wherever it puts its files.
cmake --install "$build" --prefix "$stage/install" >/dev/null
find_installed() { find "$stage/install" -name "$1" -type f -print -quit 2>/dev/null; }
have_sdk=yes missing=()
for file in vudozid_provider.dll libvudozid_provider.dll.a vudozid_provider.h vudozid_provider.hpp \
            vudozid_provider_version.h; do
  [ -n "$(find_installed "$file")" ] || missing+=("$file")
done
if ((${#missing[@]})); then
  have_sdk=no
  echo "package-windows: provider SDK left out (the build installs no ${missing[*]})"
else
  cp "$(find_installed vudozid_provider.dll)" "$stage/"
  cp "$(find_installed vudozid_provider.h)" "$(find_installed vudozid_provider.hpp)" \
     "$(find_installed vudozid_provider_version.h)" "$stage/sdk/include/"
  cp "$(find_installed libvudozid_provider.dll.a)" "$stage/sdk/lib/"
fi

# Windows has no MinGW runtime DLLs, and the package carries none.
for binary in "$stage"/*.dll "$stage"/*.exe; do
  runtime=$(python3 tests/e2e/pe_reader.py "$binary" | sed -n 's/^import \(lib.*\.dll\)$/\1/p' | tr '\n' ' ')
  [ -z "$runtime" ] || { echo "package-windows: $(basename "$binary") needs ${runtime% }: link it statically" >&2; exit 1; }
done

# Stripped binaries in the package, their debug information beside it.
debug=$stage/debug
mkdir -p "$debug"
for binary in "$stage"/*.dll "$stage"/*.exe; do
  name=$(basename "$binary")
  "$binutils-objcopy" --only-keep-debug "$binary" "$debug/$name.debug"
  "$binutils-strip" --strip-all "$binary"
  (cd "$debug" && "$binutils-objcopy" --add-gnu-debuglink="$name.debug" "../$name")
done
tests/e2e/check-pe.sh --stripped "$debug" --arch "$arch" "$stage"/*.dll "$stage"/*.exe >"$stage/check-pe.txt" ||
  { grep -v '^ok' "$stage/check-pe.txt" >&2; echo "package-windows: the staged binaries fail their check" >&2; exit 1; }
debug_zip=$out/VudoZid-$version-$arch-debug.zip
rm -f "$debug_zip"
(cd "$debug" && zip -q -X "$root/$debug_zip" ./*.debug)

have_exporter=no
if grep -rqs -- '--install-service' tools/qvperf/; then
  have_exporter=yes
else
  echo "package-windows: exporter service feature left out (qvperf has no --install-service)"
fi

msi=$out/VudoZid-$version-$arch.msi
rm -f "$msi"
wixl -a "$arch" -o "$msi" -D Version="$version" -D Arch="$arch" -D StageDir="$stage" \
  -D HaveSdk="$have_sdk" -D HaveExporter="$have_exporter" packaging/windows/VudoZid.wxs

# wixl leaves the File table's Version and Language empty: each binary's come
# from its version resource (US English, 1033), so that Windows Installer
# compares versions when it replaces a file.
while read -r file_id; do
  file_version=$(python3 tests/e2e/pe_reader.py "$stage/$file_id" | sed -n 's/^version file //p')
  [ -n "$file_version" ] || { echo "package-windows: $file_id has no version resource" >&2; exit 1; }
  msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '1033' WHERE \`File\` = '$file_id'"
done < <(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'NR > 3 && $1 ~ /\.(dll|exe)$/ { print $1 }')

# The rows wixl cannot write: one SQL statement per line, "--" comments.
upgrade_code=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "UpgradeCode" { print $2 }')
add_rows() {
  local query
  while IFS= read -r query; do
    [[ -z $query || $query == --* ]] && continue
    query=${query//@SYSTEM_FOLDER@/$system_folder}
    query=${query//@VERSION@/$version}
    msibuild "$msi" -q "${query//@UPGRADE_CODE@/$upgrade_code}" ||
      { echo "package-windows: msibuild failed on: $query" >&2; return 1; }
  done <"$1"
}
add_rows packaging/windows/registration.sql
add_rows packaging/windows/upgrade.sql
[ "$have_exporter" = no ] || add_rows packaging/windows/exporter-service.sql
echo "package-windows: $msi (SDK: $have_sdk, exporter service: $have_exporter; debug information: $debug_zip)"
