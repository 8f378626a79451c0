#!/usr/bin/env bash
# The packer built for Windows, run under Wine's 64-bit loader on a product
# whose folders have blanks and letters beyond ASCII in their names, given
# as Z:\ paths with backslashes, writes what the Linux packer writes from the
# same manifest into the same prebuilt programs: setup.exe, its companions
# and the uninstaller it carries, with the default compression, and with lzma
# into companions.
#   windows_packer_test.sh PACKER PACKER_EXE PRODUCT_DIR PRODUCT_BUILD_DIR LOCALE_DIR COMPILED_LOCALE_DIR KIT_PROGRAMS WINE_RUN
set -uo pipefail
packer=$1 packer_exe=$2 product=$3 built=$4 locale=$5 compiled=$6 programs=$7 wine_run=$8
if [ "${SETUP_WINE_ARCH:-win32}" != win64 ]; then
    echo "Skipped: the packer for Windows is a 64-bit program, and the tests run in a 32-bit Wine prefix here;"
    echo "the run of the 64-bit build (tools/test, where 32-bit code cannot run) runs it."
    exit 77
fi

# What both packers must write alike, byte for byte.
same_bytes=(setup.exe pmuninst.exe)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
folder="$work/Pelmöra Tëst files"
mkdir -p "$folder/data files" "$work/built programs"
cp "$product/agreement.txt" "$product/pelmora.ico" "$product/help.htm" "$folder/"
cp "$built/pelmora.exe" "$work/built programs/"
# Text that compresses, and noise that does not, over several slices.
awk 'BEGIN { for (i = 1; i <= 3000; ++i) { line = "Line " i " of the text, "; for (k = 0; k < i % 40; ++k) line = line "ab"; print line } }' \
    >"$folder/data files/Ünïcode ファイル.txt"
head -c 500000 /dev/urandom >"$folder/data files/noise.bin"

windows() { local path=${1//\//\\}; printf 'Z:%s' "$path"; }

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# Packs with each packer: Linux's into $1/linux, Windows' into $1/windows.
pack_both() {
    local run=$1 side out companions
    for side in linux windows; do
        out="$run/$side out" companions="$run/$side companions"
        mkdir -p "$out" "$companions"
        if [ $side = linux ]; then
            "$packer" "$folder/product.ini" -o "$companions" --search "$work/built programs" --x64 \
                --programs "$programs" --locale "$locale" "$compiled" --keep-uninstaller "$out/pmuninst.exe" \
                >"$run/$side.log" 2>&1
        else
            "$wine_run" "$packer_exe" "$(windows "$folder/product.ini")" -o "$(windows "$companions")" \
                --search "$(windows "$work/built programs")" --x64 --programs "$(windows "$programs")" \
                --locale "$(windows "$locale")" "$(windows "$compiled")" \
                --keep-uninstaller "$(windows "$out/pmuninst.exe")" >"$run/$side.log" 2>&1
        fi || fail "$run: the $side packer failed: $(cat "$run/$side.log")"
        mv "$companions/setup.exe" "$out/" 2>/dev/null
    done
}

compare() {
    local run=$1 name linux=$1/linux\ out windows=$1/windows\ out
    for name in "${same_bytes[@]}"; do
        if [ ! -f "$linux/$name" ] || [ ! -f "$windows/$name" ]; then
            fail "$run: $name is missing from the output of either packer"
        else
            cmp -s "$linux/$name" "$windows/$name" || fail "$run: $name differs"
        fi
    done
    # The companions, by name and bytes.
    [ "$(ls "$run/linux companions")" = "$(ls "$run/windows companions")" ] ||
        fail "$run: the companions differ: $(ls "$run/linux companions") / $(ls "$run/windows companions")"
    for name in "$run/linux companions"/*; do
        [ -e "$name" ] || continue
        cmp -s "$name" "$run/windows companions/$(basename "$name")" || fail "$run: companion $(basename "$name") differs"
    done
}

# compression setting, extra manifest lines, and whether the payload goes into companions.
runs=(
"default|languages = en, de|none"
"lzma|languages = en, de|none"
"lzma|mediaSize = 200K|several"
)
for entry in "${runs[@]}"; do
    IFS='|' read -r compression extra companions <<<"$entry"
    {
        sed -n '/^\[product\]/,/^icon/p' "$product/product.ini" | sed 's/^folderName = .*/folderName = Pelmöra Tëst/'
        printf 'compression = %s\n%s\n\n[files]\n' "$compression" "$extra"
        printf '%s\n' 'file = pelmora.exe | pelmora.exe | 979069806' 'file = help.htm | help.htm' \
            'file = Dätä/Ünïcode ファイル.txt | data files/Ünïcode ファイル.txt | 979069900' \
            'file = Dätä/noise.bin | data files/noise.bin | 979069901' 'file = pmuninst.exe | pmuninst.exe | 979070150'
    } >"$folder/product.ini"
    run="$work/$compression $companions"
    mkdir -p "$run"
    pack_both "$run"
    compare "$run"
    count=$(ls "$run/linux companions" | grep -c '\.bin$')
    { [ $companions = none ] && [ "$count" -eq 0 ]; } || { [ $companions = several ] && [ "$count" -gt 1 ]; } ||
        fail "$run: $count companions, wanted $companions"
done

[ "$failures" -eq 0 ] && echo "All ${#runs[@]} runs gave the same bytes from both packers."
[ "$failures" -eq 0 ]
