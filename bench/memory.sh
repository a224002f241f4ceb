#!/usr/bin/env bash
# Peak memory of `murmel transcribe` beside whisper.cpp's whisper-cli on the same long
# recordings (silence, so the run is quick), with the parrot model. whisper-cli holds the
# whole file; Murmel hears ten minutes at a time, so its peak should not grow with length.
#   bench/memory.sh [BUILD_DIR] [HOURS...]
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
shift || true
hours=("${@:-1 3}")
read -r -a hours <<< "${hours[*]}"
murmel="$build_dir/murmel"
makemodel="$build_dir/tests/tools/makemodel"
cli="$build_dir/_deps/whisper-cli-build/bin/whisper-cli"
[[ -x $murmel && -x $makemodel ]] || { echo "build first: make build" >&2; exit 1; }
[[ -x $cli ]] || { echo "whisper-cli is built by bench/transcribe.sh; run it once first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
model="$XDG_DATA_HOME/Murmel/Models/ggml-base.en.bin"
mkdir -p "$(dirname "$model")"
"$makemodel" parrot "$model"
printf '{"base.en": "%s"}\n' "$(sha256sum "$model" | cut -d' ' -f1)" > "$work/catalog.json"
export MURMEL_MODEL_CATALOG="$work/catalog.json"

peak() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -1; }

printf '%-8s %16s %16s %8s\n' "audio" "murmel (MB)" "whisper-cli (MB)" "ratio"
for h in "${hours[@]}"; do
    audio="$work/silence-$h.wav"
    ffmpeg -loglevel error -y -f lavfi -i anullsrc=r=16000:cl=mono -t $((h * 3600)) -c:a pcm_s16le "$audio"
    ours=$(peak "$murmel" transcribe "$audio" --model base.en)
    theirs=$(peak "$cli" -m "$model" -f "$audio" -bs 1 -l en -nt -np)
    awk -v h="$h" -v a="$ours" -v b="$theirs" \
        'BEGIN { printf "%-8s %16.0f %16.0f %8.2f\n", h " h", a / 1024, b / 1024, a / b }'
    rm -f "$audio"
done
