#!/usr/bin/env bash
# Drives the real terminal back end inside tmux: keys typed with send-keys
# must arrive as their PC key codes, the screen must show box characters
# and accents, the terminal must be given back on a normal exit, on the
# fatal signals and on an uncaught exception; the 80 x 25 screen must be
# centred on a larger terminal, follow a resize, show 24 of its rows on an
# 80 x 24 one, and a smaller terminal must show the size needed instead;
# a terminal type that cannot show screens (dumb) must be refused untouched.
#
# usage: curses_terminal_test.sh KEYECHO     (exit 77: skipped)
set -u

keyecho=${1:?usage: curses_terminal_test.sh KEYECHO}
if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIPPED: tmux is not installed; the real terminal was not tested"
  exit 77
fi

export LANG=C.UTF-8 LC_ALL=C.UTF-8
socket="kit-curses-test-$$"
work=$(mktemp -d)
failures=0
passes=0

tm() { tmux -L "$socket" -f /dev/null "$@"; }
cleanup() {
  tm kill-server >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [[ "$2" == "$3" ]]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $1: expected '$2', got '$3'"
  fi
}

holds() {  # holds FAILURE COMMAND...: a pass when COMMAND succeeds
  local failure=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: $failure"
  fi
}

# Waits until FILE has at least N lines (up to ~10 s).
wait_lines() {
  local file=$1 n=$2 i
  for ((i = 0; i < 200; i++)); do
    if [[ -f "$file" ]] && (($(wc -l <"$file") >= n)); then return 0; fi
    sleep 0.05
  done
  return 1
}

# Waits until the pane shows (or with "!" no longer shows) TEXT.
wait_screen() {
  local session=$1 text=$2 negate=${3:-} i
  for ((i = 0; i < 200; i++)); do
    if tm capture-pane -p -t "$session" 2>/dev/null | grep -qF -- "$text"; then
      [[ -z "$negate" ]] && return 0
    else
      [[ -n "$negate" ]] && return 0
    fi
    sleep 0.05
  done
  return 1
}

start() {  # start SESSION WIDTH HEIGHT REPORT [TERM [ARG...]]
  tm new-session -d -s "$1" -x "$2" -y "$3" \
    "env TERM=${5:-xterm-256color} LANG=C.UTF-8 '$keyecho' '$4' 11 ${*:6}; sleep 30"
}

# Starts keyecho as `start` does and waits for its screen; when the screen
# does not come up that is a failure ("keyecho starts WHAT"), and false.
start_shown() {  # start_shown WHAT SESSION WIDTH HEIGHT REPORT [TERM [ARG...]]
  local what=$1
  shift
  start "$@"
  wait_lines "$4" 1 && wait_screen "$1" "PÀGINA" && return 0
  check "keyecho starts $what" "ready" "$(cat "$4" 2>/dev/null)"
  return 1
}

# --- keys and screen ---------------------------------------------------------
report="$work/keys.txt"
start keys 80 25 "$report"
if ! wait_lines "$report" 1; then
  echo "FAIL: keyecho did not start: $(cat "$report" 2>/dev/null)"
  exit 1
fi

screen=$(tm capture-pane -p -t keys)
for text in "╔══════" "══════╗" "║ PÀGINA Ç àéíòú ñ € " "╚══════" "┌─┐ └─┘ │"; do
  holds "the screen does not show '$text'" grep -qF -- "$text" <<<"$screen"
done
row3=$(sed -n 3p <<<"$screen")
check "frame position" "         ╔" "${row3:0:10}"
check "last row written" "keyecho" "$(sed -n 25p <<<"$screen" | tr -d ' ')"

