# Sourced by the scripts that run CTest: what a run's reports say, test by test.

# Prints "passed failed" for the cases of one gtest XML report.
pellith_count_cases() {
    awk '
        /<testcase / { incase = 1; bad = 0; skip = ($0 ~ /result="skipped"/ || $0 ~ /status="notrun"/)
                       if ($0 ~ /\/>[[:space:]]*$/) { done = 1 } else { done = 0 } }
        incase && /<failure/ { bad = 1 }
        incase && /<skipped/ { skip = 1 }
        incase && (done || /<\/testcase>/) {
            if (bad) f++; else if (!skip) p++
            incase = 0
        }
        END { printf "%d %d\n", p + 0, f + 0 }' "$1"
}

# Prints "name<TAB>status" for each test of CTest's JUnit report, reading the two attributes of
# every <testcase> tag wherever they stand in it.
pellith_junit_tests() {
    awk '
        function attribute(tag, name,    found) {
            if (match(tag, "[[:space:]]" name "=\"[^\"]*\"")) {
                found = substr(tag, RSTART, RLENGTH)
                sub(/^[[:space:]][^=]*="/, "", found)
                return substr(found, 1, length(found) - 1)
            }
            return ""
        }
        {
            rest = $0
            while (match(rest, /<testcase[[:space:]][^>]*>/)) {
                tag = substr(rest, RSTART, RLENGTH)
                rest = substr(rest, RSTART + RLENGTH)
                printf "%s\t%s\n", attribute(tag, "name"), attribute(tag, "status")
            }
        }' "$1"
}

# The tests of one build folder whose programs write a gtest XML report.
pellith_report_tests() {
    ctest --test-dir "$1" -N -L '^report$' 2>/dev/null |
        sed -n 's/^ *Test *#[0-9]*: *\([^ ]*\).*$/\1/p'
}

# Runs a command (CTest over Windows programmes) under a private X server when no display is set.
# Wine's own processes of the prefix PREFIX must end before that server goes, or they report the
# broken connection on the way out.
pellith_with_display() { # PREFIX COMMAND...
    local prefix=$1
    shift
    if [ -n "${DISPLAY:-}" ]; then
        "$@"
        return
    fi
    xvfb-run -a -s '-screen 0 1280x1024x24' bash -c \
        '"$@"; status=$?; export WINEPREFIX=$0; timeout 60 wineserver -w || wineserver -k; exit $status' \
        "$prefix" "$@"
}
