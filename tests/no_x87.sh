#!/bin/sh
# Usage: no_x87.sh OBJDUMP OBJECT...
# On 32-bit x86 an x87 load quiets a signalling NaN, so the bridge's path from
# the SDK's record to the wire must use no x87 instruction at all.
objdump=$1
shift
if "$objdump" -d "$@" | grep -E '[[:space:]]f(ld|st|stp)[sl]?[[:space:]]'; then
  echo "x87 instructions on the float path" >&2
  exit 1
fi
