#!/bin/sh
# Installs what building and testing need, on Debian 12. Run as root.
set -e
PACKAGES="cmake g++ make pkg-config qt6-base-dev libgtest-dev libbenchmark-dev"
missing=""
for p in $PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
