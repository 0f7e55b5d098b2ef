#!/bin/bash
# Stops the persistent wineserver of a test prefix.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/env.sh"
scancap_wine_env "$1"
"$WINESERVER" -k >/dev/null 2>&1 || true
"$WINESERVER" -w >/dev/null 2>&1 || true
exit 0
