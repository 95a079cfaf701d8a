#!/usr/bin/env bash
# Installs the Debian packages of the given roles (see packages.txt) that are missing.
# Usage: scripts/ensure-packages.sh build [test ...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wanted=()
for role in "$@"; do
    while read -r r pkg; do
        [[ -z "$r" || "$r" == \#* ]] && continue
        [[ "$r" == "$role" ]] && wanted+=("$pkg")
    done < "$here/packages.txt"
done
[[ ${#wanted[@]} -eq 0 ]] && exit 0

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
    echo "This system has no apt. Install these packages (or your distribution's equivalents):" >&2
    echo "  ${wanted[*]}" >&2
    echo "Then run this command again." >&2
    # Carry on: they may already be installed under other names.
    exit 0
fi

missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "Need root or sudo to install: ${missing[*]}" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
