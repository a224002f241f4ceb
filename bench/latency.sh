#!/usr/bin/env bash
# The wait after the second hotkey press, from the stop to the paste key event, for dictations
# of 2, 3, 5 and 10 s of speech on the base.en-sized parrot model, with the engine's whole
# window and with the window fitted to short dictations, side by side; and the time our
# pipeline adds to the engine's own. Goals: the fitted window's wait after 3 s at most 0.4 of
# the whole window's, with the same text; overhead median under 30 ms.
#   bench/latency.sh [BUILD_DIR] [RUNS] [SECONDS...]
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
runs=${2:-5}
shift 2 || shift $#
lengths=("${@:-2 3 5 10}")
read -r -a lengths <<< "${lengths[*]}"
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
longest=$(printf '%s\n' "${lengths[@]}" | sort -n | tail -1)
ffmpeg -loglevel error -stream_loop -1 -i "$work/phrase.wav" -t "$longest" -ar 16000 -ac 1 "$work/speech.wav"

QT_LOGGING_RULES="murmel.*.info=false" QT_QPA_PLATFORM=offscreen "$bench" "$work/speech.wav" "$runs" "${lengths[@]}"
