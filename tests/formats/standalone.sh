#!/usr/bin/env bash
# The standalone app under an X server, with ALSA's null device as its audio device: it starts, shows its window
# with the editor, and on a quit request (SIGINT, as from a terminal) saves its settings and exits with status 0.
# JACK is installed but not running: the app tries it and goes on with ALSA.
# Usage: standalone.sh APP   (needs DISPLAY; the test command runs the suites under xvfb-run)
set -euo pipefail
app=${1:?usage: standalone.sh APP}
work=$(mktemp -d)
pid=
cleanup() {
    [[ -n "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- app output:"; cat "$work/app.log" || true; exit 1; }

# A home of its own: no settings from an earlier run, and an ALSA default device that needs no sound card.
export HOME="$work"
printf 'pcm.!default {\n    type null\n}\n' >"$HOME/.asoundrc"

"$app" >"$work/app.log" 2>&1 &
pid=$!

window=
for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || fail "the app exited before showing its window"
    window=$(xwininfo -root -tree 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) "Tolmar Vez".*/\1/p' | head -n 1)
    [[ -n "$window" ]] && xwininfo -id "$window" | grep -q 'Map State: IsViewable' && break
    window=
    sleep 0.1
done
[[ -n "$window" ]] || fail "no viewable window named \"Tolmar Vez\" within 30 s"
width=$(xwininfo -id "$window" | sed -n 's/^ *Width: //p')
height=$(xwininfo -id "$window" | sed -n 's/^ *Height: //p')
echo "window $window: ${width}x${height}"
# The editor is 920x670; the app's window adds its title bar and options button above it.
((width >= 920 && height >= 670)) || fail "window ${width}x${height} is smaller than the editor"

sleep 1 # a second of audio callbacks through the null device
kill -0 "$pid" 2>/dev/null || fail "the app died while running"
kill -INT "$pid"
status=0
for _ in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the app did not quit within 20 s of the request"
wait "$pid" || status=$?
pid=
((status == 0)) || fail "the app exited with status $status"

settings="$HOME/.config/Tolmar Vez.settings"
[[ -f "$settings" ]] || fail "no settings saved at $settings"
# Quitting this way keeps the window's place and the audio setup; the plug-in's state is saved when the window closes.
grep -q 'name="audioSetup"' "$settings" || fail "the saved settings hold no audio setup"
grep -q 'name="windowX"' "$settings" || fail "the saved settings hold no window position"
echo "quit cleanly; settings saved"
