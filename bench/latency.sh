#!/usr/bin/env bash
# The wait after the second hotkey press, from the stop to the paste key event, for dictations
# of 2, 3, 5 and 10 s of speech on the base.en-sized parrot model, with the engine's whole
# window and with the window fitted to short dictations, side by side; and the time our
# pipeline adds to the engine's own. Goals: the fitted window's wait after 3 s at most 0.4 of
# the whole window's, with the same text; overhead median under 30 ms.
# Then the same waits with each kind of engine code: the portable x86-64 baseline, AVX2
# (haswell), the variant ggml picks for this processor, and the graphics card when one is
# found (GGML_VK_VISIBLE_DEVICES=0 makes Mesa's software card count as one).
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

export QT_LOGGING_RULES="murmel.*.info=false" QT_QPA_PLATFORM=offscreen
"$murmel" config set coreMLEnabled false > /dev/null
"$bench" "$work/speech.wav" "$runs" "${lengths[@]}" | tee "$work/picked.txt"

# A copy of the benchmark laid out as an installed Murmel, whose module folder holds only one
# processor variant (and the graphics code): ggml can only pick that one.
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build_dir/CMakeCache.txt")
with_variant() {
    local prefix="$work/$1" modules="$work/$1/$libdir/murmel"
    mkdir -p "$prefix/bin" "$modules/graphics"
    cp "$bench" "$prefix/bin/"
    ln -s "$build_dir/modules/libggml-cpu-$1.so" "$build_dir/modules/libmurmel-ffmpeg.so" "$modules/"
    if [[ -e $build_dir/modules/graphics/libggml-vulkan.so ]]; then
        ln -s "$build_dir/modules/graphics/libggml-vulkan.so" "$modules/graphics/"
    fi
    "$prefix/bin/dictationlatency" "$work/speech.wav" "$runs" "${lengths[@]}"
}
# "NAME OUTPUT": the row of whole / fitted waits of one run's table.
row() {
    awk -v name="$1" '/^[0-9.]+ s / { cells = cells sprintf("  %6d / %-8s", $3, $5 " ms") }
                      END { printf "%-30s%s\n", name, cells }' "$2"
}
picked=$(grep -oE 'processor code for [a-z0-9]+' "$work/picked.txt" | awk '{print $4}')
echo
echo "wait by engine code, whole / fitted window, median of $runs dictations"
printf '%-30s' "code"; printf '  %17s' "${lengths[@]/%/ s}"; echo
for variant in x64 haswell; do
    with_variant "$variant" > "$work/$variant.txt"
    row "$variant" "$work/$variant.txt"
done
row "$picked (picked)" "$work/picked.txt"
"$murmel" config set coreMLEnabled true > /dev/null
"$bench" "$work/speech.wav" "$runs" "${lengths[@]}" > "$work/card.txt"
card=$(sed -n 's/.*; graphics card: //p' "$work/card.txt")
if [[ $card == none ]]; then
    echo "graphics card: none found"
else
    row "$card" "$work/card.txt"
fi
