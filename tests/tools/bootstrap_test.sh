#!/usr/bin/env bash
# tools/bootstrap against stand-ins for apt-get, apt-cache, dpkg and
# dpkg-query on PATH, on a machine that has nothing yet: an archive whose
# update fails for one index (as one in the middle of a sync does) is gone on
# from and everything installs; an install that fails stops the script with
# the package's name and the failed index; a 32-bit Wine that cannot be
# installed is said and not fatal; a second run changes nothing.
#   bootstrap_test.sh SOURCE_ROOT
set -uo pipefail
source_root=$1
work=$(mktemp -d)
trap "rm -rf \"$work\"" EXIT; [ -n "${KEEP:-}" ] && trap - EXIT
failures=0 passed=0
check() { # what, command...
    local what=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAIL $what"; failures=$((failures + 1)); fi
}
says() { grep -qF -- "$2" "$1"; } # file, text
silent() { ! grep -qF -- "$2" "$1"; } # file, text

failed_index=http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz
offline_index=http://deb.example/debian/dists/bookworm/InRelease
mkdir -p "$work/bin"
# The machine's state: installed packages and foreign architectures, one a
# line; every call of the stand-ins is logged.
cat >"$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
echo "dpkg-query $*" >>"$FAKE/calls"
format=$2
shift 2
status=1
for package in "$@"; do
    package=${package%%:*}
    grep -qx "$package" "$FAKE/installed" 2>/dev/null || continue
    status=0
    case $format in
    *Status*) echo "$package installed" ;;
    *Version*) echo 1.0-1 ;;
    esac
done
exit $status
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/usr/bin/env bash
echo "dpkg $*" >>"$FAKE/calls"
case $1 in
--print-architecture) echo amd64 ;;
--print-foreign-architectures) cat "$FAKE/architectures" 2>/dev/null ;;
--add-architecture) echo "$2" >>"$FAKE/architectures" ;;
esac
EOF
# update fails for one index as a mirror in the middle of a sync does;
# install fails for the packages in $FAKE/broken, and installs the rest.
cat >"$work/bin/apt-get" <<EOF
#!/usr/bin/env bash
echo "apt-get \$*" >>"\$FAKE/calls"
case " \$* " in
*" update "*)
    if [ -f "\$FAKE/offline" ]; then
        # No network: apt-get only warns, and exits 0.
        echo "W: Failed to fetch $offline_index  Temporary failure resolving 'deb.example'"
        echo "W: Some index files failed to download. They have been ignored, or old ones used instead."
        exit 0
    fi
    echo "Err:4 $failed_index"
    echo "  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Failed to fetch $failed_index  File has unexpected size (374820 != 376004). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
*" install "*)
    packages=()
    for a in "\$@"; do case \$a in -*|install|*=*) ;; *) packages+=("\$a") ;; esac; done
    for p in "\${packages[@]}"; do
        if grep -qx "\$p" "\$FAKE/broken" 2>/dev/null; then
            echo "E: Package '\$p' has no installation candidate" >&2; exit 100
        fi
    done
    case " \$* " in *" -s "*) exit 0 ;; esac
    printf '%s\n' "\${packages[@]}" >>"\$FAKE/installed" ;;
esac
EOF
cat >"$work/bin/apt-cache" <<'EOF'
#!/usr/bin/env bash
echo "apt-cache $*" >>"$FAKE/calls"
exit 1
EOF
chmod +x "$work/bin/"*

# A copy of the script in a tree whose decompressor sources are fetched already.
mkdir -p "$work/tree/tools" "$work/tree/.cache/libdeflate-1.0-1/lib" "$work/tree/.cache/xz-utils-1.0-1/src/liblzma/lzma"
cp "$source_root/tools/bootstrap" "$work/tree/tools/"
touch "$work/tree/.cache/libdeflate-1.0-1/lib/deflate_decompress.c" \
    "$work/tree/.cache/xz-utils-1.0-1/src/liblzma/lzma/lzma2_decoder.c"

