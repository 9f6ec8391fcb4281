#!/usr/bin/env bash
# Installs the given Debian packages with apt-get (through sudo when not
# root). Callers pass only what is missing; nothing given, nothing done.
set -euo pipefail
[ $# -gt 0 ] || exit 0
echo "Installing Debian packages: $*"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"
