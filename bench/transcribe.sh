#!/usr/bin/env bash
# `murmel transcribe`, whose engine picks its processor code at run time, beside whisper.cpp's
# own whisper-cli built from the same source three ways: like Murmel's engine (every processor
# variant, picked at run time), for this machine's processor (-march=native), and for the
# portable AVX2 set Murmel used to be built for; on the base.en-sized parrot model and a 30 s
# speech file, greedy decoding, the same thread count, in the same run. Goals: the picked
# variant at most 1.05 times the native build's time, and Murmel at most 1.05 times
# whisper-cli's with the same engine.
#   bench/transcribe.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
runs=${2:-3}
murmel="$build_dir/murmel"
makemodel="$build_dir/tests/tools/makemodel"
source_dir="$build_dir/_deps/whisper.cpp"
[[ -x $murmel && -x $makemodel ]] || { echo "build first: make build" >&2; exit 1; }

# whisper-cli FOLDER FLAGS...: builds it once into the build tree and prints its path.
whisper_cli() {
    local cli_build="$build_dir/_deps/$1"
    shift
    if [[ ! -x $cli_build/bin/whisper-cli ]]; then
        echo "Building whisper-cli ($*) from $source_dir (once)" >&2
        cmake -S "$source_dir" -B "$cli_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_SHARED_LIBS=OFF \
            -DWHISPER_BUILD_EXAMPLES=ON -DWHISPER_BUILD_TESTS=OFF -DWHISPER_BUILD_SERVER=OFF -DGGML_CCACHE=OFF \
            "$@" > /dev/null
        cmake --build "$cli_build" --target whisper-cli > /dev/null
    fi
    echo "$cli_build/bin/whisper-cli"
}
dispatched_cli=$(whisper_cli whisper-cli-dispatched-build -DBUILD_SHARED_LIBS=ON -DGGML_BACKEND_DL=ON \
                 -DGGML_CPU_ALL_VARIANTS=ON -DGGML_NATIVE=OFF)
native_cli=$(whisper_cli whisper-cli-native-build -DGGML_NATIVE=ON)
portable_cli=$(whisper_cli whisper-cli-build -DGGML_NATIVE=OFF -DGGML_AVX=ON -DGGML_AVX2=ON -DGGML_FMA=ON -DGGML_F16C=ON)

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

cli_arguments=(-m "$model" -f "$work/speech.wav" -t "$threads" -bs 1 -l en -sns -nt -np)
ours=$(best "$murmel" transcribe "$work/speech.wav")
dispatched=$(best "$dispatched_cli" "${cli_arguments[@]}")
native=$(best "$native_cli" "${cli_arguments[@]}")
portable=$(best "$portable_cli" "${cli_arguments[@]}")

printf '30 s of speech, base.en-sized model, %s threads, best of %s\n' "$threads" "$runs"
printf '%-44s %8s s\n' "murmel transcribe ($("$murmel" --version | grep -oE 'for [a-z0-9]+'))" "$ours"
printf '%-44s %8s s\n' "whisper-cli -bs 1, picked at run time" "$dispatched"
printf '%-44s %8s s\n' "whisper-cli -bs 1, -march=native" "$native"
printf '%-44s %8s s\n' "whisper-cli -bs 1, portable AVX2" "$portable"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "time ratio (picked / native engine):          $(ratio "$dispatched" "$native")  (goal: at most 1.05)"
echo "time ratio (murmel / whisper-cli, same engine): $(ratio "$ours" "$dispatched")  (goal: at most 1.05)"
echo "time ratio (murmel / portable whisper-cli):     $(ratio "$ours" "$portable")"
