# Shared by the end-to-end test scripts (sourced, not run): the PASS/FAIL
# tally and the small waiting and text helpers they all use.
#
# The sourcing script reports with pass/fail/check and ends with its own
# summary from PASSED and FAILED.

PASSED=0
FAILED=0

pass() {
    PASSED=$((PASSED + 1))
    echo "PASS: $1"
}

# fail NAME [DETAIL...]
fail() {
    FAILED=$((FAILED + 1))
    echo "FAIL: $1"
    shift
    local line
    for line in "$@"; do
        echo "      $line"
    done
}

# check NAME STATUS [DETAIL...]: PASS when STATUS is 0.
check() {
    local name=$1 status=$2
    shift 2
    if [ "$status" -eq 0 ]; then pass "$name"; else fail "$name" "$@"; fi
}

now_ms() { date +%s%3N; }

# wait_for FILE PATTERN SECONDS: until the extended regular expression
# matches a line of the file, or the time is up (the status says which).
wait_for() {
    local file=$1 pattern=$2 deadline=$(($(now_ms) + $3 * 1000))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        grep -qE -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    grep -qE -- "$pattern" "$file" 2>/dev/null
}

# value_between FILE START END: the text of the file between the first START
# and the first END after it, trailing line feeds kept.
value_between() {
    local content
    content=$(cat "$1"; echo x)
    content=${content%x}
    content=${content#*"$2"}
    echo -n "${content%%"$3"*}"
}

is_integer() {
    [[ $1 =~ ^-?[0-9]+$ ]]
}
