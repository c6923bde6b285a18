#!/bin/sh
# Runs two builds of page-bench in turn, case by case, so the figures before and after a change
# come from one run on the same machine state:
#   bench/ui/compare-pages.sh <page-bench before> <page-bench after> [seconds per case]
# A case that runs past its time is stopped and marked so (what it printed so far stays).
set -u
before=${1:?page-bench before}
after=${2:?page-bench after}
limit=${3:-120}
run() {
    label=$1; shift
    printf '%-7s ' "$label"
    out=$(timeout "$limit" "$@" 2>/dev/null)
    status=$?
    printf '%s' "$out"
    [ $status -eq 124 ] && printf ' ... stopped after %s s' "$limit"
    printf '\n'
}
for case in "history 1000" "history 10000" "history 100000" \
            "dictionary 100" "dictionary 1000" "dictionary 10000" \
            "apply 10000" "apply 100000"; do
    # shellcheck disable=SC2086
    run before "$before" $case
    # shellcheck disable=SC2086
    run after "$after" $case
done
