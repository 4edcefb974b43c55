# Shared locations for the project's scripts. Source it, don't run it.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CACHE=${ROZERADO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/rozerado}
DEPS=$CACHE/deps            # libjpeg, libtiff and GoogleTest built for the target
WASM_DEPS=$CACHE/deps-wasm  # zlib, libjpeg and libtiff built for WebAssembly (web build)
EMSCRIPTEN_TOOLCHAIN=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}   # emscripten's optimiser finds its parser there
BUILD=${ROZERADO_BUILD:-$ROOT/build}
export WINEPREFIX=${ROZERADO_WINEPREFIX:-$CACHE/wineprefix}
export WINEARCH=win32
# Quiet unless a caller asks for channels (the lifetime test turns on heap
# checking through ROZERADO_WINEDEBUG).
export WINEDEBUG=${ROZERADO_WINEDEBUG:--all}
export ROZERADO_DEPS=$DEPS
