#!/bin/sh
# Installs what the project needs to build, test and run its demonstration on Debian 12.
# Idempotent: when every package is present it does not call apt at all.
set -eu
PKGS="build-essential cmake ninja-build pkg-config git clang-format \
  qt6-base-dev \
  freetds-dev freetds-bin \
  libsqlite3-dev sqlite3 \
  libgtest-dev libgmock-dev \
  autoconf automake libtool libltdl-dev gperf make xz-utils \
  xvfb xauth x11-utils imagemagick \
  fontconfig fonts-dejavu-core fonts-liberation2"
MISSING=""
for p in $PKGS; do
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || MISSING="$MISSING $p"
done
if [ -z "$MISSING" ]; then
  echo "install-deps: all packages already installed"
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "install-deps: installing:$MISSING"
$SUDO apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $MISSING
