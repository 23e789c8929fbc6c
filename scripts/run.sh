#!/usr/bin/env bash
# Sets up, builds and starts the program on the database in the current directory.
set -euo pipefail
here="$(pwd)"
bash "$(dirname "$0")/setup.sh"
cd "$here"
exec "$(cd "$(dirname "$0")/.." && pwd)/build/vantero"
