#!/usr/bin/env bash
# The time our dictation pipeline adds between the stop key and the paste key event, beyond
# the engine's own transcription time, over 20 dictations of 3 s of speech on the base.en-sized
# generated model. Goal: median under 30 ms.
#   bench/latency.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
runs=${2:-20}
bench="$build_dir/bench/dictationlatency"
makemodel="$build_dir/tests/tools/makemodel"
murmel="$build_dir/murmel"
[[ -x $bench && -x $makemodel && -x $murmel ]] || { echo "build first: make build" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
models="$XDG_DATA_HOME/Murmel/Models"
mkdir -p "$models"
"$makemodel" base "$models/ggml-base.en.bin"
printf '{"base.en": "%s"}\n' "$(sha256sum "$models/ggml-base.en.bin" | cut -d' ' -f1)" > "$work/catalog.json"
export MURMEL_MODEL_CATALOG="$work/catalog.json"
# English at the fast speed dictates with base.en.
"$murmel" config set language '"en"' > /dev/null

espeak-ng -w "$work/phrase.wav" "Please remind me to call the office tomorrow morning at nine."
ffmpeg -loglevel error -stream_loop -1 -i "$work/phrase.wav" -t 3 -ar 16000 -ac 1 "$work/speech.wav"

QT_LOGGING_RULES="murmel.*.info=false" QT_QPA_PLATFORM=offscreen "$bench" "$work/speech.wav" "$runs"
