#!/usr/bin/env bash
# What make windows hands out, as a player and a programmer meet it under Wine:
# the zip unzipped into an empty folder holds the three programs beside their
# six asset files and README.txt, and a program from it plays; a program of
# one's own builds against build/windows/package with find_package, with a
# console and without one (WIN32), and runs.
set -euo pipefail
windows=$1 prefix=$2 source=$3
work=$(mktemp -d)
trap 'WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
cp -al "$prefix" "$work/prefix"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" LC_ALL=C
fail() { echo "$*"; exit 1; }

(cd "$work" && cmake -E tar xf "$windows/mapwalk-windows.zip")
got=$(cd "$work/mapwalk" && echo *)
want="README.txt brick03.mem flame01.mem flame02.mem map002.mem mapwalk1.exe mapwalk2.exe mapwalk3.exe"
[[ $got == "$want skull01.mem wayfar1.mem" ]] || fail "the zip holds: $got"
(cd "$work/mapwalk" && printf '6\033' | SCRBK=null SCRSHOT=shot.png timeout 60 wine mapwalk1.exe >/dev/null 2>&1) ||
  fail "mapwalk1.exe from the zip did not end with 0"
[[ -s $work/mapwalk/shot.png ]] || fail "mapwalk1.exe from the zip wrote no SCRSHOT"

mkdir "$work/game"
cat >"$work/game/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(game CXX)
find_package(mapwalk 1.0 REQUIRED)
add_executable(game $source/examples/text/main.cpp)
add_executable(game-windowed WIN32 $source/examples/text/main.cpp)
target_link_libraries(game PRIVATE mapwalk::screen)
target_link_libraries(game-windowed PRIVATE mapwalk::screen)
CMAKE
cmake -S "$work/game" -B "$work/game/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$windows/package" >/dev/null ||
  fail "find_package(mapwalk) did not find build/windows/package"
cmake --build "$work/game/build" >/dev/null || fail "the program did not build against the package"
headers=$(x86_64-w64-mingw32-objdump -p "$work/game/build/game-windowed.exe")
[[ $headers == *"(Windows GUI)"* ]] || fail "game-windowed.exe is not a GUI program"
for exe in game game-windowed; do  # the title screen, then Esc: headless, keys piped in
  (cd "$work/game/build" && printf '\033' | SCRBK=null SCRSHOT=shot.png timeout 60 wine $exe.exe >/dev/null 2>&1) ||
    fail "$exe.exe did not end with 0"
  [[ -s $work/game/build/shot.png ]] || fail "$exe.exe wrote no SCRSHOT"
  rm "$work/game/build/shot.png"
done
echo "zip and package: all well"
