#!/bin/sh
# Builds the two programs of the reproduction into ./bin.
set -e
cd "$(dirname "$0")"
BIN=${BIN:-bin}
mkdir -p $BIN
CXX=x86_64-w64-mingw32-g++-posix
FLAGS="-std=c++20 -O2 -Wall -Wextra -static"
$CXX $FLAGS -mwindows -o $BIN/server.exe src/server.cpp -lole32 -lrpcrt4 -luuid
$CXX $FLAGS -o $BIN/client.exe src/client.cpp -lole32 -luuid
$CXX $FLAGS -o $BIN/small.exe src/small.cpp
$CXX $FLAGS -o $BIN/spawn.exe src/spawn.cpp
