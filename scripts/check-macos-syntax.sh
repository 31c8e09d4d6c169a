#!/usr/bin/env bash
# Compiles every macOS source (mac_*.cc, mac_*.mm) syntax-only against a copy
# of the macOS SDK headers, for arm64 (macOS 12) and x86_64 (macOS 10.13),
# with the build's warning flags and -Werror: a check that runs without a Mac
# or Xcode. Neither the build nor the tests use it.
#
#   scripts/check-macos-syntax.sh SDK [FRAMEWORK_DIR...]
#
#   SDK            an SDK folder: an Xcode one (usr/include,
#                  System/Library/Frameworks) or a copy with include/ (C, libc++
#                  in include/c++/v1, objc, dispatch) and Frameworks/
#   FRAMEWORK_DIR  further folders of frameworks the copy lacks (Core Bluetooth)
#
# CXX names the compiler (default clang++, any clang that targets Apple).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if (($# < 1)); then
  sed -n '7,12p' "$0" | sed 's/^#//' >&2
  exit 2
fi
SDK=$(cd "$1" && pwd)
shift
CXX=${CXX:-clang++}

if [ -d "$SDK/usr/include" ]; then
  includes=$SDK/usr/include
  frameworks=$SDK/System/Library/Frameworks
else
  includes=$SDK/include
  frameworks=$SDK/Frameworks
fi
# The SDK's headers stand in for the system's: libc++ first, then C; the
# frameworks are system frameworks (their own warnings are not ours).
sdk_flags=(-stdlib=libc++ -isysroot "$SDK" -nostdinc++ -isystem "$includes/c++/v1"
  -isystem "$includes" -iframework "$frameworks")
for dir in "$@"; do
  sdk_flags+=(-iframework "$(cd "$dir" && pwd)")
done
# The warning flags of the build (DICTACORE_WARNINGS in CMakeLists.txt).
read -r -a warnings <<<"$(sed -n '/^set(DICTACORE_WARNINGS/,/)/p' "$ROOT/CMakeLists.txt" |
  tr -d ')' | sed 's/set(DICTACORE_WARNINGS//' | tr '\n' ' ')"

cd "$ROOT"
failed=0
while IFS= read -r source; do
  language=()
  case $source in
    *.mm) language=(-x objective-c++ -fobjc-arc) ;;
  esac
  for target in arm64-apple-macos12 x86_64-apple-macos10.13; do
    if "$CXX" -target "$target" "${sdk_flags[@]}" -fsyntax-only -std=c++17 \
        "${warnings[@]}" -Werror -I"$ROOT" ${language[@]+"${language[@]}"} "$source"; then
      echo "ok      $target $source"
    else
      echo "FAILED  $target $source"
      failed=1
    fi
  done
done < <(git ls-files 'addons/*/mac_*.cc' 'addons/*/mac_*.mm' 'tools/*/mac_*.cc' \
  'tools/*/mac_*.mm')
exit "$failed"
