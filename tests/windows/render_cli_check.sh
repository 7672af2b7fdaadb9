#!/usr/bin/env bash
# veltrix-render.exe under Wine behaves as the Linux build does:
#   - the same exit code and the same message for bad input and failures
#     (but for the separator in paths the program joins itself);
#   - a frame replaces an existing file in one step, leaving no temporary
#     file, and a write that cannot happen leaves the existing file alone;
#   - started from another folder, it still finds Veltrix.aex beside itself.
# usage: render_cli_check.sh LINUX_RENDER WINE WINDOWS_RENDER EXAMPLES OUT
set -uo pipefail
linux_render="$1" wine="$2" windows_render="$3" examples="$4" out="$5"
rm -rf "$out"
mkdir -p "$out"
status=0
fail() { echo "FAIL: $*"; status=1; }

# same_outcome ARGS...: both builds exit with the same code and say the same.
same_outcome() {
  local linux_err windows_err linux_code windows_code
  linux_err=$("$linux_render" "$@" 2>&1 >/dev/null); linux_code=$?
  # Paths the program joins itself use the system's separator (shown quoted,
  # with the backslash escaped); the rest of the message is the same.
  windows_err=$("$wine" "$windows_render" "$@" 2>&1 >/dev/null | tr -d '\r' | sed 's/\\\\/\//g; s/\\/\//g')
  windows_code=${PIPESTATUS[0]}
  if [ "$linux_code" != "$windows_code" ] || [ "$linux_err" != "$windows_err" ]; then
    fail "veltrix-render $*"
    echo "  Linux   ($linux_code): $linux_err"
    echo "  Windows ($windows_code): $windows_err"
  else
    echo "ok    exit $linux_code: veltrix-render $*"
  fi
}

scene="$examples/default.json"
mkdir -p "$out/busy.tif"
printf '{"composition": {"width": 64, "height": 64}, "layers": [{"name": "Tex", "type": "footage", "source": "missing.png"}, {"type": "solid", "effects": [{"effect": "Veltrix", "params": {"Texture": "Tex"}}]}]}' >"$out/missing_footage.json"
printf 'not an image' >"$out/bad.png"
printf '{"composition": {"width": 64, "height": 64}, "layers": [{"name": "Tex", "type": "footage", "source": "bad.png"}, {"type": "solid", "effects": [{"effect": "Veltrix", "params": {"Texture": "Tex"}}]}]}' >"$out/bad_footage.json"

same_outcome "$scene" -o "$out/frame.jpg"
same_outcome "$scene" -o "$out/frame.png" --depth 32
same_outcome "$scene" -o "$out/no/such/folder/frame.png"
same_outcome "$scene" -o "$out/busy.tif"
same_outcome "$scene" --frames 5-2 -o "$out/f.png"
same_outcome "$scene" --plugin "$out/none.aex" -o "$out/frame.png"
same_outcome "$out/missing_footage.json" -o "$out/frame.png"
same_outcome "$examples/no_such_scene.json"
same_outcome --threads 0 "$scene"

# Replacing a file: the new frame takes the old name; nothing else is left.
printf 'an older frame' >"$out/frame.tif"
if "$wine" "$windows_render" "$scene" -q --downsample 4 -o "$out/frame.tif"; then
  [ "$(head -c 4 "$out/frame.tif" | od -An -tx1 | tr -d ' ')" = "49492a00" ] ||
    fail "the existing frame.tif was not replaced by the new frame"
  echo "ok    an existing frame is replaced"
else
  fail "rendering over an existing file"
fi
leftovers=$(find "$out" -name '*veltrix-tmp*')
[ -z "$leftovers" ] || fail "temporary files left: $leftovers"

# A scene whose footage is no image fails before anything is written.
printf 'keep me' >"$out/keep.png"
"$wine" "$windows_render" "$out/bad_footage.json" -q -o "$out/keep.png" 2>"$out/bad_footage.txt"
code=$?
[ "$code" = 2 ] || fail "unreadable footage: exit $code, expected 2 ($(cat "$out/bad_footage.txt"))"
[ "$(cat "$out/keep.png")" = "keep me" ] || fail "unreadable footage damaged the existing output"
echo "ok    unreadable footage: exit 2, the existing file kept"

# From another folder the program still finds the plug-in beside itself.
(cd "$out" && "$wine" "$windows_render" "$scene" -q --downsample 4 -o beside.png) ||
  fail "run from another folder (default plug-in beside the program)"
[ -s "$out/beside.png" ] && echo "ok    the plug-in beside the program is found from another folder"

exit $status
