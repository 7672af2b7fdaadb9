#!/usr/bin/env bash
# The plug-in must export exactly one function: EntryPointFunc.
set -euo pipefail
lib="$1"
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^$' | sort)
if [ "$exports" != "EntryPointFunc" ]; then
  echo "expected exactly EntryPointFunc exported from $lib, got:" >&2
  echo "$exports" >&2
  exit 1
fi
echo "$lib exports only EntryPointFunc"
