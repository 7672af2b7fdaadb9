#!/usr/bin/env bash
# Renders the example scenes at 32-bit float with the Windows build's
# veltrix-render.exe under Wine (loading Veltrix.aex) and with a Linux build's
# veltrix-render (loading Veltrix.so), then compares the frames pixel by pixel
# with veltrix-render-compare, which prints the figures and fails the check
# when fewer than 99.9 % of a frame's pixels are within 1/255 or a channel
# is off on average in one direction.
#
# Every scene is rendered at its default frame; the animated scene also at
# four more frames across its run. The default scene is also written in every
# other output type and depth (PNG 8 and 16, TIFF 8 and 16, EXR), so that the
# Windows build's own writers are read back by the Linux build's image library.
#
# usage: compare_renders.sh LINUX_RENDER COMPARE WINE WINDOWS_RENDER EXAMPLES OUT
# Wine's prefix and server come from the environment (WINEPREFIX).
set -euo pipefail
linux_render="$1" compare="$2" wine="$3" windows_render="$4" examples="$5" out="$6"

for program in "$linux_render" "$compare"; do
  [ -x "$program" ] || { echo "not built: $program (build the Linux tree first)" >&2; exit 1; }
done
rm -rf "$out/linux" "$out/windows"
mkdir -p "$out/linux" "$out/windows"

# render NAME SCENE [options]: the same frame on both sides.
render() {
  local name="$1" scene="$2"
  shift 2
  "$linux_render" "$scene" -q -o "$out/linux/$name" "$@" ||
    { echo "the Linux render of $name failed" >&2; exit 1; }
  "$wine" "$windows_render" "$scene" -q -o "$out/windows/$name" "$@" ||
    { echo "the Windows render of $name under Wine failed" >&2; exit 1; }
}

start=$SECONDS
for scene in "$examples"/*.json; do
  render "$(basename "$scene" .json).tif" "$scene" --depth 32
done
for frame in 12 24 36 47; do
  render "animated_$frame.tif" "$examples/animated.json" --depth 32 --frame "$frame"
done
render default_8.png "$examples/default.json" --depth 8
render default_16.png "$examples/default.json" --depth 16
render default_8.tif "$examples/default.json" --depth 8
render default_16.tif "$examples/default.json" --depth 16
render default.exr "$examples/default.json" --depth 32
echo "rendered $(ls "$out/linux" | wc -l) frames on each side in $((SECONDS - start)) s"

"$compare" "$out/linux" "$out/windows"
