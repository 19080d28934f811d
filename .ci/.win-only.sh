#!/usr/bin/env bash
# Continuous integration for sales-archiver, run from the repository root as
#   bash .ci/run
# on a Debian 12 machine (root, no standard input needed). It
#   1. installs the Debian packages the build needs, when missing;
#   1b. starts the PostgreSQL server the ODBC tests use (.ci/start-postgres);
#   2. checks the formatting of every C++ file (reported now, fatal at the end);
#   3. starts Xvfb on a free display for the desktop tests (the main test
#      suite sees it as DISPLAY, with SA_DESKTOP_TESTS=1 so that those tests
#      fail rather than skip without it), stopped before the sanitizer run;
#   4. builds with warnings as errors and runs the test suite, exactly as the
#      README says, then the benchmark's smoke run when there is a benchmark;
#   4b. cross-builds the Windows executables (x86-64 and i686), runs the
#      x86-64 unit tests and end-to-end runs under Wine, and checks the
#      progress window and the message box by screenshots on Xvfb;
#   4c. runs the same tests on Wine 10 of Debian 13, in a chroot kept in
#      /var/cache/sales-archiver (tests/wine/wine10.sh): the i686 build through
#      qemu-i386, its windows on Xvfb, and the x86-64 build;
#   5. builds and runs the test suite under AddressSanitizer and UBSan,
#      headless;
#   6. builds the libFuzzer targets with clang, replays their corpora in
#      fuzz/corpus/<target>/ and fuzzes each for FUZZ_SECONDS (default 30).
# Any failure fails the run.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
export DEBIAN_FRONTEND=noninteractive

FUZZ_SECONDS="${FUZZ_SECONDS:-30}"
started=$(date +%s)
section_started=

elapsed() { echo $(($(date +%s) - $1)); }
section() {
  if [ -n "$section_started" ]; then echo "---- done in $(elapsed "$section_started")s"; fi
  section_started=$(date +%s)
  printf '\n==================== %s ====================\n' "$1"
}

section "Packages"
bash .ci/install-deps

section "PostgreSQL server for the ODBC tests"
# The tests read the server's connection string from SA_PG_CONNECT; under
# CI=true a test that needs the server fails when it is missing.
export CI=true
eval "$(bash .ci/start-postgres)"
echo "SA_PG_CONNECT set (password masked): ${SA_PG_CONNECT%%Pwd=*}Pwd=***"

section "Formatting (clang-format, .clang-format)"
format_dirs=()
for dir in src tests bench demo fuzz; do
  if [ -d "$dir" ]; then format_dirs+=("$dir"); fi
done
badly_formatted=()
while IFS= read -r -d '' file; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    badly_formatted+=("$file")
  fi
done < <(find "${format_dirs[@]}" -type f \( -name '*.cc' -o -name '*.h' \) -print0 | sort -z)
if [ ${#badly_formatted[@]} -gt 0 ]; then
  echo "not formatted (fix with: clang-format -i FILE):"
  printf '  %s\n' "${badly_formatted[@]}"
  echo "(the run goes on, and fails at the end)"
else
  echo "all files formatted"
fi

section "Display for the desktop tests (Xvfb)"
xvfb_pid=
stop_xvfb() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
  fi
}
trap stop_xvfb EXIT
display_file=$(mktemp)
# -displayfd: Xvfb takes the first free display number and writes it to fd 3
# once it accepts connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  if [ -s "$display_file" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
desktop_display=":$(tr -d '[:space:]' <"$display_file")"
rm -f "$display_file"
if [ "$desktop_display" = ":" ]; then
  echo "Xvfb did not start"
  exit 1
fi
echo "Xvfb on DISPLAY=$desktop_display"
# Only the test suites see the display; everything else runs headless.
desktop_tests() { DISPLAY="$desktop_display" SA_DESKTOP_TESTS=1 "$@"; }

section "Windows: cross-builds with mingw-w64 (x86-64 and i686, static)"
for target in x86_64:build-win64 i686:build-win32; do
  cmake -S . -B "${target#*:}" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-${target%%:*}.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DSA_WERROR=ON
  cmake --build "${target#*:}" -j2
done
# Nothing but the system's own DLLs: the executable goes alone beside the host.
for exe in build-win64/sales-archiver.exe build-win32/sales-archiver.exe; do
  imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print $3 }' | sort | tr '\n' ' ')
  echo "$exe imports: $imports"
  for dll in $imports; do
    case "${dll,,}" in
      kernel32.dll | user32.dll | comctl32.dll | shell32.dll | msvcrt.dll | odbc32.dll | odbccp32.dll) ;;
      *) echo "FAILED: $exe needs $dll"; exit 1 ;;
    esac
  done
done

section "Windows: the x86-64 build under Wine (unit tests, runs, windows)"
export WINEPREFIX="$PWD/build-win64/wine" WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  env -u DISPLAY /usr/lib/wine/wine64 wineboot -i
fi
env -u DISPLAY /usr/lib/wine/wine64 build-win64/sa_tests.exe
cmake -S . -B build -DSA_WINDOWS_EXE="$PWD/build-win64/sales-archiver.exe"
cmake --build build -j2 --target sa_wine_tests
build/sa_wine_tests
bash tests/gui/check-windows.sh build-win64 build-win64/pictures
unset WINEPREFIX WINEDEBUG

section "Windows: the i686 and x86-64 builds under Wine 10 (Debian 13 chroot, qemu-i386)"
# Made once (about 10 minutes and 4 GB), then reused; made again when the
# script's part that makes it changes.
bash tests/wine/wine10.sh setup
# One namespace keeps the Wine servers up between programs.
trap 'bash tests/wine/wine10.sh stop; stop_xvfb' EXIT
bash tests/wine/wine10.sh start
export WINEDEBUG=-all
for way in win32:build-win32 win64:build-win64; do
  echo "-- ${way#*:} under Wine 10 (${way%%:*})"
  bash tests/wine/wine10.sh "${way%%:*}" "${way#*:}/sa_tests.exe"
  SA_WINE="$PWD/tests/wine/wine10.sh ${way%%:*}" SA_WINDOWS_EXE="$PWD/${way#*:}/sales-archiver.exe" \
    build/sa_wine_tests
done
# The pictures need servers started with a display.
bash tests/wine/wine10.sh stop
trap stop_xvfb EXIT
WINE="$PWD/tests/wine/wine10.sh win32" bash tests/gui/check-windows.sh build-win32 build-win32/pictures
unset WINEDEBUG

echo WINDOWS-SECTIONS-OK
