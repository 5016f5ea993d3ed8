#!/usr/bin/env bash
# The main job on the bundled sample: builds the pak tool, lists the sample
# archive (as a table and as JSON), tests it and extracts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh native
cmake --preset release >/dev/null
cmake --build --preset release --target pak >/dev/null

pak=build/release/cli/pak
echo "\$ pak list samples/sample.pak"
"$pak" list samples/sample.pak
echo
echo "\$ pak list samples/sample.pak --json"
"$pak" list samples/sample.pak --json
echo
echo "\$ pak test samples/sample.pak"
"$pak" test samples/sample.pak
rm -rf build/demo
echo
echo "\$ pak extract samples/sample.pak -o build/demo"
"$pak" extract samples/sample.pak -o build/demo
ls -l build/demo
echo
echo "Extracted into $(pwd)/build/demo"
