#!/usr/bin/env bash
# Check the fixtures in tests/fixtures/ against their manifests with
# independent tools (fsck.fat, ntfsfix, mtools, ntfscat, e2fsck, debugfs, and
# The Sleuth Kit's fls/icat for deleted files). See tools/fixtures/check.py.
#
# usage: tools/check-fixtures.sh [NAME...]   (default: every manifest)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec python3 "$here/fixtures/check.py" "$here/../tests/fixtures" "$@"
