#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test pulvo.
# Extra package names given as arguments are installed too.
set -euo pipefail
packages=(cmake make g++ rapidjson-dev libgtest-dev libpcap-dev zlib1g-dev libssl-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
