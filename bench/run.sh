#!/usr/bin/env bash
# SHA-256 throughput of ModelIntegrity beside `openssl dgst -sha256` and `sha256sum`,
# on the same file in the same run, reported as ratios. The file is read once first so
# every tool hashes from the page cache; each tool's best of several runs counts.
#   bench/run.sh [BUILD_DIR] [SIZE_MIB] [RUNS]
set -euo pipefail

build_dir=${1:-build}
size_mib=${2:-1024}
runs=${3:-3}
bench="$build_dir/bench/sha256bench"
[[ -x $bench ]] || { echo "build first: $bench is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/model.bin"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$file"
cat "$file" > /dev/null

# Best wall-clock seconds of `runs` runs of the command; prints "seconds digest".
best() {
    local best_time="" digest="" start end elapsed
    for ((i = 0; i < runs; i++)); do
        start=$(date +%s.%N)
        digest=$("$@" | grep -oE '[0-9a-f]{64}' | head -n1)
        end=$(date +%s.%N)
        elapsed=$(awk -v a="$end" -v b="$start" 'BEGIN { printf "%.6f", a - b }')
        if [[ -z $best_time ]] || awk -v a="$elapsed" -v b="$best_time" 'BEGIN { exit !(a < b) }'; then
            best_time=$elapsed
        fi
    done
    echo "$best_time $digest"
}

read -r ours ours_digest < <(best "$bench" "$file")
read -r openssl openssl_digest < <(best openssl dgst -sha256 "$file")
read -r coreutils coreutils_digest < <(best sha256sum "$file")

if [[ $ours_digest != "$openssl_digest" || $ours_digest != "$coreutils_digest" ]]; then
    echo "digests differ: ours $ours_digest, openssl $openssl_digest, sha256sum $coreutils_digest" >&2
    exit 1
fi

rate() { awk -v s="$size_mib" -v t="$1" 'BEGIN { printf "%.1f", s / t }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }
printf '%-22s %10s %12s\n' tool seconds "MiB/s"
printf '%-22s %10.3f %12s\n' "ModelIntegrity" "$ours" "$(rate "$ours")"
printf '%-22s %10.3f %12s\n' "openssl dgst -sha256" "$openssl" "$(rate "$openssl")"
printf '%-22s %10.3f %12s\n' "sha256sum" "$coreutils" "$(rate "$coreutils")"
echo "throughput ratio vs openssl:   $(ratio "$ours" "$openssl")  (goal: at least 0.90)"
echo "throughput ratio vs sha256sum: $(ratio "$ours" "$coreutils")"
