#!/usr/bin/env bash
# Installs those of the Debian packages named that are not installed yet (as root), and runs no
# apt-get at all when every one is. Its messages go to standard error, under the caller's name.
#
#   scripts/install-missing.sh NAME PACKAGE...     e.g. scripts/install-missing.sh setup g++ cmake
set -euo pipefail
who=$1
shift
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0
echo "$who: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq >&2
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
