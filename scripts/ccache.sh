# shellcheck shell=bash
# Sourced by the build scripts, from the repository's root: sets `compiler_launcher` to the CMake
# options that compile through ccache, when ccache is installed and BREVOMAT_CCACHE is not OFF.
#
# The cache is the one place outside the repository that a build touches, and it is optional: no
# ccache, or a cache folder that cannot be made, builds without it (from scratch). It lives in
# CCACHE_DIR when that is set, else /var/cache/brevomat/ccache for root (CI) and
# ~/.cache/brevomat/ccache for anyone else, so that later runs on the same machine reuse it. Paths
# under the repository's root are hashed relative to it and the working directory is not hashed,
# so that a clone in another folder (CI clones into a fresh /tmp folder each run) still hits the
# cache; a definition that names an absolute path (the test data folder) still misses, as it must.
# shellcheck disable=SC2034 # used by the scripts that source this one
compiler_launcher=(-DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER=)
if [ "${BREVOMAT_CCACHE:-ON}" != OFF ] && command -v ccache >/dev/null; then
  if [ -z "${CCACHE_DIR:-}" ]; then
    if [ "$(id -u)" = 0 ]; then
      CCACHE_DIR=/var/cache/brevomat/ccache
    else
      CCACHE_DIR=${XDG_CACHE_HOME:-$HOME/.cache}/brevomat/ccache
    fi
  fi
  if mkdir -p "$CCACHE_DIR" 2>/dev/null && [ -w "$CCACHE_DIR" ]; then
    CCACHE_BASEDIR=$(pwd)
    CCACHE_NOHASHDIR=1
    CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-6G}
    export CCACHE_DIR CCACHE_BASEDIR CCACHE_NOHASHDIR CCACHE_MAXSIZE
    # shellcheck disable=SC2034 # used by the scripts that source this one
    compiler_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  else
    echo "(ccache's folder $CCACHE_DIR cannot be made: building without ccache)"
  fi
fi
