#!/usr/bin/env bash
# kitprint on a real terminal inside tmux: the pager's status line and the
# notice of a written document speak the session's language, and the
# notice waits for a key before the terminal goes back to the caller; the
# pager's keys page back exactly as they paged forward; a terminal that
# cannot show the pager is refused.
#
# usage: kitprint_terminal_test.sh KITPRINT SUITE_DIR     (exit 77: skipped)
set -u
kitprint=${1:?usage: kitprint_terminal_test.sh KITPRINT SUITE_DIR}
suite=${2:?usage: kitprint_terminal_test.sh KITPRINT SUITE_DIR}
if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIPPED: tmux is not installed"
  exit 77
fi

export LANG=C.UTF-8 LC_ALL=C.UTF-8
socket="kit-kitprint-test-$$"
work=$(mktemp -d)
failures=0
tm() { tmux -L "$socket" -f /dev/null "$@"; }
cleanup() {
  tm kill-server >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  failures=$((failures + 1))
  echo "FAIL: $*"
}
wait_screen() {  # wait_screen SESSION TEXT [TRIES of 0.05 s]
  local i
  for ((i = 0; i < ${3:-200}; i++)); do
    tm capture-pane -p -t "$1" 2>/dev/null | grep -qF -- "$2" && return 0
    sleep 0.05
  done
  return 1
}

# A Spanish session on a root with kitprint's catalogue.
mkdir -p "$work/root/LOCALE" "$work/root/TMP"
cp "$suite/LOCALE/KITPRINT.LNG" "$work/root/LOCALE/"
printf '[Sistema]\r\nIdioma=SPA\r\n' >"$work/root/TMP/VoraTerm.ini"
print_file() {  # print_file DEVICE
  printf 'DEVICE%s\r\nPAGE 66 \r\n 1 ,PRIMERA, 1 \r\nPAGE 66 \r\n 1 ,SEGUNDA, 1 \r\n' "$1" >"$work/root/TMP/kitprint.tmp"
}
run() {  # run SESSION [TERM]: kitprint on the session's file, then a marker
  tm new-session -d -s "$1" -x 80 -y 24 \
    "cd '$work/root' && env -u ESCDELAY TERM=${2:-xterm-256color} KITROOT='$work/root/' KITTMP='$work/root/TMP/' '$kitprint'; echo KITPRINT-ENDED; sleep 30"
}

print_file PANTALLA
run pager
if wait_screen pager "PRIMERA"; then
  status=$(tm capture-pane -p -t pager | tail -n 1)
  [[ "$status" == " Página 1/2"* ]] || fail "pager status line: '$status'"
  # tmux's End, which xterm's description lacks: the last page, not the end.
  tm send-keys -t pager End
  wait_screen pager "SEGUNDA" || fail "End did not show the last page: $(tm capture-pane -p -t pager)"
  tm send-keys -t pager Home
  wait_screen pager "PRIMERA" || fail "Home did not show the first page"
  # A page that fits the width is not pushed off the screen by Right.
  tm send-keys -t pager Right
  sleep 0.3
  tm capture-pane -p -t pager | grep -qF "PRIMERA" || fail "Right moved a page that fits the screen out of sight"
  tm send-keys -t pager q
  wait_screen pager "KITPRINT-ENDED" || fail "q did not leave the pager"
else
  fail "the pager did not show the pages: $(tm capture-pane -p -t pager)"
fi

# Under a VT220's description tmux's Home and End arrive as Find and Select.
run pager_vt220 vt220
if wait_screen pager_vt220 "PRIMERA"; then
  tm send-keys -t pager_vt220 End
  wait_screen pager_vt220 "SEGUNDA" 40 || fail "End (Select) did not show the last page under vt220"
  tm send-keys -t pager_vt220 Home
  wait_screen pager_vt220 "PRIMERA" 40 || fail "Home (Find) did not show the first page under vt220"
  tm send-keys -t pager_vt220 q
else
  fail "the pager did not show the pages: $(tm capture-pane -p -t pager_vt220)"
fi

# Esc leaves at once, not after curses' default wait of a second for the
# rest of a key's sequence.
run pager_esc
if wait_screen pager_esc "PRIMERA"; then
  tm send-keys -t pager_esc Escape
  wait_screen pager_esc "KITPRINT-ENDED" 12 || fail "Esc took more than 0.6 s to leave the pager"
else
  fail "the pager did not show the pages: $(tm capture-pane -p -t pager_esc)"
fi

