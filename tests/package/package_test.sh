#!/usr/bin/env bash
# The Debian package and the manual pages, checked as a user and a packager
# would: package_test.sh CHECK, with BUILD (the build folder), CPACK, DEB_DIR (where
# the package is built) and PAGES (the source pages' folder) in the environment.
set -uo pipefail
check=$1
tools=(cube screens triangles suite-run suite-report)
fail() { echo "FAIL: $*" >&2; exit 1; }
the_deb() {
    local debs=("$DEB_DIR"/*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in $DEB_DIR"
    echo "${debs[0]}"
}

# Option names (and subcommand names) a tool's --help gives, one a line: the
# names that open an indented line ("-h,--help", "-h, --help", "--out DIR").
option_lines() {
    sed -nE 's/^[[:space:]]+((-{1,2}[A-Za-z][A-Za-z0-9-]*(,[[:space:]]*)?)+).*/\1/p' |
        tr ', ' '\n\n' | grep -E '^-'
}
help_names() {
    local exe=$1 text sub
    text=$("$exe" --help) || fail "$exe --help failed"
    option_lines <<<"$text"
    for sub in $(awk '/^(Subcommands|SUBCOMMANDS):/{on=1; next} on && NF==0 {on=0} on {print $1}' <<<"$text"); do
        echo "$sub"
        "$exe" "$sub" --help | option_lines
    done
}

# The same from a page: the tags of its .TP paragraphs, and its .SS commands.
page_names() {
    sed 's/\\-/-/g; s/\\f[BIRP]//g' "$1" | awk '
        prev == ".TP" { print } { prev = $0 }
        /^\.SS / { print "SS " $2 }' |
        grep -oE '(^SS [a-z]+|(^|[ "])--?[A-Za-z][A-Za-z0-9-]*)' | sed -E 's/^(SS |[ "])//'
}

case $check in
build)
    rm -rf "$DEB_DIR"
    "$CPACK" -G DEB -B "$DEB_DIR" --config "$BUILD/CPackConfig.cmake" || fail "cpack failed"
    the_deb >/dev/null ;;
contents)
    deb=$(the_deb)
    listing=$(dpkg-deb --contents "$deb" | awk '{print $NF}') || fail "dpkg-deb cannot read $deb"
    missing=()
    for t in "${tools[@]}"; do
        for f in "./usr/bin/$t" "./usr/share/man/man1/$t.1.gz"; do
            grep -qxF -- "$f" <<<"$listing" || missing+=("$f")
        done
    done
    for f in copyright README.md README.report.md; do
        grep -qxF -- "./usr/share/doc/graphics-benchmarks/$f" <<<"$listing" || missing+=("$f")
    done
    [ ${#missing[@]} -eq 0 ] || fail "not in the package: ${missing[*]}"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    # xvfb, gnuplot-nox and libjs-dygraphs by hand; libc6 and the GLUT library only through dpkg-shlibdeps.
    for d in xvfb gnuplot-nox libjs-dygraphs libc6 libglut; do
        grep -qE "(^|, )$d" <<<"$depends" || fail "Depends lacks $d"
    done ;;
lintian)
    out=$(lintian --allow-root "$(the_deb)" 2>&1)
    echo "$out"
    ! grep -qE '^E: ' <<<"$out" || fail "lintian reports errors" ;;
pages)
    for t in "${tools[@]}"; do
        page="$BUILD/doc/man/$t.1.gz"
        warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "$page: $warnings"
        text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
        for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" EXAMPLES; do
            grep -qx "$section" <<<"$text" || fail "$page has no $section"
        done
    done ;;
options)
    status=0
    for t in suite-run suite-report; do
        exe=$(find "$BUILD/tools" -name "$t" -type f -perm -u+x | head -1)
        [ -n "$exe" ] || fail "no built $t"
        from_help=$(help_names "$exe" | sort -u)
        from_page=$(page_names "$PAGES/$t.1" | sort -u)
        only_page=$(comm -23 <(echo "$from_page") <(echo "$from_help") | xargs)
        only_help=$(comm -13 <(echo "$from_page") <(echo "$from_help") | xargs)
        if [ -n "$only_page$only_help" ]; then
            echo "FAIL: $t: in its page but not in --help: ${only_page:-none};" \
                 "in --help but not in its page: ${only_help:-none}" >&2
            status=1
        fi
    done
    exit $status ;;
unpacked)
    root=$(mktemp -d) || fail "no temporary folder"
    trap 'rm -rf "$root"' EXIT
    deb=$(the_deb)
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
    "$root/usr/bin/suite-run" --unattended --size 200x200 --frames 2 --out "$root/run" screens \
        </dev/null || fail "the unpacked suite-run failed"
    # The programs beside it, not those of the build it came from.
    grep -qF "\"executable\": \"$root/usr/bin/screens\"" "$root/run/run.json" ||
        fail "suite-run did not run the unpacked screens: $(grep executable "$root/run/run.json")"
    "$root/usr/bin/suite-report" -q --json "$root/report.json" "$root/run" ||
        fail "the unpacked suite-report could not read the run"
    grep -q '"program": "screens"' "$root/report.json" && grep -q '"readable": true' "$root/report.json" ||
        fail "no readable screens run in the report"
    version=$(dpkg-deb -f "$deb" Version)
    grep -qF "\"${version%-1}\"" "$root/run/screens/metadata.json" ||
        fail "metadata.json does not carry the package's version ${version%-1}" ;;
*) fail "no check named $check" ;;
esac
