#!/usr/bin/env bash
# The main job on the bundled sample: builds the pak tool, says what the
# sample is, lists it (table and JSON), tests it, extracts it with its WBM
# image converted to PNG, and prints where the results are.
# samples/sample.pak is made by samples/make_sample.py with pak create.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native
cmake --preset release >/dev/null
cmake --build --preset release --target pak >/dev/null

pak=build/release/cli/pak
run() {
  echo "\$ pak $*"
  "$pak" "$@"
  echo
}
run identify samples/sample.pak
run list samples/sample.pak
run list samples/sample.pak --json
run test samples/sample.pak
rm -rf build/demo
run extract samples/sample.pak -o build/demo --images png --manifest build/demo.manifest
ls -l build/demo
echo
run repack samples/sample.pak build/demo --manifest build/demo.manifest -o build/demo-repacked.pak --force
cmp samples/sample.pak build/demo-repacked.pak && echo "build/demo-repacked.pak is byte-identical to the sample"
echo
echo "Extracted into $(pwd)/build/demo (SCENE.png: the image converted with SCENE.ACT's colours)"
