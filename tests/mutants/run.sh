#!/usr/bin/env bash
# Plants each fault of faults.txt in turn, builds, runs the tests and says whether they
# caught it. The planted file is always put back, also on Ctrl-C.
#
#   tests/mutants/run.sh TABLE [ID ...]     (TABLE: where the result table goes)
#
# Environment: MUTANT_BUILD (default build/mutants), MUTANT_JOBS (default 2).
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
list="$here/faults.txt"
build="${MUTANT_BUILD:-$root/build/mutants}"
jobs="${MUTANT_JOBS:-2}"
program_dirs=(image link port sim view diag cli app batch host)

if [[ $# -lt 1 || $1 == -h || $1 == --help ]]; then
    sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
fi
table=$(realpath -m "$1")
shift
cd "$root" || exit 2

python3 "$here/plant.py" check "$list" "$root" || { echo "fix faults.txt first" >&2; exit 2; }
mapfile -t rows < <(python3 "$here/plant.py" list "$list")
if [[ $# -gt 0 ]]; then
    selected=()
    for id in "$@"; do
        found=0
        for row in "${rows[@]}"; do
            [[ ${row%%$'\t'*} == "$id" ]] && selected+=("$row") && found=1
        done
        [[ $found == 1 ]] || { echo "no fault '$id' in faults.txt" >&2; exit 2; }
    done
    rows=("${selected[@]}")
fi

clean_before=0
git diff --quiet -- "${program_dirs[@]}" && clean_before=1

# The one build: Debug, no sanitizers (fast), warnings not errors (a plant may leave a
# variable unused).
if [[ ! -f $build/CMakeCache.txt ]]; then
    mkdir -p "$(dirname "$build")"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVEX_SANITIZE= \
        -DTARVEX_WERROR=OFF -DTARVEX_BENCH=OFF >"$build.configure.log" 2>&1 ||
        { echo "configure failed: $build.configure.log" >&2; exit 2; }
fi
echo "building the unplanted tree in $build ..."
# An interrupted run may have left objects of a plant behind: rebuild every listed file.
python3 "$here/plant.py" list "$list" | cut -f2 | sort -u | (cd "$root" && xargs touch)
cmake --build "$build" -j "$jobs" >"$build/mutant-build.log" 2>&1 ||
    { echo "the unplanted tree does not build: $build/mutant-build.log" >&2; exit 2; }

saved="$build/mutant-saved"
planted=""
restore() {
    if [[ -n $planted ]]; then
        # A fresh time stamp, not the old one: the build must see the file change back.
        cp "$saved" "$root/$planted"
        touch "$root/$planted"
        planted=""
    fi
}
trap 'restore; echo "stopped; the planted file is restored" >&2; exit 130' INT TERM HUP
trap restore EXIT

# First failing or timed-out test in a ctest log, or nothing.
first_failure() {
    sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\*\*\*.*/\1/p' "$1" | head -n 1
}

mkdir -p "$(dirname "$table")"
printf '%-28s %-34s %-12s %s\n' "id" "file:line" "result" "first failing test" >"$table"
started=$(date +%s)
caught=0 missed=0 broken=0 unexpected=0
for row in "${rows[@]}"; do
    IFS=$'\t' read -r id file hint known what <<<"$row"
    [[ $hint == - ]] && hint=""
    [[ $known == - ]] && known=""
    cp "$root/$file" "$saved"
    planted="$file"
    where=$(python3 "$here/plant.py" apply "$list" "$root" "$id") || { restore; continue; }
    t0=$(date +%s)
    result="" first=""
    if ! cmake --build "$build" -j "$jobs" >"$build/mutant-build.log" 2>&1; then
        result="build-failed"
        cp "$build/mutant-build.log" "$build/mutant-$id.build.log"
    else
        log="$build/mutant-$id.ctest.log"
        : >"$log"
        if [[ -n $hint ]]; then
            ctest --test-dir "$build" -R "$hint" --stop-on-failure --timeout 120 -j "$jobs" \
                >>"$log" 2>&1 || result="caught"
        fi
        if [[ -z $result ]]; then
            exclude=()
            [[ -n $hint ]] && exclude=(-E "$hint")
            ctest --test-dir "$build" "${exclude[@]}" --stop-on-failure --timeout 120 \
                -j "$jobs" >>"$log" 2>&1 || result="caught"
        fi
        if [[ $result == caught ]]; then
            first=$(first_failure "$log")
            [[ -n $first ]] || first="(ctest failed, see $log)"
        else
            result="missed"
        fi
    fi
    restore
    case $result in
        caught) caught=$((caught + 1)) ;;
        missed) missed=$((missed + 1)) ;;
        *) broken=$((broken + 1)) ;;
    esac
    if [[ $result == missed ]]; then
        [[ -n $known ]] && first="(known gap)" || unexpected=$((unexpected + 1))
    fi
    line=$(printf '%-28s %-34s %-12s %s' "$id" "$where" "$result" "$first")
    echo "$line   [$(( $(date +%s) - t0 )) s]"
    echo "$line" >>"$table"
done
total=$(( $(date +%s) - started ))
summary="$caught caught, $missed missed ($unexpected not known), $broken did not build; $((total / 60)) min $((total % 60)) s"
echo "$summary"
echo "# $summary" >>"$table"

# Leave the build matching the tree again, and say if the tree is not as it was.
cmake --build "$build" -j "$jobs" >"$build/mutant-build.log" 2>&1
if [[ $clean_before == 1 ]] && ! git diff --quiet -- "${program_dirs[@]}"; then
    echo "the program files differ from before the run: git diff" >&2
    exit 1
fi
# Success: every fault not marked known caught, and every one built.
[[ $unexpected -eq 0 && $broken -eq 0 ]]
