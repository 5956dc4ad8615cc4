#!/usr/bin/env bash
# mapwalk1_tmux.sh picture|signals|suspend /path/to/mapwalk1: the program on the Term
# back-end in a tmux pane, driven with send-keys, read back with capture-pane.
# picture: with no display and no SCRBK the terminal is chosen by itself; the view in its colours,
# shrunk to fit; 6 moves it, 4 back; a smaller terminal shrinks it more;
# ESC ends with code 0, the terminal given back (normal screen, cursor, line editing, echo) on blue,
# the scrollback above it kept.
# signals: 256-colour codes without COLORTERM; Ctrl+C, SIGTERM, SIGQUIT and the fault signals end it
# with the signal's status, the terminal given back; a hang-up (the pane closed under a program
# outside its session) ends it.
# suspend: Ctrl+Z gives the terminal back to the shell; fg takes it again, the picture is back and walks.
set -u
case_name=$1 exe=$2 half=$'\xe2\x96\x80'
command -v tmux >/dev/null || { echo "FAIL: no tmux (scripts/install-deps installs it)"; exit 1; }
dir=$(mktemp -d)
trap 'tmux -S "$dir/sock" kill-server >/dev/null 2>&1; rm -rf "$dir"' EXIT
tm() { tmux -S "$dir/sock" "$@"; }
cap() { tm capture-pane -t t -e -p 2>/dev/null; }
flag() { tm display-message -t t -p "#{$1}"; }
fail() { echo "FAIL: $* (${sig:-})"; cap | cut -c1-160 | head -45; exit 1; }
wait_until() {  # seconds, condition
  for ((i = 0; i < $1 * 10; ++i)); do eval "$2" && return 0; sleep 0.1; done
  return 1
}
widest() { cap | awk -v h="$half" '{ n = gsub(h, "&"); if (n > m) m = n } END { print m + 0 }'; }
shown() {  # waits for the whole picture (the map has no flames: it stands still) and the keys read one by one
  local last=""
  wait_until 10 '[[ "$(flag alternate_on)" == 1 ]] && cap | grep -q "$half" &&
                stty -F "$(flag pane_tty)" | grep -q -- -icanon' ||
    fail "the picture did not appear, or the terminal is not in raw mode"
  wait_until 10 'now=$(cap); [[ "$now" == "$last" ]] || { last=$now; false; }' || fail "the picture did not settle"
}
start() {  # runs the program with the environment given
  tm send-keys -t t "$* '$exe'" Enter
  shown
}
walks() {  # 6 moves the view, 4 brings it back
  local first
  first=$(cap)
  tm send-keys -t t 6
  wait_until 5 '[[ "$(cap)" != "$first" ]]' || fail "6 did not move the view"
  tm send-keys -t t 4
  wait_until 5 '[[ "$(cap)" == "$first" ]]' || fail "4 did not bring the first view back"
}
ended() {  # the exit status the shell must report; the terminal must be given back
  wait_until 5 '[[ "$(flag pane_current_command)" == bash ]]' || fail "the program did not end"
  tm send-keys -t t 'echo "STATUS""=$?"; stty -a > stty' Enter
  wait_until 5 '[[ -s stty ]]' || fail "the shell does not take a command"
  [[ "$(cap | grep -o 'STATUS=[0-9]*' | tail -1)" == "STATUS=$1" ]] || fail "status not $1"
  [[ "$(flag alternate_on)$(flag cursor_flag)" == 01 ]] || fail "alternate screen or hidden cursor left"
  ! grep -qw -- "-icanon\|-echo" stty || fail "line editing or echo not restored"
  rm stty
}

# Assets of our own: one colour per tile; bricks along the top, a skull.
cd "$dir"
for t in brick03:4 flame01:2 flame02:12 skull01:14 wayfar1:10; do
  for i in $(seq 16); do printf " ${t#*:}%.0s" $(seq 16); echo; done >"${t%:*}.mem"
done
for y in $(seq 0 31); do
  for x in $(seq 0 63); do printf ' %d' $((y == 0 ? 1 : (x == 6 && y == 2 ? 4 : 0))); done
  echo
done >map002.mem
tm -f /dev/null new-session -d -s t -x 100 -y 40 -c "$dir" \
  "env -u DISPLAY -u WAYLAND_DISPLAY PS1='$ ' TERM=screen-256color bash --norc --noprofile" || fail "tmux"
tm set-option -t t window-size manual >/dev/null 2>&1

case "$case_name" in
picture)
  tm send-keys -t t "seq -f KEPT%g 60" Enter
  start COLORTERM=truecolor env -u SCRBK
  [[ "$(widest)" == 80 && "$(flag cursor_flag)" == 0 ]] ||
    fail "picture $(widest) cells wide, expected 80 (320 / 4), or cursor shown"
  for rgb in "85;255;85" "170;0;0" "255;255;85"; do
    cap | grep -q "2;$rgb" || fail "player, brick or skull colour $rgb not shown"
  done
  walks
  tm resize-window -t t -x 60 -y 20
  wait_until 5 '[[ "$(widest)" == 54 ]]' || fail "after resize $(widest) cells wide, expected 54 (320 / 6)"
  tm send-keys -t t Escape
  ended 0
  cap | grep -q $'\e\\[\\([0-9]*;\\)*44[;m]' || fail "console not painted blue"
  tm capture-pane -t t -p -S - | grep -qx KEPT1 || fail "the scrollback above the console was erased"
  ;;
signals)
  start COLORTERM= SCRBK=term
  ! cap | grep -q "38;2;" && cap | grep -q "38;5;" || fail "no 256-colour codes, or 24-bit ones without COLORTERM"
  tm send-keys -t t C-c
  ended 130
  # SIGTERM, SIGQUIT and the faults (AddressSanitizer's builds leave the faults to the program here).
  tm send-keys -t t "ulimit -c 0" Enter
  for sig in TERM QUIT SEGV BUS FPE ILL ABRT; do
    start ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0 SCRBK=term
    kill -$sig "$(pgrep -x -s "$(flag pane_pid)" mapwalk1)"
    ended $((128 + $(kill -l $sig)))
  done
  tm send-keys -t t "setsid sh -c 'echo \$\$ > pid; exec env SCRBK=term $exe'" Enter
  wait_until 10 '[[ "$(flag alternate_on)" == 1 && -s pid ]]' || fail "the picture did not appear"
  pid=$(cat pid)
  tm kill-pane -t t
  wait_until 5 '! grep -qv "^[0-9]* ([^)]*) Z" /proc/$pid/stat 2>/dev/null' ||
    { kill -KILL "$pid"; fail "a hang-up did not end the program"; }
  ;;
suspend)  # under a shell that waits for it, as make runs it: the job may stop before the program does
  tm send-keys -t t "SCRBK=term sh -c '\"\$0\"; :' '$exe'" Enter
  shown
  tm send-keys -t t C-z
  ended 148
  tm send-keys -t t fg Enter
  shown
  walks
  tm send-keys -t t Escape
  ended 0
  ;;
*) fail "unknown case" ;;
esac
echo "ok: $case_name"
