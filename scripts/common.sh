# Shared locations for the project's scripts. Source it, don't run it.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CACHE=${ROZERADO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/rozerado}
DEPS=$CACHE/deps            # libjpeg, libtiff and GoogleTest built for the target
WASM_DEPS=$CACHE/deps-wasm  # zlib, libjpeg and libtiff built for WebAssembly (web build)
FUZZ_DEPS=$CACHE/deps-fuzz  # zlib, libjpeg and libtiff built with the fuzz targets' sanitizers (scripts/fuzz)
EMSCRIPTEN_TOOLCHAIN=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}   # emscripten's optimiser finds its parser there
BUILD=${ROZERADO_BUILD:-$ROOT/build}
export WINEPREFIX=${ROZERADO_WINEPREFIX:-$CACHE/wineprefix}
export WINEARCH=win32
# Quiet unless a caller asks for channels (the lifetime test turns on heap
# checking through ROZERADO_WINEDEBUG).
export WINEDEBUG=${ROZERADO_WINEDEBUG:--all}
export ROZERADO_DEPS=$DEPS
# Compiler cache, shared by every checkout on this machine: paths below the
# checkout are hashed relative to it, so another clone or worktree of the
# same sources compiles from the cache. LAUNCHER goes on every configure.
export CCACHE_DIR=${CCACHE_DIR:-$CACHE/ccache}
export CCACHE_BASEDIR=$ROOT CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-8G}
LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# --- 64-bit Windows (x86-64) beside the 32-bit build ---
# Its libraries, its build tree with the programs in build/bin64, and a 64-bit
# Wine prefix of its own (the 64-bit loader is not on the PATH; once it is
# installed, the wineserver on the PATH is the 64-bit one and serves both kinds
# of prefix). `use_wine64` switches this shell's Wine settings to it.
DEPS64=$CACHE/deps-x64
BUILD64=$BUILD/x64
BIN64=$BUILD/bin64
WINEPREFIX64=${ROZERADO_WINEPREFIX64:-$WINEPREFIX-win64}
WINE64=/usr/lib/wine/wine64
use_wine64() {
  export WINEPREFIX=$WINEPREFIX64
  export WINEARCH=win64
}
# x64 when the file is a 64-bit (x86-64) Windows program or DLL, else x86.
pe_arch() {
  local file=$1 offset machine
  if [ -f "$file" ] && offset=$(od -An -tu4 -j60 -N4 "$file" 2>/dev/null) && [ -n "${offset// /}" ]; then
    machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$file" 2>/dev/null | tr -d ' ')
    [ "$machine" = 8664 ] && { echo x64; return; }
  fi
  echo x86
}
# --- end of 64-bit Windows ---

# fetch_debian_source PKG: unpacks Debian's source package PKG into the
# current directory; when the newest listed version cannot be fetched (an
# index may list a version whose files are gone), tries the older ones.
fetch_debian_source() {
  local pkg=$1 v
  apt-get source -qq "$pkg" >/dev/null 2>&1 && return 0
  for v in $(apt-cache showsrc "$pkg" | awk '/^Version:/ {print $2}' | sort -r -V); do
    rm -rf ./"$pkg"[-_]*
    apt-get source -qq "$pkg=$v" >/dev/null 2>&1 && return 0
  done
  echo "cannot fetch the source of $pkg" >&2
  return 1
}

# npm_tools DIR: installs the npm packages that DIR's package.json and
# package-lock.json pin (exact versions, checked against the lockfile's
# hashes) into the cache once, and prints the folder that holds their
# node_modules. The folder is named after the lockfile's hash, so a changed
# lockfile installs afresh; it is filled beside its final name and renamed,
# so checkouts building at the same time never see half an installation.
# The registry's packages come from npm's own cache in the shared cache once
# they were fetched; no install scripts run (esbuild's binary is its
# platform package).
npm_tools() {
  local dir=$1 key target partial
  key=$(cat "$dir/package.json" "$dir/package-lock.json" | sha256sum | cut -c1-16)
  target=$CACHE/npm/$(basename "$dir")-$key
  if [ ! -d "$target/node_modules" ]; then
    mkdir -p "$CACHE/npm"
    partial=$(mktemp -d "$target.partial.XXXXXX")
    cp "$dir/package.json" "$dir/package-lock.json" "$partial/"
    (cd "$partial" && npm ci --ignore-scripts --prefer-offline --no-audit --no-fund --loglevel=error \
      --cache "$CACHE/npm" >&2)
    mv -T "$partial" "$target" 2>/dev/null || rm -rf "$partial"
  fi
  echo "$target"
}
