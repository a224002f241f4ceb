#!/bin/sh
# Makes Murmel's six interface sounds with SoX: mono, 16-bit, 44.1 kHz, each under half a
# second, normalised to a peak of -1 dBFS. The results are committed; run this only to
# change a sound.
#
#   scripts/make-sounds.sh [output-folder]   (default: src/platform/audio/sounds)
set -eu

out=${1:-$(dirname "$0")/../src/platform/audio/sounds}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every sound goes through the same last step: one channel at 44.1 kHz, no dither (so the
# files come out the same on every run), peak at -1 dBFS.
finish() {
    sox -D "$1" -r 44100 -b 16 -c 1 "$out/$2.wav" gain -n -1
}

# Pop: a short blip that falls in pitch, like a bubble bursting.
sox -n -r 44100 -c 1 "$work/pop.wav" synth 0.09 sine 950-420 fade q 0.004 0.09 0.05
finish "$work/pop.wav" Pop

# Bottle: a hollow low tone, a fundamental with a weak fifth above, swelling and fading.
sox -n -r 44100 -c 2 "$work/bottle.wav" synth 0.32 sine 290 sine 435 remix 1v0.75,2v0.25 \
    tremolo 7 25 fade h 0.04 0.32 0.22
finish "$work/bottle.wav" Bottle

# Morse: three short beeps.
sox -n -r 44100 -c 1 "$work/beep.wav" synth 0.055 sine 1180 fade q 0.005 0.055 0.012
sox -n -r 44100 -c 1 "$work/gap.wav" trim 0 0.045
sox "$work/beep.wav" "$work/gap.wav" "$work/beep.wav" "$work/gap.wav" "$work/beep.wav" "$work/morse.wav"
finish "$work/morse.wav" Morse

# Tink: a high ping with a bell's inharmonic partial, dying away quickly.
sox -n -r 44100 -c 2 "$work/tink.wav" synth 0.22 sine 2637 sine 7120 remix 1v0.8,2v0.2 \
    fade l 0.002 0.22 0.2
finish "$work/tink.wav" Tink

# Glass: a bright chime of two partials a fifth apart, with a long decay.
sox -n -r 44100 -c 2 "$work/glass.wav" synth 0.45 sine 1319 sine 1976 remix 1v0.6,2v0.4 \
    fade l 0.003 0.45 0.42
finish "$work/glass.wav" Glass

# Funk: a low, soft-edged tone that wobbles as it falls.
sox -n -r 44100 -c 1 "$work/funk.wav" synth 0.38 sawtooth 240-120 lowpass 700 tremolo 16 70 \
    fade h 0.01 0.38 0.12
finish "$work/funk.wav" Funk
