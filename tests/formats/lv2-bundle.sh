#!/usr/bin/env bash
# The LV2 bundle as Debian's LV2 tools see it: its Turtle data against the LV2 schemas (lv2_validate from lv2-dev,
# which runs sord_validate), and the plug-in as lilv presents it to hosts (lv2info from lilv-utils).
# Usage: lv2-bundle.sh BUNDLE URI
set -euo pipefail
bundle=${1:?usage: lv2-bundle.sh BUNDLE URI}
uri=${2:?usage: lv2-bundle.sh BUNDLE URI}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/check.sh"

# lv2_validate passes its arguments unquoted: run it inside the bundle, whose name has a space.
(cd "$bundle" && lv2_validate manifest.ttl dsp.ttl ui.ttl) >"$work/validate.log" 2>&1 || true
# The one kind of error allowed: lv2:portProperty on the parameters (the schema's domain for it is ports, but hosts
# read it on parameters for their choices and switches).
no_errors_but_parameter_properties() {
    local errors allowed
    errors=$(grep -c '^error:' "$work/validate.log" || true)
    allowed=$(grep -A2 '^error: Subject not in domain <http://lv2plug.in/ns/lv2core#Port>$' "$work/validate.log" |
        grep -c 'lv2core#portProperty$' || true)
    ((errors == allowed)) || { grep -v '^Skipping' "$work/validate.log"; return 1; }
}
check "lv2_validate ran over the bundle" grep -q '^Found [0-9]* errors among' "$work/validate.log"
check "lv2_validate finds no errors but lv2:portProperty on parameters" no_errors_but_parameter_properties

# The build's bundle first (lilv ignores later copies of a plug-in), then the LV2 vocabulary bundles from lv2-dev,
# which name the plug-in classes.
LV2_PATH="$(dirname "$bundle"):/usr/lib/lv2" HOME="$work" lv2info "$uri" >"$work/info.txt" 2>&1 || true
info() { grep -q -- "$1" "$work/info.txt" || { cat "$work/info.txt"; return 1; }; }
check "lv2info finds the plug-in by its URI" equals "$(head -n 1 "$work/info.txt")" "$uri"
check "its name" info $'^\tName: *Tolmar Vez$'
check "a pitch plug-in" info $'^\tClass: *Pitch'
check "its binary from this bundle" info "Binary: *file://${bundle// /%20}/Tolmar%20Vez.so$"
check "four audio inputs (voice and beat), two outputs" equals "$(grep -c 'Symbol: *audio_in_' "$work/info.txt") $(grep -c 'Symbol: *audio_out_' "$work/info.txt")" "4 2"
check "every audio port to be connected (the wrapper reads them all)" equals \
    "$(awk '/Symbol: *audio_/ { audio = 1 } /^\tPort/ { audio = 0 } audio && /connectionOptional/' "$work/info.txt")" ""
check "the latency reported through its port" info $'^\tHas latency: *yes, reported by port'
check "an X11 editor" info $'Class: *http://lv2plug.in/ns/extensions/ui#X11UI'
no_presets() { ! grep -A1 $'^\tPresets:' "$work/info.txt" | grep -q Tolmar; }
check "no preset that selects nothing" no_presets
# The host-facing parameter order is the order of patch:writable (lilv shows no parameters, so read the data).
writable=$(sed -n '/patch:writable/,/;/p' "$bundle/dsp.ttl" | grep -o 'plug:[A-Za-z]*' | sed 's/plug://' | xargs)
check "the nine parameters in the VST3's order" equals "$writable" \
    "effect root bypass language tuningSource wobble vocalStyle mastering live"
finish
