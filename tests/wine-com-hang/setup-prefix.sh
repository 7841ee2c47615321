#!/bin/bash
# Creates a private prefix (PREFIX_NAME=p1|p2), registers the server as
# LocalServer32 of the reproduction class, and leaves a persistent wineserver.
set -e
cd "$(dirname "$0")"
. ./env.sh
if [ ! -d "$WINEPREFIX" ]; then
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
fi
SRV="Z:$(pwd | sed 's#/#\\\\#g')\\\\bin\\\\server.exe"
{
  printf 'Windows Registry Editor Version 5.00\r\n'
  for n in 0 1 2 3; do
    key="HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{6B1E2A4C-7D3F-4E59-9A1B-2C3D4E5F607$n}"
    printf '\r\n[%s]\r\n@="hang reproduction %s"\r\n\r\n[%s\\LocalServer32]\r\n@="%s"\r\n' "$key" $n "$key" "$SRV"
  done
} > "$WINEPREFIX/repro.reg"
wine regedit /S "$WINEPREFIX/repro.reg" </dev/null >/dev/null 2>&1
# A persistent server, primed; exit status 2 means one runs already.
(wineserver -p </dev/null >/dev/null 2>&1 || true)
wine cmd /c exit </dev/null >/dev/null 2>&1
echo "prefix $WINEPREFIX ready"
