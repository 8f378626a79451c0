#!/usr/bin/env bash
# A product of 20,000 files packs, and its tables compile for the setup program
# with the flags shipped code has: an object file holds at most 32,767
# sections, so the tables must not take one per file.
#   many_files_test.sh PACKER CXX SOURCE_DIR
set -euo pipefail
packer=$1 cxx=$2 source=$3
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
"$packer" "$work/product.ini" "$work/out"
grep -q "^const PayloadArchiveTables PayloadArchive = {20002, " "$work/out/product_data.cpp"
"$cxx" -std=c++20 -Os -ffunction-sections -fdata-sections -DWIN32_LEAN_AND_MEAN -I"$source/base" \
    -I"$source/payload" -c "$work/out/product_data.cpp" -o "$work/out/product_data.obj"
echo "20,000 files: packed, and their tables compile"
