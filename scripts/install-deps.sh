#!/usr/bin/env bash
# Installs what building and testing Brevomat needs on Debian 12 (run as root or with sudo).
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format \
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libssl-dev libpugixml-dev nlohmann-json3-dev \
  help2man lintian \
  qt6-base-dev libgl1-mesa-dev xvfb xauth x11-utils openbox >/dev/null
