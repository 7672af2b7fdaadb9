#!/usr/bin/env bash
# Reads Veltrix.aex with objdump as the host's loader will meet it:
#   - the export table names exactly one function, EntryPointFunc;
#   - the resource directory holds type PIPL with id 16000 (0x3e80), as large
#     as the generated property list;
#   - no mingw runtime DLL (lib*.dll) is imported, so the file loads on a
#     Windows without them.
# usage: check_aex.sh OBJDUMP Veltrix.aex [Veltrix.pipl]
set -euo pipefail
objdump="$1"
aex="$2"
pipl="${3:-$(dirname "$aex")/resources/Veltrix.pipl}"
dump=$("$objdump" -p "$aex")
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

# Names listed after "[Ordinal/Name Pointer] Table", up to the blank line.
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && NF==0 {on=0} on {print $NF}' <<<"$dump")
echo "exports: ${exports//$'\n'/ }"
[ "$exports" = "EntryPointFunc" ] || fail "expected exactly one export, EntryPointFunc"

# The resource directory: a type entry named PIPL, then the id 16000 entry,
# then (past its language entry) the leaf with the data's size.
resource=$(awk '/Resource Directory section/ {on=1} on' <<<"$dump")
echo "$resource" | grep -E 'Entry: name:.*PIPL|Entry: ID: 0x003e80|Leaf:' || true
leaf=$(awk '/Entry: name:.*: PIPL,/ {type=1; next}
            type && /Entry: ID: 0x003e80,/ {id=1; next}
            type && id && /Leaf:/ {sub(/.*Size: /, ""); sub(/,.*/, ""); print; exit}' <<<"$resource")
if [ -z "$leaf" ]; then
  fail "no resource PIPL/16000"
elif [ -f "$pipl" ] && [ $((leaf)) -ne "$(stat -c %s "$pipl")" ]; then
  fail "resource PIPL/16000 holds $((leaf)) bytes, the generated list $(stat -c %s "$pipl")"
else
  echo "resource PIPL/16000: $((leaf)) bytes"
fi

dlls=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
echo "imports: ${dlls//$'\n'/ }"
if grep -qi '^lib' <<<"$dlls"; then fail "imports a mingw runtime DLL"; fi

[ $status -eq 0 ] && echo "$aex: one export, EntryPointFunc; resource PIPL/16000; system DLLs only"
exit $status
