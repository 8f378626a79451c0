#!/usr/bin/env bash
# A product of 20,000 files packs into the kit's setup program, and the
# programs written hold every name: the setup's in installation order, the
# uninstaller's with its folders, innermost first.
#   many_files_test.sh PACKER KIT_PROGRAMS_DIR LOCALE_DIR COMPILED_LOCALE_DIR SOURCE_DIR
set -euo pipefail
packer=$1 programs=$2 locale=$3 compiled=$4 source=$5
reader=$(dirname "$0")/product_section.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/files" "$work/out"
cp "$source/products/pelmora/agreement.txt" "$source/products/pelmora/pelmora.ico" "$work/"
printf 'x' >"$work/files/x.txt"
# A program's headers, as the packer reads them: a 32-bit Windows program.
{ printf 'MZ'; head -c 58 /dev/zero; printf '\x40\0\0\0PE\0\0\x4c\x01'; } >"$work/files/program.exe"
{
    sed -n '1,/^\[files\]/p' "$source/products/pelmora/product.ini" | grep -v '^file ='
    echo "file = pelmora.exe | files/program.exe | 1000000000"
    echo "file = pmuninst.exe | files/x.txt | 1000000000"
    seq 1 20000 | awk '{ printf "file = data/d%d/f%d.txt | files/x.txt | 1000000000\n", $1 / 500, $1 }'
} >"$work/product.ini"
"$packer" "$work/product.ini" -o "$work/out" --programs "$programs" --locale "$locale" "$compiled" \
    --keep-uninstaller "$work/out/pmuninst.exe" >/dev/null
python3 "$reader" "$work/out/setup.exe" >"$work/setup.txt"
python3 "$reader" "$work/out/pmuninst.exe" >"$work/uninstaller.txt"
{
    echo "fileNames.count = 20002"
    echo "fileNames[0] = pelmora.exe"
    echo "fileNames[1] = pmuninst.exe"
    seq 1 20000 | awk '{ printf "fileNames[%d] = data/d%d/f%d.txt\n", $1 + 1, $1 / 500, $1 }'
} >"$work/names.txt"
diff "$work/names.txt" <(grep '^fileNames' "$work/setup.txt")
grep -qx "sliceCounts = $(printf '1 %.0s' $(seq 1 20002) | sed 's/ $//')" "$work/setup.txt"
grep -qx 'removedFiles.count = 20002' "$work/uninstaller.txt"
grep -qxF 'removedFiles[20001] = data\\d40\\f20000.txt' "$work/uninstaller.txt"
# d0 to d40, each inside data, then data itself.
diff <(seq 0 40 | sed 's/.*/data\\\\d&/' | sort; echo data) \
    <(sed -n 's/^removedFolders\[[0-9]*\] = //p' "$work/uninstaller.txt" | head -41 | sort; \
      sed -n 's/^removedFolders\[41\] = //p' "$work/uninstaller.txt")
grep -qx 'removedFolders.count = 42' "$work/uninstaller.txt"
echo "20,000 files: packed, and every name in the programs written"
