# Shared by the peer scripts: sourced, not run.

require_tools() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed"
            exit 77
        fi
    done
}

# random_bytes FILE SIZE SEED: the same bytes on every run.
random_bytes() {
    perl -e 'srand($ARGV[1]); binmode STDOUT;
             print pack("C*", map { int(rand(256)) } 1 .. $ARGV[0])' "$2" "$3" >"$1"
}

# ff_bytes COUNT: COUNT bytes of FFh (an erased EPROM, the default fill).
ff_bytes() {
    head -c "$1" /dev/zero | tr '\0' '\377'
}

# pad_ff IN SIZE OUT: IN followed by FFh up to SIZE bytes.
pad_ff() {
    { cat "$1"; ff_bytes $(($2 - $(stat -c %s "$1"))); } >"$3"
}

failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures case(s) failed"
        exit 1
    fi
    echo "all cases passed"
}
