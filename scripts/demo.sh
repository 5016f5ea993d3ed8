#!/usr/bin/env bash
# The main job on the bundled sample: builds the pak tool and lists the
# sample archive, as a table and as JSON.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native
cmake --preset release >/dev/null
cmake --build --preset release --target pak >/dev/null

pak=build/release/cli/pak
echo "\$ pak list samples/sample.pak"
"$pak" list samples/sample.pak
echo
echo "\$ pak list samples/sample.pak --json"
"$pak" list samples/sample.pak --json