# Page Up retraces Page Down line for line, across a page's end too, at
# 80 x 24 (23 rows of page) and 120 x 40 (39): two pages of 66 lines.
{
  printf 'DEVICEPANTALLA\r\n'
  for p in 1 2; do
    printf 'PAGE 66 \r\n'
    for l in $(seq -w 1 66); do printf ' 1 ,P%s L%s, 1 \r\n' "$p" "$l"; done
  done
} >"$work/root/TMP/kitprint.tmp"
first_line() { tm capture-pane -p -t "$1" | head -n 1 | tr -d ' '; }
for size in 80x24 120x40; do
  session="paging$size"
  run "$session"
  tm resize-window -t "$session" -x "${size%x*}" -y "${size#*x}"
  if ! wait_screen "$session" "P1 L01"; then
    fail "the pager did not show the pages at $size: $(tm capture-pane -p -t "$session")"
    continue
  fi
  sleep 0.2
  trail=("$(first_line "$session")")
  for _ in 1 2 3 4 5 6; do
    tm send-keys -t "$session" NPage
    sleep 0.15
    got=$(first_line "$session")
    [[ "$got" == "${trail[-1]}" ]] && break  # the end of the document
    trail+=("$got")
  done
  for ((i = ${#trail[@]} - 2; i >= 0; i--)); do
    tm send-keys -t "$session" PPage
    sleep 0.15
    got=$(first_line "$session")
    [[ "$got" == "${trail[i]}" ]] || fail "$size: Page Up after Page Down shows '$got', not '${trail[i]}' (Page Downs: ${trail[*]})"
  done
  tm send-keys -t "$session" End
  sleep 0.15
  [[ "$(tm capture-pane -p -t "$session")" == *"P2 L66"* ]] || fail "$size: End did not show the document's last line"
  tm send-keys -t "$session" q
done

# A terminal type that cannot show the pager: refused at once, with the
# reason, the terminal left alone; a document is still written.
tm new-session -d -s dumb -x 80 -y 24 \
  "cd '$work/root' && env TERM=dumb KITROOT='$work/root/' KITTMP='$work/root/TMP/' '$kitprint' 2>'$work/dumb.err'; echo STATUS=\$?; env TERM=dumb '$kitprint' -o '$work/dumb.txt' '$work/root/TMP/kitprint.tmp' </dev/null; echo STATUS=\$?; sleep 30"
if wait_screen dumb "STATUS=0"; then
  [[ "$(tm capture-pane -p -t dumb | grep -v '^$' | head -n 1)" == "STATUS=1" ]] || fail "TERM=dumb: $(tm capture-pane -p -t dumb)"
  grep -qF 'the terminal type "dumb" cannot show full screens' "$work/dumb.err" || fail "TERM=dumb: no reason: $(cat "$work/dumb.err")"
  grep -qF "P2 L66" "$work/dumb.txt" || fail "TERM=dumb: no text document written"
else
  fail "kitprint under TERM=dumb did not end: $(tm capture-pane -p -t dumb)"
fi

print_file informe.pdf
run pdf
if wait_screen pdf "Pulse una tecla"; then
  screen=$(tm capture-pane -p -t pdf)
  grep -qF "El listado se ha guardado en $work/root/informe.pdf" <<<"$screen" || fail "no path shown: $screen"
  grep -qF "KITPRINT-ENDED" <<<"$screen" && fail "kitprint did not wait for a key"
  [[ -s "$work/root/informe.pdf" ]] || fail "no document written"
  tm send-keys -t pdf x
  wait_screen pdf "KITPRINT-ENDED" || fail "a key did not give the terminal back"
else
  fail "no notice of the written document: $(tm capture-pane -p -t pdf)"
fi

# Keys typed before kitprint began (while the listings were made) were
# meant for no one: they neither close the pager nor answer the notice.
run_late() {  # run_late SESSION: kitprint half a second after the session starts
  tm new-session -d -s "$1" -x 80 -y 24 \
    "cd '$work/root' && sleep 0.5 && env -u ESCDELAY TERM=xterm-256color KITROOT='$work/root/' KITTMP='$work/root/TMP/' '$kitprint'; echo KITPRINT-ENDED; sleep 30"
}
print_file PANTALLA
run_late early_pager
tm send-keys -t early_pager q
if wait_screen early_pager "PRIMERA"; then
  sleep 0.3
  tm capture-pane -p -t early_pager | grep -qF "KITPRINT-ENDED" && fail "a key typed before the pager closed it"
  tm send-keys -t early_pager q
  wait_screen early_pager "KITPRINT-ENDED" || fail "q did not leave the pager after the early key"
else
  grep -qF "KITPRINT-ENDED" <<<"$(tm capture-pane -p -t early_pager)" && fail "a key typed before the pager closed it unseen"
fi
print_file informe.pdf
run_late early_notice
tm send-keys -t early_notice x
if wait_screen early_notice "Pulse una tecla"; then
  sleep 0.3
  tm capture-pane -p -t early_notice | grep -qF "KITPRINT-ENDED" && fail "a key typed before the notice answered it"
  tm send-keys -t early_notice x
  wait_screen early_notice "KITPRINT-ENDED" || fail "a key did not give the terminal back after the early key"
else
  fail "no notice of the written document: $(tm capture-pane -p -t early_notice)"
fi

((failures == 0)) && echo "kitprint on the terminal: all checks passed"
((failures == 0))
