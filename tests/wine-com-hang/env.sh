# Sourced: the environment of one private prefix. PREFIX_NAME picks it (p1, p2).
export WINEPREFIX="$(pwd)/prefix-${PREFIX_NAME:-p1}"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
