#!/usr/bin/env bash
# What keeping frame pointers costs, measured in one run beside the build
# without them:
#   size  - the code (.text) of every source of the programs, compiled for
#           32-bit Windows as the release compiles it, with and without
#           -fno-omit-frame-pointer;
#   speed - our Deflate compressing FILES, built both ways natively (x86-64:
#           a machine of ours may not run 32-bit programs), against zlib in
#           the same process as the common yardstick.
#
#   bench/frame_pointer_cost.sh FILE...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ $# -gt 0 ] || { echo "usage: bench/frame_pointer_cost.sh FILE..." >&2; exit 2; }

flags=(-std=c++17 -O3 -DNDEBUG -g1 -D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DNOMINMAX -DWIN32_LEAN_AND_MEAN
       -I"$root/src")
text_size() {  # extra flags...
  local total=0 size
  for source in "$root"/src/*/*.cpp; do
    [[ $source == *_posix.cpp ]] && continue
    i686-w64-mingw32-g++-posix "${flags[@]}" "$@" -c "$source" -o "$work/object.o"
    size=$(i686-w64-mingw32-size -A "$work/object.o" | awk '$1 ~ /^\.text/ {sum += $2} END {print sum + 0}')
    total=$((total + size))
  done
  echo "$total"
}
without=$(text_size)
with=$(text_size -fno-omit-frame-pointer)
echo "32-bit code of src/: $without bytes without frame pointers, $with with" \
     "(a change of $(( (with - without) * 1000 / without )) per mille)"

sources=("$root"/bench/deflate_bench.cpp "$root"/src/zip/{bit_writer,block_encoder,crc32,deflate_tables,deflater,match_finder}.cpp)
g++ -std=c++17 -O3 -DNDEBUG -I"$root/src" "${sources[@]}" -lz -o "$work/plain"
g++ -std=c++17 -O3 -DNDEBUG -fno-omit-frame-pointer -I"$root/src" "${sources[@]}" -lz -o "$work/frames"
for run in 1 2 3; do
  echo "-- run $run without frame pointers"; "$work/plain" "$@" | tail -n 2
  echo "-- run $run with frame pointers"; "$work/frames" "$@" | tail -n 2
done
