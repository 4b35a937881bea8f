# Sourced by the scripts that run the Windows test kit: the kit's verdict as a vendor reads it.
# shellcheck shell=bash
#
# kit_verdict STATUS OUTPUT_FILE: 0 only when the kit's exit status is 0 and the last line of its
# output is its closing line, "N passed, M failed, K skipped", with M = 0. A status and a closing
# line that disagree, or no closing line, are a failure, said on one line.
kit_verdict() {
  local status=$1 last
  last=$(tr -d '\r' <"$2" | tail -1)
  if ! [[ "$last" =~ ^[0-9]+\ passed,\ ([0-9]+)\ failed,\ [0-9]+\ skipped$ ]]; then
    echo "the kit ended without its closing line (N passed, M failed, K skipped)"
    return 1
  fi
  if [ "${BASH_REMATCH[1]}" != 0 ]; then
    return 1
  fi
  if [ "$status" != 0 ]; then
    echo "the kit's closing line counts no failure, but its exit status is $status"
    return 1
  fi
  return 0
}
