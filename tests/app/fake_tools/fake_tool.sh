#!/bin/sh
# Stands in for nslookup, nmap, ping and httping (linked under those names): appends its name and
# each argument in brackets to $VELMORA_FAKE_LOG, then prints a recorded output. The output is
# $VELMORA_FAKE_DIR/<tool>.<first argument> when that file exists, else the file named by
# $VELMORA_FAKE_<TOOL>, else nothing. While $VELMORA_FAKE_DIR/hold.<tool> or
# $VELMORA_FAKE_DIR/hold.<tool>.<first argument> exists it answers nothing yet (at most 20 s), so a test
# decides how long a run stalls; its process id is then in $VELMORA_FAKE_DIR/pids, so a test sees whether
# it is still there. With $VELMORA_FAKE_ARGV set, each run also writes its name and its arguments, one a
# line, to a file of its own in that folder. Runs with PATH holding only the fakes, so it names its helpers
# by absolute path.
tool=${0##*/}
if [ -n "$VELMORA_FAKE_LOG" ]; then
    line=$tool
    for arg in "$@"; do line="$line [$arg]"; done
    # One write, so that tools running at once never mix their lines.
    printf '%s\n' "$line" >>"$VELMORA_FAKE_LOG"
fi
if [ -n "$VELMORA_FAKE_ARGV" ]; then
    # One file per run, its name and then each argument on a line of its own.
    printf '%s\n' "$tool" "$@" >"$VELMORA_FAKE_ARGV/$tool.$$"
fi
case $tool in
nslookup) out=$VELMORA_FAKE_NSLOOKUP ;;
nmap) out=$VELMORA_FAKE_NMAP ;;
ping) out=$VELMORA_FAKE_PING ;;
httping) out=$VELMORA_FAKE_HTTPING ;;
*) out= ;;
esac
if [ -n "$VELMORA_FAKE_DIR" ]; then
    echo $$ >>"$VELMORA_FAKE_DIR/pids"
    waited=0
    while { [ -e "$VELMORA_FAKE_DIR/hold.$tool" ] || [ -e "$VELMORA_FAKE_DIR/hold.$tool.$1" ]; } &&
        [ $waited -lt 400 ]; do
        /bin/sleep 0.05
        waited=$((waited + 1))
    done
fi
if [ -n "$VELMORA_FAKE_DIR" ] && [ $# -gt 0 ] && [ -f "$VELMORA_FAKE_DIR/$tool.$1" ]; then
    out=$VELMORA_FAKE_DIR/$tool.$1
fi
if [ -n "$out" ]; then exec /bin/cat -- "$out"; fi
exit 0
