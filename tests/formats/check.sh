# Sourced by the format checks after they made their scratch directory $work: `check DESCRIPTION COMMAND...` runs the
# command, prints ok or FAIL with its output, and counts failures; `finish` prints the count and fails the script when
# any check failed; `equals GOT EXPECTED` compares two strings.
check_failures=0
check_log="${work:?}/check.log"
check() {
    local what=$1
    shift
    if "$@" >"$check_log" 2>&1; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        sed 's/^/     /' "$check_log" | head -n 30
        check_failures=$((check_failures + 1))
    fi
}
equals() { [[ "$1" == "$2" ]] || { echo "got '$1', expected '$2'"; return 1; }; }
finish() {
    echo "$check_failures failed"
    ((check_failures == 0))
}
