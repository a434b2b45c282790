#!/bin/sh
# Run in a clean Debian root (scripts/test-distros.sh), in a folder holding
# a wheel, the portable hwidtool and, in foreign/, another architecture's
# wheel: pip must refuse that one; the wheel, installed offline into a
# venv, runs the listing on the fabricated machines beside hwidtool, with a
# libhwid.so.1 planted in the current folder and in LD_LIBRARY_PATH (loaded,
# it would speak on standard error), and the guide's Python example as
# printed, licensed exactly where a machine lists its ID, and check_rows.py
# holds each row to its Hardware ID; pip then removes it. SOURCE_DIR is the checkout.
# Usage: wheel-round-trip.sh SOURCE_DIR
set -eu
src=$1
sh "$src/libhwid/tests/plant.sh" libhwid.so.1
python3 -m venv venv
if venv/bin/pip install -q --no-index foreign/*.whl 2>foreign.log; then
    echo "pip installed $(ls foreign) on $(uname -m)"
    exit 1
fi
grep -q "is not a supported wheel on this platform" foreign.log || { cat foreign.log; exit 1; }
venv/bin/pip install -q --no-index --no-cache-dir ./*.whl
sed -n '/^## Python$/,/^## /p' "$src/libhwid/README.md" | sed -n '/^```python$/,/^```$/p' | sed '1d;$d' >licence.py
licensed=$(grep -o '"[0-9A-F]\{32\}"' licence.py | tr -d '"')
[ -n "$licensed" ] || { echo "no Hardware ID in the guide's Python example"; exit 1; }
python3 "$src/tests/system/machines.py" --binary "$(pwd)/hwidtool" \
    --consumer "env LD_LIBRARY_PATH=$(pwd)/planted venv/bin/python $src/libhwid/python/listing.py" \
    --licence "venv/bin/python licence.py" "$licensed" \
    --checker "venv/bin/python $src/libhwid/python/tests/check_rows.py"
venv/bin/pip uninstall -y -q hwid
! venv/bin/python -c "import hwid" 2>/dev/null || { echo "hwid still imports after pip uninstall"; exit 1; }
echo "installed, listed and uninstalled $(ls ./*.whl) with $(venv/bin/python --version)" \
    "in Debian $(cat /etc/debian_version); pip refused $(ls foreign)"
