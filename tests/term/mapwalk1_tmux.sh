#!/usr/bin/env bash
# mapwalk1 in a terminal, end to end: started in a tmux pane with SCRBK=term,
# driven with send-keys and read back with capture-pane.
#
#   mapwalk1_tmux.sh picture|scroll|colour256|signal|sigterm /path/to/mapwalk1
#
# picture    the view appears (player, bricks, frame in their colours), the
#            digit 6 moves the player and 4 brings the same view back, a
#            resized terminal gets the picture shrunk to fit, ESC ends the
#            program with exit code 0 and leaves the terminal usable
#            (normal screen, cursor shown, line editing and echo back, the
#            console painted bright white on blue).
# scroll     in a pane big enough for the page unscaled (with a margin all
#            round), every move (sideways, up, down, diagonal) leaves the
#            pane exactly as a full repaint of the same view does: the
#            terminal's own shifting of cells and rows agrees with the
#            picture encoder's model of it, and nothing spills beside it.
# colour256  without COLORTERM the picture uses 256-colour codes.
# signal     Ctrl+C ends the program and gives the terminal back.
# sigterm    so does SIGTERM.
#
# Exit 77 (skipped) when tmux or the program is missing.
set -u

case_name=${1:-}
exe=${2:-}
if ! command -v tmux >/dev/null 2>&1; then echo "skip: no tmux"; exit 77; fi
if [[ -z "$exe" || ! -x "$exe" ]]; then echo "skip: no program at '$exe'"; exit 77; fi

dir=$(mktemp -d)
sock="$dir/tmux.sock"
cleanup() {
  tmux -S "$sock" kill-server >/dev/null 2>&1
  rm -rf "$dir"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "--- pane:"
  cap | cat -v | cut -c1-160 | head -45
  exit 1
}

# --- assets of our own: one colour per tile, a small known map ------------
tile() {  # name value
  local row="" i
  for i in $(seq 16); do row+=" $2"; done
  for i in $(seq 16); do echo "$row"; done >"$dir/$1"
}
tile brick03.mem 4   # red bricks
tile flame01.mem 2
tile flame02.mem 12
tile skull01.mem 14  # yellow skull
tile wayfar1.mem 10  # light green player
{
  for y in $(seq 0 31); do
    row=""
    for x in $(seq 0 63); do
      v=0
      if ((y == 0)); then v=1; fi           # a wall of bricks along the top
      if ((x == 6 && y == 2)); then v=4; fi  # a skull to the right
      row+=" $v"
    done
    echo "$row"
  done
} >"$dir/map002.mem"