# A run on a new machine whose stand-ins' state is $1.
bootstrap() {
    export FAKE=$work/$1
    mkdir -p "$FAKE"
    : >"$FAKE/calls"
    PATH=$work/bin:$PATH BOOTSTRAP_RETRY_PAUSE=0 "${TREE:-$work/tree}/tools/bootstrap" >"$FAKE/out" 2>&1
}
installed() { grep -qx "$2" "$work/$1/installed" 2>/dev/null; } # state, package

# A failed index: the script goes on, installs everything, and exits 0.
bootstrap mid-sync
check "a failed index is not fatal" [ $? -eq 0 ]
check "the update is tried three times" [ "$(grep -c '^apt-get .*update' "$work/mid-sync/calls")" -eq 3 ]
check "with apt's own retries" says "$work/mid-sync/calls" "Acquire::Retries=3"
check "the failed index is named" says "$work/mid-sync/out" "could not be fetched: $failed_index"
check "every package is installed" installed mid-sync xvfb
check "the 32-bit Wine too" installed mid-sync wine32
check "the i386 architecture is added" grep -qx i386 "$work/mid-sync/architectures"
check "and said so" says "$work/mid-sync/out" "adding the i386 architecture"

# A second run on the same machine changes nothing and says nothing of changes.
bootstrap mid-sync
check "a second run passes" [ $? -eq 0 ]
check "a second run installs nothing" silent "$work/mid-sync/calls" "apt-get"
check "a second run adds no architecture" silent "$work/mid-sync/calls" "--add-architecture"
check "a second run says nothing" [ ! -s "$work/mid-sync/out" ]

# A package that cannot be installed stops the script with its name and the index.
mkdir -p "$work/broken" && echo xvfb >"$work/broken/broken"
bootstrap broken
check "a package that cannot be installed is fatal" [ $? -ne 0 ]
check "the package is named" says "$work/broken/out" "cannot install: xvfb"
check "only that package is named" grep -qx "tools/bootstrap: cannot install: xvfb" "$work/broken/out"
check "the failed index is named with it" says "$work/broken/out" "indexes that failed to download: $failed_index"

# Without network the update only warns: the unreachable archive is named all the same.
mkdir -p "$work/offline" && touch "$work/offline/offline" && echo xvfb >"$work/offline/broken"
bootstrap offline
check "offline, a package that cannot be installed is fatal" [ $? -ne 0 ]
check "offline, the update is tried three times" [ "$(grep -c '^apt-get .*update' "$work/offline/calls")" -eq 3 ]
check "offline, the unreachable archive is named" says "$work/offline/out" "indexes that failed to download: $offline_index"

# Every package installed, no source fetched yet, and the source index fails
# too: named, and the machine's -dev package is not upgraded for it.
mkdir -p "$work/bare/tools" "$work/no-source" && cp "$source_root/tools/bootstrap" "$work/bare/tools/"
cp "$work/mid-sync/installed" "$work/mid-sync/architectures" "$work/no-source/"
TREE=$work/bare bootstrap no-source
check "a source that cannot be found is fatal" [ $? -ne 0 ]
check "it is named with the failed index" says "$work/no-source/out" "libdeflate 1.0-1 cannot be found (indexes that failed: $failed_index)"
check "nothing is upgraded for it" silent "$work/no-source/calls" "--only-upgrade"

# The 32-bit Wine alone cannot be installed: said, and the script passes; the
# next run within the hour does not try it again.
mkdir -p "$work/no-wine32" && echo wine32 >"$work/no-wine32/broken"
bootstrap no-wine32
check "a missing 32-bit Wine is not fatal" [ $? -eq 0 ]
check "it is said" says "$work/no-wine32/out" "tools/test and tools/run"
check "the rest is installed" installed no-wine32 wine64
bootstrap no-wine32
check "the next run passes" [ $? -eq 0 ]
check "the next run does not try it again" silent "$work/no-wine32/calls" "apt-get"
check "and says so" says "$work/no-wine32/out" "tried again an hour later"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
