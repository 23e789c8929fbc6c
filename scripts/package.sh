#!/usr/bin/env bash
# Sets up and builds, then makes the Debian package build/vantero_<version>_<arch>.deb and checks
# it with lintian (errors fail; warnings are shown).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
rm -f build/vantero_*.deb
(cd build && cpack -G DEB)
deb=$(ls build/vantero_*.deb)
lintian --fail-on error "$deb"
echo "Package: $deb" >&2
