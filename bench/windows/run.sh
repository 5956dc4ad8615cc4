#!/usr/bin/env bash
# Runs the Windows benchmark (make windows builds it) under Wine on a private
# Xvfb, in a prefix of its own under the build folder.
set -euo pipefail
build=${1:-build/windows}
prefix=$build/benchprefix
"$(dirname "$0")/../../tests/wine/make_prefix.sh" "$(realpath -m "$prefix")" "$build/bin" >/dev/null
export WINEPREFIX=$(realpath "$prefix") WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb=$!
read -r display <&3
trap 'kill $xvfb 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
DISPLAY=:$display wine "$build/bench/bench_windows.exe" "${BENCH_SECONDS:-1}" </dev/null
