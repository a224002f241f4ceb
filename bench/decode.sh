#!/usr/bin/env bash
# AudioFileDecoder beside `ffmpeg -i F -ar 16000 -ac 1 -f f32le -` on the same long file,
# in the same run: time ratio (goal at most 1.1) and the decoder's peak memory growth
# against the size of the samples it returns (goal at most 1.1).
#   bench/decode.sh [BUILD_DIR] [MINUTES] [RUNS]
set -euo pipefail

build_dir=${1:-build}
minutes=${2:-60}
runs=${3:-3}
bench="$build_dir/bench/decodebench"
[[ -x $bench ]] || { echo "build first: $bench is missing" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/long.mp3"
# Speech-like material would do as well; a tone with noise keeps the encoder honest.
ffmpeg -loglevel error -f lavfi -i "sine=frequency=220:sample_rate=44100:duration=$((minutes * 60))" \
    -f lavfi -i "anoisesrc=color=pink:sample_rate=44100:amplitude=0.05:duration=$((minutes * 60))" \
    -filter_complex amix=inputs=2 -ac 2 -c:a libmp3lame -b:a 128k "$file"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
smaller() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

ours_best="" reference_best="" growth="" samples=""
for ((i = 0; i < runs; i++)); do
    read -r samples seconds grown < <("$bench" "$file")
    if [[ -z $ours_best ]] || smaller "$seconds" "$ours_best"; then ours_best=$seconds; fi
    growth=$grown
    start=$(now)
    ffmpeg -loglevel error -i "$file" -ar 16000 -ac 1 -f f32le - > /dev/null
    took=$(elapsed "$start" "$(now)")
    if [[ -z $reference_best ]] || smaller "$took" "$reference_best"; then reference_best=$took; fi
done

sample_kib=$((samples * 4 / 1024))
printf '%s minutes of MP3, %s samples (%s MiB of float)\n' "$minutes" "$samples" "$((sample_kib / 1024))"
printf '%-34s %8s s\n' "AudioFileDecoder" "$ours_best"
printf '%-34s %8s s\n' "ffmpeg -ar 16000 -ac 1 -f f32le" "$reference_best"
echo "time ratio (ours / ffmpeg):        $(awk -v a="$ours_best" -v b="$reference_best" 'BEGIN { printf "%.2f", a / b }')  (goal: at most 1.10)"
echo "peak growth / samples' size:       $(awk -v a="$growth" -v b="$sample_kib" 'BEGIN { printf "%.2f", a / b }')  (goal: at most 1.10)"
