#!/usr/bin/env bash
# `murmel transcribe` beside whisper.cpp's own whisper-cli, built from the same source with
# the same portable flags, on the base.en-sized generated model and a 30 s speech file,
# greedy decoding, the same thread count, in the same run. Goal: time ratio at most 1.05.
#   bench/transcribe.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
runs=${2:-3}
murmel="$build_dir/murmel"
makemodel="$build_dir/tests/tools/makemodel"
source_dir="$build_dir/_deps/whisper.cpp"
cli_build="$build_dir/_deps/whisper-cli-build"
[[ -x $murmel && -x $makemodel ]] || { echo "build first: make build" >&2; exit 1; }

if [[ ! -x $cli_build/bin/whisper-cli ]]; then
    echo "Building whisper-cli from $source_dir (once)"
    cmake -S "$source_dir" -B "$cli_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_SHARED_LIBS=OFF \
        -DWHISPER_BUILD_EXAMPLES=ON -DWHISPER_BUILD_TESTS=OFF -DWHISPER_BUILD_SERVER=OFF -DGGML_CCACHE=OFF \
        -DGGML_NATIVE=OFF -DGGML_AVX=ON -DGGML_AVX2=ON -DGGML_FMA=ON -DGGML_F16C=ON > /dev/null
    cmake --build "$cli_build" --target whisper-cli > /dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
models="$XDG_DATA_HOME/Murmel/Models"
mkdir -p "$models"
model="$models/ggml-base.en.bin"
"$makemodel" base "$model"
printf '{"base.en": "%s"}\n' "$(sha256sum "$model" | cut -d' ' -f1)" > "$work/catalog.json"
export MURMEL_MODEL_CATALOG="$work/catalog.json"

# 30 s of speech at 16 kHz, which whisper-cli reads directly.
espeak-ng -w "$work/phrase.wav" "The quick brown fox jumps over the lazy dog while the band plays on."
ffmpeg -loglevel error -stream_loop -1 -i "$work/phrase.wav" -t 30 -ar 16000 -ac 1 "$work/speech.wav"

threads=$(QT_LOGGING_RULES="murmel.speech.debug=true" "$murmel" transcribe "$work/speech.wav" 2>&1 >/dev/null |
          grep -oE 'with [0-9]+ threads' | grep -oE '[0-9]+')

now() { date +%s.%N; }
best() {
    local best_time="" start took
    for ((i = 0; i < runs; i++)); do
        start=$(now)
        "$@" > /dev/null 2>&1
        took=$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }')
        if [[ -z $best_time ]] || awk -v a="$took" -v b="$best_time" 'BEGIN { exit !(a < b) }'; then
            best_time=$took
        fi
    done
    echo "$best_time"
}

ours=$(best "$murmel" transcribe "$work/speech.wav")
reference=$(best "$cli_build/bin/whisper-cli" -m "$model" -f "$work/speech.wav" -t "$threads" -bs 1 -l en -sns -nt -np)

printf '30 s of speech, base.en-sized model, %s threads, best of %s\n' "$threads" "$runs"
printf '%-40s %8s s\n' "murmel transcribe" "$ours"
printf '%-40s %8s s\n' "whisper-cli -bs 1" "$reference"
echo "time ratio (murmel / whisper-cli): $(awk -v a="$ours" -v b="$reference" 'BEGIN { printf "%.2f", a / b }')  (goal: at most 1.05)"