# --- tmux helpers ----------------------------------------------------------
cap() { tmux -S "$sock" capture-pane -t t -e -p 2>/dev/null; }
pane_flag() { tmux -S "$sock" display-message -t t -p "#{$1}"; }
# Polls `cond` (a shell command) for up to $1 seconds.
wait_until() {
  local limit=$1
  shift
  local i
  for ((i = 0; i < limit * 10; ++i)); do
    if eval "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}
# Waits for the program to end, then has the shell print its exit status.
ended() {
  wait_until 5 '[[ "$(pane_flag pane_current_command)" != mapwalk1 ]]' || return 1
  tmux -S "$sock" send-keys -t t 'echo "STATUS""=$?"' Enter
  wait_until 5 'cap | grep -q "STATUS=[0-9]"'
}
status() { cap | grep -o 'STATUS=[0-9]*' | tail -1; }
# The pid of a child process of $1 (read from /proc, no other tools needed).
child_of() {
  local p st rest
  for p in /proc/[0-9]*; do
    st=$(cat "$p/stat" 2>/dev/null) || continue
    rest=${st##*) }  # fields after the command name: state ppid ...
    read -r _ ppid _ <<<"$rest"
    if [[ "$ppid" == "$1" ]]; then echo "${p#/proc/}"; return; fi
  done
}
# The most half blocks on one line of the pane: the picture's width in cells.
widest() { cap | awk '{ n = gsub(/\xe2\x96\x80/, "&"); if (n > m) m = n } END { print m + 0 }'; }

colourterm="COLORTERM=truecolor"
[[ "$case_name" == colour256 ]] && colourterm="COLORTERM="
pane_x=100 pane_y=40
[[ "$case_name" == scroll ]] && pane_x=326 pane_y=104
tmux -S "$sock" -f /dev/null new-session -d -s t -x $pane_x -y $pane_y \
  "env -u DISPLAY -u WAYLAND_DISPLAY PS1='$ ' TERM=screen-256color bash --norc --noprofile" ||
  { echo "skip: tmux cannot start"; exit 77; }
tmux -S "$sock" set-option -t t window-size manual >/dev/null 2>&1

tmux -S "$sock" send-keys -t t "cd '$dir' && $colourterm SCRBK=term '$exe'" Enter

half=$'\xe2\x96\x80'
wait_until 10 '[[ "$(pane_flag alternate_on)" == 1 ]] && cap | grep -q "$half"' ||
  fail "the picture did not appear"
sleep 0.3  # let a frame or two settle
first=$(cap)

case "$case_name" in
picture)
  # 320 x 200 in 100 x 40 cells: factor 4, 80 cells wide, 25 rows.
  [[ "$(widest)" == 80 ]] || fail "picture $(widest) cells wide, expected 80"
  # (The one-pixel frame is thinner than a block and gives way to the black around it.)
  for rgb in "85;255;85" "170;0;0" "255;255;85"; do
    grep -q "2;$rgb" <<<"$first" || fail "colour $rgb (player, brick, skull) not shown"
  done
  [[ "$(pane_flag cursor_flag)" == 0 ]] || fail "cursor not hidden"

  tmux -S "$sock" send-keys -t t 6
  wait_until 5 '[[ "$(cap)" != "$first" ]]' || fail "6 did not move the view"
  tmux -S "$sock" send-keys -t t 4
  wait_until 5 '[[ "$(cap)" == "$first" ]]' || fail "4 did not bring the first view back"

  # A smaller terminal: factor 6 (320 / 60), 54 cells wide, redrawn whole.
  tmux -S "$sock" resize-window -t t -x 60 -y 20
  wait_until 5 '[[ "$(widest)" == 54 ]]' || fail "after resize the picture is $(widest) wide, expected 54"
  cap | grep -q "2;85;255;85" || fail "player missing after resize"
  tmux -S "$sock" resize-window -t t -x 100 -y 40
  wait_until 5 '[[ "$(widest)" == 80 ]]' || fail "picture not back to 80 wide"

  tmux -S "$sock" send-keys -t t Escape
  ended || fail "ESC did not end the program"
  [[ "$(status)" == STATUS=0 ]] || fail "exit code not 0: $(status)"
  [[ "$(pane_flag alternate_on)" == 0 ]] || fail "still on the alternate screen"
  [[ "$(pane_flag cursor_flag)" == 1 ]] || fail "cursor still hidden"
  cap | grep -q $'\e\\[\\([0-9]*;\\)*44[;m]' || fail "console not painted blue"
  ;;
scroll)
  # 320 x 200 unscaled in 326 x 104 cells: 320 cells wide.
  [[ "$(widest)" == 320 ]] || fail "picture $(widest) cells wide, expected 320"
  # Waits for the pane to change from $1 and then hold still.
  settled() {
    local before=$1 a b i
    wait_until 5 '[[ "$(cap)" != "$before" ]]' || return 1
    a=$(cap)
    for ((i = 0; i < 50; ++i)); do
      sleep 0.2
      b=$(cap)
      [[ "$b" == "$a" ]] && return 0
      a=$b
    done
    return 1
  }
  # The pane's cells as seen: tmux reports blank cells beside the picture that
  # a shift has touched with a colour reset, untouched ones without; both
  # show the terminal's default colours, so the resets are left out.
  seen() { sed -e 's/\x1b\[39m\x1b\[49m//g' -e 's/ *$//'; }
  # Right, down-right, down, up-left, up, left: back where it started.
  prev=$first
  for key in 6 3 2 7 8 4; do
    tmux -S "$sock" send-keys -t t $key
    settled "$prev" || fail "$key did not move the view"
    [[ "$(cap | seen)" != "$(seen <<<"$prev")" ]] || fail "$key did not move the view"
    moved=$(cap | seen)
    # One column more or less is a new size: the picture is repainted whole,
    # in the same place (the margin stays 3 cells).
    for width in 327 326; do
      tmux -S "$sock" resize-window -t t -x $width -y 104
      wait_until 5 '[[ "$(cap | seen)" == "$moved" ]]' ||
        { diff <(echo "$moved" | cat -v) <(cap | seen | cat -v) | cut -c1-300 | head -20; fail "after $key the pane differs from a repaint of it"; }
    done
    prev=$(cap)
  done
  [[ "$(seen <<<"$prev")" == "$(seen <<<"$first")" ]] || fail "the walk back did not give the first view"
  tmux -S "$sock" send-keys -t t Escape
  ended || fail "ESC did not end the program"
  [[ "$(status)" == STATUS=0 ]] || fail "exit code not 0: $(status)"
  ;;
colour256)
  grep -q "38;5;" <<<"$first" || fail "no 256-colour codes"
  grep -q "38;2;" <<<"$first" && fail "24-bit codes without COLORTERM"
  tmux -S "$sock" send-keys -t t Escape
  ended || fail "ESC did not end the program"
  [[ "$(status)" == STATUS=0 ]] || fail "exit code not 0: $(status)"
  ;;
signal)
  tmux -S "$sock" send-keys -t t C-c
  ended || fail "Ctrl+C did not end the program"
  [[ "$(status)" == STATUS=130 ]] || fail "not ended by SIGINT: $(status)"
  [[ "$(pane_flag alternate_on)" == 0 ]] || fail "still on the alternate screen"
  [[ "$(pane_flag cursor_flag)" == 1 ]] || fail "cursor still hidden"
  ;;
sigterm)
  pid=$(child_of "$(pane_flag pane_pid)")
  [[ -n "$pid" ]] || fail "no mapwalk1 process under the pane's shell"
  kill -TERM "$pid"
  ended || fail "SIGTERM did not end the program"
  [[ "$(status)" == STATUS=143 ]] || fail "not ended by SIGTERM: $(status)"
  [[ "$(pane_flag alternate_on)" == 0 ]] || fail "still on the alternate screen"
  [[ "$(pane_flag cursor_flag)" == 1 ]] || fail "cursor still hidden"
  ;;
*)
  echo "unknown case '$case_name'"
  exit 2
  ;;
esac

# The terminal is usable again: line editing and echo are back.
tmux -S "$sock" send-keys -t t "stty -a > '$dir/stty'" Enter
wait_until 5 '[[ -s "$dir/stty" ]]' || fail "the shell does not take a command"
grep -qw -- "-icanon" "$dir/stty" && fail "terminal left without line editing"
grep -qw -- "-echo" "$dir/stty" && fail "terminal left without echo"
grep -qw "icanon" "$dir/stty" || fail "icanon not restored"
echo "ok: $case_name"
exit 0
