#!/usr/bin/env bash
# The Wine tests' fixture: the Windows build must be there (make windows, with
# MinGW-w64), and so must Wine and Xvfb; the prefix is made once (about 16 s).
# A prefix without the marker .made2 is made afresh: one from before the cases
# copied the registry files may hold a registry that a killed case cut short.
# Without a window manager Wine waits 2 s for one at each window's removal:
# its windows are left unmanaged instead.
set -euo pipefail
prefix=$1 bin=$2
for tool in x86_64-w64-mingw32-g++-posix wine wineboot Xvfb tmux; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (scripts/install-deps installs it)"; exit 1; }
done
for exe in mapwalk1 mapwalk2 mapwalk3 draw-and-keys; do
  [[ -f $bin/$exe.exe ]] || { echo "missing: $bin/$exe.exe (make windows builds it)"; exit 1; }
done
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
if [[ ! -f $prefix/.made2 ]]; then
  rm -rf "$prefix"
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.made2"
fi
echo "wine prefix ready: $prefix"
