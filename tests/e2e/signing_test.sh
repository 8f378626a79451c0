#!/usr/bin/env bash
# The signed build of the second product: both programs verify against the
# certificate they were signed with, the product's own programs are left as
# they are, and a wrong password fails the build with osslsigncode's message
# and leaves no setup program under its final name.
#   signing_test.sh BUILD CERTIFICATE_DIR
set -uo pipefail
build=$1 certificate=$2/quillet.pem
failures=0 passed=0
check() { # what, command...
    local what=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAIL $what"; failures=$((failures + 1)); fi
}
verifies() { osslsigncode verify -in "$1" -CAfile "$certificate" 2>&1 | grep -q "Signature verification: ok"; }
unsigned() { ! osslsigncode verify -in "$1" -CAfile "$certificate" >/dev/null 2>&1; }

check "setup.exe verifies" verifies "$build/bin/setup.exe"
check "the uninstaller the payload carries verifies" verifies "$build/uninstaller/pmuninst.exe"
check "the product's own program is not signed" unsigned "$build/product/quillet.exe"

rm -f "$build/bin/setup.exe"
SETUP_SIGN_PASSWORD=wrong cmake --build "$build" --target programs >"$build/wrong-password.log" 2>&1
check "a wrong password fails the build" test $? -ne 0
check "saying so" grep -q "the password does not open .*quillet.p12" "$build/wrong-password.log"
check "with osslsigncode's message" grep -q "Failed to parse PKCS#12 file" "$build/wrong-password.log"
check "and no setup program under its final name" test ! -e "$build/bin/setup.exe"
check "nor half of one" test ! -e "$build/bin/setup.exe.signing"

# The build comes back with the right password.
SETUP_SIGN_PASSWORD=quillet-signing cmake --build "$build" --target programs >"$build/right-password.log" 2>&1
check "the right password signs again" verifies "$build/bin/setup.exe"

echo "signing: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
