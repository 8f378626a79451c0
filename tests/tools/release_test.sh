#!/usr/bin/env bash
# The release as a publisher meets it: the archive made from this build's
# kit, unpacked where nothing of the build is, and its pmpack run on the
# sample with no compiler, no build tool and nothing else on the PATH. The
# setup it writes goes to RELEASE_OUT/setup.exe for the end-to-end test that
# installs and removes it; the sample's own program beside it, to compare.
#   release_test.sh SOURCE_DIR PACKER PACKER_WINDOWS|- KIT_PROGRAMS WIDTH COMPILED_LOCALE SAMPLE_PROGRAM RELEASE_OUT
set -uo pipefail
root=$1 packer=$2 windows=$3 programs=$4 width=$5 compiled=$6 sample=$7 out=$8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0
check() { # what, command...
    local what=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAIL $what"; failures=$((failures + 1)); fi
}
x86=- x64=- options=()
if [ "$width" = x64 ]; then x64=$programs options=(--x64); else x86=$programs; fi
[ -f "$windows" ] || windows=-
archives=$("$root/tools/make-archives" "$work/dist" 1.0.0 "$packer" "$windows" "$x86" "$x64" "$compiled" "$sample")
check "the archives are made" test $? -eq 0
linux=$work/dist/pmpack-1.0.0-linux-x86_64.tar.gz
check "the Linux archive is named so" test "$(echo "$archives" | head -1)" = "$linux"
if [ "$windows" != - ]; then
    check "and the Windows one" test "$(echo "$archives" | tail -1)" = "$work/dist/pmpack-1.0.0-windows-x64.zip"
    check "which holds pmpack.exe" sh -c "cmake -E tar tf '$work/dist/pmpack-1.0.0-windows-x64.zip' | grep -qx 'pmpack-1.0.0/pmpack.exe'"
fi
mkdir -p "$work/unpacked"
tar -xzf "$linux" -C "$work/unpacked"
kit=$work/unpacked/pmpack-1.0.0
for part in pmpack docs/manifest.md sample/product.ini sample/pelmora.exe locale/compiled/de.mo \
    "programs/$width/setup-zlib.exe" "programs/$width/pmuninst-en.exe" "programs/$width/setup.manifest"; do
    check "the archive holds $part" test -f "$kit/$part"
done
# Nothing on the PATH: pmpack needs no tool of the build machine.
run() { env -i PATH=/nonexistent HOME="$work" "$kit/pmpack" "$@"; }
check "--version names it" test "$(run --version)" = "pmpack 1.0.0"
check "--help lists the options and exit codes" sh -c "$(printf '%q' "$kit/pmpack") --help | grep -q '^Exit status: 0 packaged'"
run --no-such-option >/dev/null 2>&1
check "a wrong option ends with 2" test $? -eq 2
run "$kit/sample/missing.ini" >/dev/null 2>"$work/missing.log"
check "a missing manifest ends with 1" test $? -eq 1
printed=$(run "$kit/sample/product.ini" -o "$work/out" "${options[@]}" 2>"$work/pack.log")
check "the sample packs with nothing on the PATH: $(cat "$work/pack.log")" test $? -eq 0
check "and names the setup it wrote" test "$printed" = "$work/out/setup.exe"
check "setup.exe is there" test -s "$work/out/setup.exe"
# The winget manifest: refused without a publisher and a version, which the
# sample has not; given them, its digest is setup.exe's and its scope the product's.
run "$kit/sample/product.ini" -o "$work/winget-out" "${options[@]}" --winget "$work/winget" \
    --winget-url https://example.com/setup.exe >/dev/null 2>"$work/winget.log"
check "--winget without a publisher ends with 1" test $? -eq 1
check "naming the field" grep -qF "product.ini: --winget needs the field 'publisher'" "$work/winget.log"
sed 's/^displayName = Pelmora$/&\npublisher = Pelmora Works\nversion = 2.1\ninstallFor = ask/' "$kit/sample/product.ini" \
    >"$kit/sample/published.ini"
run "$kit/sample/published.ini" -o "$work/winget-out" "${options[@]}" --winget "$work/winget" \
    --winget-url https://example.com/setup.exe >/dev/null 2>"$work/winget.log"
check "--winget with them: $(cat "$work/winget.log")" test $? -eq 0
yaml=$work/winget/Pelmora.installer.yaml
digest=$(sha256sum "$work/winget-out/setup.exe" | cut -d' ' -f1 | tr a-f A-F)
check "the manifest names setup.exe's SHA-256" test "$(grep -c "InstallerSha256: $digest" "$yaml")" -eq 2
check "both scopes of a product that asks, each with its switch" test "$(grep -A2 '^  Scope: ' "$yaml" | tr -d '\n')" = \
    "  Scope: machine  InstallerSwitches:    Custom: /ALLUSERS--  Scope: user  InstallerSwitches:    Custom: /CURRENTUSER"
check "the restart's exit code" grep -qx "  ReturnResponse: rebootRequiredToFinish" "$yaml"
check "the entry's name and publisher" grep -qx '    Publisher: "Pelmora Works"' "$yaml"
# A setup that needs companions is refused for winget, and nothing is written.
sed 's/^requiredMegabytes = 0$/&\nmediaSize = 200K/' "$kit/sample/published.ini" >"$kit/sample/split.ini"
run "$kit/sample/split.ini" -o "$work/split-out" "${options[@]}" --winget "$work/split-winget" \
    --winget-url https://example.com/setup.exe >/dev/null 2>"$work/split.log"
check "--winget with companions ends with 1" test $? -eq 1
check "saying why" grep -qF "winget installs one file, and this setup needs companions" "$work/split.log"
check "and writes nothing" test -z "$(ls -A "$work/split-out" 2>/dev/null)" -a ! -e "$work/split-winget"
mkdir -p "$out"
cp "$work/out/setup.exe" "$out/setup.exe"
cp "$kit/sample/pelmora.exe" "$out/pelmora.exe"
echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