# Colours: PC white (15) on blue (1) for the frame, yellow (14) on red (4)
# for the small box; blue and red swap places in curses numbering.
colour_check() {  # colour_check DESCRIPTION ROWTEXT PIECE... (in this order)
  local what=$1 row=$2 rest p
  shift 2
  rest=$row
  for p in "$@"; do
    if [[ "$rest" != *"$p"* ]]; then
      failures=$((failures + 1))
      echo "FAIL: $what: no '$(cat -v <<<"$p")' in $(cat -v <<<"$row")"
      return
    fi
    rest=${rest#*"$p"}
  done
  passes=$((passes + 1))
}
coloured=$(tm capture-pane -p -e -t keys)
colour_check "bright white on blue (16 colours)" "$(sed -n 5p <<<"$coloured")" \
  $'\e[97m' $'\e[44m' "║ PÀGINA"
colour_check "bright yellow on red (16 colours)" "$(sed -n 7p <<<"$coloured")" \
  $'\e[93m' $'\e[41m' "┌─┐"

# With 8 colours bright foregrounds are bold.
if start_shown "with 8 colours" eight 80 25 "$work/eight.txt" xterm; then
  coloured=$(tm capture-pane -p -e -t eight)
  colour_check "bold white on blue (8 colours)" "$(sed -n 5p <<<"$coloured")" \
    $'\e[1m' $'\e[37m' $'\e[44m' "║ PÀGINA"
  colour_check "yellow on red (8 colours)" "$(sed -n 7p <<<"$coloured")" \
    $'\e[33m' $'\e[41m' "┌─┐"
fi
tm kill-session -t eight

# tmux key name -> expected "key <code> <modifiers>" line.
keys=(
  "F1|key 3b00 0"
  "S-F3|key 5600 10"
  "C-Left|key 7300 8"
  "C-Right|key 7400 8"
  "C-Home|key 7700 8"
  "M-x|key 2d00 2"
  "M-c|key 2e00 2"
  "M-e|key 1200 2"
  "M-F4|key 6b00 2"
  "C-F4|key 6100 8"
  "F12|key 8600 0"
  "Escape|key 1b 0"
  "é|key 82 0"
  "À|key b7 0"
  "NPage|key 5100 0"
  "PPage|key 4900 0"
  "IC|key 5200 0"
  "DC|key 5300 0"
  "Home|key 4700 0"
  "End|key 4f00 0"
  "Up|key 4800 0"
  "Tab|key 9 0"
  "BTab|key f00 10"
  "Enter|key d 0"
  "BSpace|key 8 0"
  "C-c|key 3 0"
  "C-v|key 16 0"
  "M-1|key 4f00 2"
  "a|key 61 0"
)
line=1
for entry in "${keys[@]}"; do
  key=${entry%%|*}
  want=${entry#*|}
  tm send-keys -t keys -- "$key"
  line=$((line + 1))
  # One key at a time: Esc must stand alone, not become Alt+ the next key.
  if wait_lines "$report" "$line"; then
    check "key $key" "$want" "$(sed -n "${line}p" "$report")"
  else
    check "key $key" "$want" "(nothing)"
    line=$((line - 1))
  fi
done

tm send-keys -t keys C-q
wait_lines "$report" $((line + 2))
check "ends on its stop key" "end" "$(tail -n 1 "$report")"
# The program's screen is gone once it has left: the terminal was restored.
holds "the frame is still on screen after a normal exit" wait_screen keys "PÀGINA" not

# --- every way out gives the terminal back ---------------------------------------
# tmux's view of the pane: alternate screen, mouse reporting, keypad modes.
modes() {
  tm display-message -p -t "$1" \
    'alt=#{alternate_on} mouse=#{mouse_any_flag}#{mouse_standard_flag}#{mouse_sgr_flag} keypad=#{keypad_cursor_flag}#{keypad_flag} cursor=#{cursor_flag}'
}
restored="alt=0 mouse=000 keypad=00 cursor=1"
wait_modes() {  # wait_modes SESSION WANT
  local i
  for ((i = 0; i < 200; i++)); do
    [[ "$(modes "$1")" == "$2" ]] && return 0
    sleep 0.05
  done
  return 1
}
wait_modes keys "$restored"
check "modes after a normal exit" "$restored" "$(modes keys)"

keyecho_pid() {  # from its "ready <pid>" line
  sed -n '1s/^ready \([0-9][0-9]*\)$/\1/p' "$1"
}

n=0
for way in TERM INT HUP SEGV ABRT exception; do
  n=$((n + 1))
  session="way$n"
  rep="$work/way$n.txt"
  start_shown "($way)" "$session" 80 25 "$rep" xterm-256color 78 || continue
  check "modes while running ($way)" "alt=1 mouse=111 keypad=11 cursor=1" "$(modes "$session")"
  if [[ $way == exception ]]; then
    tm send-keys -t "$session" x  # 0x78: throws, nobody catches
  else
    pid=$(keyecho_pid "$rep")
    if [[ -z "$pid" ]]; then
      check "keyecho process found ($way)" "a pid" "none"
      continue
    fi
    kill -s "$way" "$pid"
  fi
  wait_modes "$session" "$restored"
  check "modes after $way" "$restored" "$(modes "$session")"
  holds "the program's screen is still shown after $way" wait_screen "$session" "PÀGINA" not
done

# --- the 80 x 25 screen on other sizes ------------------------------------------
# Larger: centred, the same cells. 120 x 40 puts screen row 3, column 10 at
# terminal row 3 + 7, column 10 + 20.
if start_shown "at 120 x 40" large 120 40 "$work/large.txt"; then
  big=$(tm capture-pane -p -t large)
  row=$(sed -n 10p <<<"$big")
  check "frame centred at 120 x 40" "$(printf '%29s' '')╔" "${row:0:30}"
  check "last screen row at 120 x 40" "keyecho" "$(sed -n 32p <<<"$big" | tr -d ' ')"
  # A terminal resized while the program runs: the screen moves with it.
  tm resize-window -t large -x 80 -y 25
  if wait_screen large "keyecho"; then
    sleep 0.3
    row=$(tm capture-pane -p -t large | sed -n 3p)
    check "frame back at 80 x 25" "         ╔" "${row:0:10}"
  else
    check "screen follows a resize" "keyecho on row 25" "$(tm capture-pane -p -t large)"
  fi
fi

# 24 rows (tmux does not grow on request): 24 of the 25 rows, the cursor's.
if start_shown "at 80 x 24" short 80 24 "$work/short.txt"; then
  short=$(tm capture-pane -p -t short)
  row=$(sed -n 3p <<<"$short")
  check "24 rows: frame on its row" "         ╔" "${row:0:10}"
  check "24 rows: row 25 out of view" "" "$(grep -F keyecho <<<"$short")"
fi

# --- a terminal smaller than 80 x 24 shows what it needs --------------------------
# At the start and when made smaller: one line saying the size needed, keys
# thrown away, and the whole screen back once the terminal is large enough.
report3="$work/small.txt"
start small 70 20 "$report3"
wait_lines "$report3" 1
check "small screen starts" "ready" "$(cut -d' ' -f1 "$report3")"
holds "no notice on a 70 x 20 terminal: $(tm capture-pane -p -t small)" \
  wait_screen small "The terminal is too small: 80 x 24 is needed (it is 70 x 20)"
check "only the notice on a small screen" "" "$(tm capture-pane -p -t small | grep -F 'PÀGINA')"
tm send-keys -t small a
sleep 0.3
check "a key at a small screen is dropped" "1" "$(wc -l <"$report3")"
tm resize-window -t small -x 80 -y 25
holds "the screen did not come when the terminal grew" wait_screen small "PÀGINA"
tm resize-window -t small -x 60 -y 25
holds "no notice once made smaller again" wait_screen small "(it is 60 x 25)"
tm resize-window -t small -x 120 -y 40
holds "the screen did not come back" wait_screen small "PÀGINA"
row=$(tm capture-pane -p -t small | sed -n 10p)
check "frame back in place at 120 x 40" "$(printf '%29s' '')╔" "${row:0:30}"
tm send-keys -t small b
wait_lines "$report3" 2
check "keys taken again" "key 62 0" "$(sed -n 2p "$report3")"

# --- a terminal type that cannot show screens is refused at once ------------------
for type in dumb no-such-terminal; do
  rep="$work/type-$type.txt"
  tm new-session -d -s "t$type" -x 80 -y 25 \
    "env TERM=$type LANG=C.UTF-8 '$keyecho' '$rep' 11 2>'$rep.err'; echo STATUS=\$?; sleep 30"
  holds "keyecho under TERM=$type did not end at once" wait_screen "t$type" "STATUS=1"
  holds "TERM=$type: no reason given: $(cat "$rep.err")" grep -qF "the terminal type \"$type\"" "$rep.err"
  # Nothing but the shell's line was written to the terminal.
  check "TERM=$type leaves the terminal alone" "STATUS=1" "$(tm capture-pane -p -t "t$type" | grep -v '^$')"
done

echo "$passes passed, $failures failed"
((failures == 0))
