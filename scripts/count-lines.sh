#!/bin/sh
# Non-blank lines of the source (C++ and QML under src/) and of the tests (everything under
# tests/ that is code: cases, harness and tools), and their ratio.
cd "$(dirname "$0")/.." || exit 1
count() { find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.qml' -o -name '*.py' -o -name '*.c' \) -exec cat {} + | grep -cv '^[[:space:]]*$'; }
src=$(count src)
tests=$(count tests)
echo "source $src, tests $tests, ratio $(awk "BEGIN { printf \"%.3f\", $tests / $src }")"
for folder in src/* tests/*/; do
    [ -d "$folder" ] && printf '  %-16s %6d\n' "${folder%/}" "$(count "$folder")"
done
