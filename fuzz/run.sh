#!/usr/bin/env bash
# Builds the libFuzzer programs with clang into build/fuzz and runs each target for SECONDS
# (default 600) on a scratch copy of its seed corpus, then prints a summary of executions per
# second and coverage.
#
#   fuzz/run.sh [SECONDS] [TARGET...]   TARGET: scene render trace ply mesh (default: all five)
#
# Environment: FUZZ_JOBS=N runs N targets at once (default 1); FUZZ_BUILD_DIR overrides
# build/fuzz. Inputs that made a target fail land in build/fuzz/work/TARGET/artifacts; copy them
# to fuzz/regressions/TARGET/ once the fault is fixed.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
build="${FUZZ_BUILD_DIR:-$root/build/fuzz}"
jobs="${FUZZ_JOBS:-1}"

seconds=600
if [[ $# -gt 0 && "$1" =~ ^[0-9]+$ ]]; then
    seconds="$1"
    shift
fi
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(scene render trace ply mesh)
for t in "${targets[@]}"; do
    case "$t" in
    scene | render | trace | ply | mesh) ;;
    *)
        echo "run.sh: unknown target \"$t\" (expected scene, render, trace, ply or mesh)" >&2
        exit 2
        ;;
    esac
done

mkdir -p "$build"
flags="-O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_NOHASHDIR=1
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" \
    -DVELQUIN_BUILD_FUZZ=ON -DVELQUIN_BUILD_TESTS=OFF -DVELQUIN_BUILD_BENCH=OFF \
    "${launcher[@]}" >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    exit 1
}
cmake --build "$build" --target $(printf 'fuzz_%s ' "${targets[@]}")

# Reports of the sanitizers name the faulting lines; a leak is a finding as well.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/lsan.supp:print_suppressions=0}"

run_one() {
    local t="$1"
    local work="$build/work/$t"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    # A scratch copy: inputs the fuzzer finds go there, never into the repository's corpus.
    # The render target takes scenes: the scene seeds and dictionary, and its own seeds.
    local seeds="$t"
    [[ "$t" == render ]] && seeds=scene
    cp -r "$here/corpus/$seeds/." "$work/corpus/"
    [[ -d "$here/corpus/$t" ]] && cp -r "$here/corpus/$t/." "$work/corpus/"
    local dict=()
    [[ -f "$here/dict/$seeds.dict" ]] && dict=("-dict=$here/dict/$seeds.dict")
    (cd "$work" && "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
        "${dict[@]}" corpus >"$work/log.txt" 2>&1) || true
}

running=0
for t in "${targets[@]}"; do
    echo "fuzzing $t for $seconds s (log: $build/work/$t/log.txt)"
    run_one "$t" &
    running=$((running + 1))
    if [[ $running -ge $jobs ]]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait || true

printf '\n%-6s %12s %9s %7s %7s %7s %9s  %s\n' target runs exec/s cov ft corpus findings result
status=0
for t in "${targets[@]}"; do
    log="$build/work/$t/log.txt"
    # libFuzzer's last status line ("#N DONE cov: C ft: F corp: K/S exec/s: E ...") or, after a
    # failure, the last progress line.
    line="$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)"
    runs="$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$log" | grep -oE '[0-9]+$' || true)"
    eps="$(grep -oE 'stat::average_exec_per_sec: [0-9]+' "$log" | grep -oE '[0-9]+$' || true)"
    cov="$(grep -oE 'cov: [0-9]+' <<<"$line" | grep -oE '[0-9]+' || true)"
    ft="$(grep -oE 'ft: [0-9]+' <<<"$line" | grep -oE '[0-9]+' || true)"
    corp="$(grep -oE 'corp: [0-9]+' <<<"$line" | grep -oE '[0-9]+' || true)"
    [[ -z "$eps" ]] && eps="$(grep -oE 'exec/s: [0-9]+' <<<"$line" | grep -oE '[0-9]+' || true)"
    findings="$(find "$build/work/$t/artifacts" -type f | wc -l)"
    result=ok
    if [[ $findings -gt 0 ]]; then
        result="FAILED: $(find "$build/work/$t/artifacts" -type f -printf '%f ' | head -c 200)"
        status=1
    elif ! grep -q 'Done [0-9]* runs' "$log"; then
        result="did not finish, see $log"
        status=1
    fi
    printf '%-6s %12s %9s %7s %7s %7s %9s  %s\n' "$t" "${runs:--}" "${eps:--}" "${cov:--}" \
        "${ft:--}" "${corp:--}" "$findings" "$result"
done
exit $status
