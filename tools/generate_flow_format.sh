#!/usr/bin/env bash
# Rewrites the files made from the flow format's table
# (kestrune_diagnostic_trace/src/flow_trace/flow_format.cpp): the JSON Schema of
# the flow file and the fuzzer's dictionary. Run it after adding or changing a
# key; the test test_flow_format_files fails until the committed files match.
# Builds the generator in the standalone build (tools/build_and_test.sh standalone
# makes one).
# Usage: tools/generate_flow_format.sh
set -euo pipefail

# shellcheck source=tools/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
build="${build_root}/standalone/build/kestrune_diagnostic_trace"
package="${repo}/kestrune_diagnostic_trace"
if [[ ! -f "${build}/CMakeCache.txt" ]]; then
  echo "no standalone build in ${build}: run tools/build_and_test.sh standalone first" >&2
  exit 2
fi
cmake --build "${build}" --target generate_flow_format
"${build}/generate_flow_format" schema >"${package}/schema/flow_config.schema.json"
"${build}/generate_flow_format" dict >"${package}/test/fuzz/flow_config.dict"
echo "wrote schema/flow_config.schema.json and test/fuzz/flow_config.dict"
