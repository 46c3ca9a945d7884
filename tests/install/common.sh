# Sourced by the installation checks: strict mode, a scratch folder ($work)
# removed on exit, and fail MESSAGE.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
