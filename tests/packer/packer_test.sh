#!/usr/bin/env bash
# The packer refuses every broken manifest with a message naming the line, the
# field or file and the problem, and writes nothing; a sound one is written
# into the kit's programs, the same bytes every time, and what it wrote is
# read back from the programs themselves (product_section.py).
#   packer_test.sh PACKER PRODUCT_DIR PRODUCT_BUILD_DIR LOCALE_DIR COMPILED_LOCALE_DIR SOURCE_DIR SETUP_EXE KIT_PROGRAMS_DIR
set -uo pipefail
packer=$1 product=$2 built=$3 locale=$4 compiled=$5 sources=$6 setup=$7 programs=$8
reader=$(dirname "$0")/product_section.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0

# The packer run with the kit's programs and translations: manifest, output folder, further arguments.
pack() {
    "$packer" "$1" -o "$2" --programs "$programs" --locale "$locale" "$compiled" "${@:3}"
}
# A field of what the packer wrote into a program (product_section.py's name = value).
field() { # program, name
    python3 "$reader" "$1" | awk -v key="$2 = " 'index($0, key) == 1 { print substr($0, length(key) + 1) }'
}
# Whether a field of a program holds a value.
holds() { # program, name, value
    [ "$(field "$1" "$2")" = "$3" ]
}
payload_part() { python3 "$reader" --payload "$1"; }

cp "$product/agreement.txt" "$product/pelmora.ico" "$product/help.htm" "$work/"
# The product's program; its uninstaller is the one the packer writes.
cp "$built/pelmora.exe" "$work/"
# An agreement with a letter that Windows-1252 lacks on its third line; one
# with a byte that is not UTF-8 after a letter of two bytes on its third.
printf 'LICENCE\r\n\r\nThe \xd0\x96 clause.\r\n' >"$work/agreement-ru.txt"
printf 'LICENCE\r\n\r\nThe \xd0\x96 cl\xe9use.\r\n' >"$work/agreement-1252.txt"
# An agreement with a zero byte on its second line; one with a byte order mark
# and lines ending in LF alone.
printf 'LICENCE\r\nThe \0 clause.\r\n' >"$work/agreement-nul.txt"
printf '\xef\xbb\xbfLICENCE\n\nThe clause.\n' >"$work/agreement-lf.txt"
printf '\xff\xfeL\0\r\0\n\0' >"$work/agreement-utf16.txt"
# Sources whose own times lie beyond and before what a stored time can hold.
touch -d '2040-01-01 00:00:00 UTC' "$work/future.txt"
touch -d '1960-01-01 00:00:00 UTC' "$work/past.txt"

# The shipped manifest with line $1 replaced by $2 (empty $1: appended), and
# line $3, when given, appended to its files.
variant() {
    local out=$work/product.ini
    if [ -z "$1" ]; then
        { cat "$product/product.ini"; printf '%s\n' "$2"; } >"$out"
    else
        awk -v pat="$1" -v rep="$2" 'index($0, pat) == 1 { if (rep != "-") print rep; next } { print }' \
            "$product/product.ini" >"$out"
    fi
    if [ -n "${3:-}" ]; then printf '%s\n' "$3" >>"$out"; fi
}

expect_refusal() {
    local what=$1 message=$2
    rm -rf "$work/out" && mkdir "$work/out"
    if pack "$work/product.ini" "$work/out" >"$work/stdout" 2>"$work/stderr"; then
        echo "FAIL $what: accepted"; failures=$((failures + 1)); return
    fi
    if ! grep -qF -- "$message" "$work/stderr"; then
        echo "FAIL $what: wanted '$message', got: $(cat "$work/stderr")"; failures=$((failures + 1)); return
    fi
    if [ -n "$(ls -A "$work/out")" ]; then
        echo "FAIL $what: wrote output"; failures=$((failures + 1)); return
    fi
    passed=$((passed + 1))
}

S=$'\x1f'
long=$(printf 'x%.0s' $(seq 1 1024))
repeat() { printf "$1%.0s" $(seq 1 "$2"); }
# pattern S replacement S message [S a file line appended]; an empty pattern
# appends the replacement; an empty message means the manifest is accepted.
cases=(
"folderName${S}-${S}field 'folderName' is missing"
"${S}colour = blue${S}unknown entry 'colour' in [files]"
"folderName${S}folderName = Pelmora"$'\n'"colour = blue${S}product.ini:5: unknown field 'colour'"
"[files]${S}[extras]${S}unknown section [extras]"
"profileFile${S}profileFile = a.ini"$'\n'"profileFile = b.ini${S}product.ini:7: field 'profileFile' is repeated (first on line 6)"
"folderName${S}folderName =${S}product.ini:4: field 'folderName': must not be empty"
"displayName${S}displayName =${S}product.ini:5: field 'displayName': must not be empty"
"displayName${S}displayName = Install${S}field 'displayName': begins the setup's own window title 'Install Install'"
"displayName${S}displayName = Setup${S}field 'displayName': begins the setup's own window title 'Setup Progress'"
"requiredMegabytes${S}requiredMegabytes = 4096${S}field 'requiredMegabytes': must be 0 to 4095"
"requiredMegabytes${S}requiredMegabytes = -1${S}field 'requiredMegabytes': must be 0 to 4095"
"requiredMegabytes${S}requiredMegabytes = lots${S}field 'requiredMegabytes': not a whole number"
"mainExecutable${S}mainExecutable = other.exe${S}no payload file named 'other.exe'"
"file = pmuninst.exe${S}file = tools/pmuninst.exe | pmuninst.exe${S}no payload file named 'pmuninst.exe'"
"${S}file = C:/x.txt | help.htm${S}the stored name has a drive"
"${S}file = /x.txt | help.htm${S}the stored name begins with a separator"
"${S}file = \\x.txt | help.htm${S}the stored name begins with a separator"
"${S}file = a//x.txt | help.htm${S}the stored name has an empty component"
"${S}file = a/../x.txt | help.htm${S}the stored name has a '.' or '..' component"
"${S}file = a?.txt | help.htm${S}the stored name has a character Windows refuses in names"
"${S}file = a"$'\t'"b.txt | help.htm${S}the stored name has a character Windows refuses in names"
"${S}file = dir./x.txt | help.htm${S}the stored name has a component ending in a dot or a space"
"${S}file = nul.txt | help.htm${S}the stored name uses the reserved device name NUL"
"${S}file = com1 | help.htm${S}the stored name uses the reserved device name COM1"
"${S}file = SYSTEM/ | help.htm${S}the stored name names the system folder without a file"
"${S}file = help.htm.pmold | help.htm${S}the stored name ends in .pmnew, .pmold or .pmdel, which the setup gives the files it writes and replaces"
"${S}file = docs/Guide.PMDEL | help.htm${S}the stored name ends in .pmnew, .pmold or .pmdel, which the setup gives the files it writes and replaces"
"${S}file = SYSTEM/x.dll.PmNew | help.htm${S}the stored name ends in .pmnew, .pmold or .pmdel, which the setup gives the files it writes and replaces"
"${S}file = HELP.HTM | help.htm${S}names the same file as line"
"${S}file = a/b.txt | help.htm"$'\n'"file = a\\b.txt | help.htm${S}product.ini:27: file 'a\\b.txt': names the same file as line 26"
"${S}file = SYSTEM\\x.dll | help.htm"$'\n'"file = SYSTEM/x.dll | help.htm${S}names the same file as line 26"
"${S}file = SYSTEM\\x.dll | help.htm"$'\n'"file = system\\x.dll | help.htm${S}"
"${S}file = old.txt | help.htm | -1${S}"
"${S}file = old.txt | help.htm | -2147483649${S}the stored time is not a signed 32-bit number of seconds since 1970"
"${S}file = future.txt | future.txt${S}file 'future.txt': the source's time, 2208988800 seconds since 1970, does not fit a signed 32-bit stored time"
"${S}file = past.txt | past.txt${S}"
"profileFile${S}profileFile = sub\\pelmora.ini${S}field 'profileFile': must be a file name: it has a separator"
"profileFile${S}profileFile = con.ini${S}field 'profileFile': must be a file name: it uses a device name Windows reserves"
"folderName${S}folderName = Pel/mora${S}product.ini:4: field 'folderName': must be a file name: it has a separator"
"folderName${S}folderName = Pel*mora${S}field 'folderName': must be a file name: it has a character Windows refuses"
"folderName${S}folderName = LPT1${S}field 'folderName': must be a file name: it uses a device name Windows reserves"
"folderName${S}folderName = Pelmora.${S}field 'folderName': must be a file name: it ends in a dot or a space"
"displayName${S}displayName = Pel\\mora${S}product.ini:5: field 'displayName': names a registry key, in which a backslash would begin a subkey"
"displayName${S}displayName = $(repeat n 256)${S}field 'displayName': names a registry key, which may be at most 255 characters long"
"displayName${S}displayName = $(repeat n 255)${S}"
"displayName${S}displayName = $(repeat "\xe6\x97\xa5" 255)${S}"
"displayName${S}displayName = $(repeat "\xe6\x97\xa5" 256)${S}field 'displayName': names a registry key, which may be at most 255 characters long"
"displayName${S}displayName = $(repeat "\xf0\x9f\x93\xa6" 128)${S}field 'displayName': names a registry key, which may be at most 255 characters long"
"displayName${S}displayName = Pel:mora${S}field 'displayName': names the program group's link, which has a character Windows refuses in names"
"displayName${S}displayName = Con${S}field 'displayName': names the program group's link, which uses a device name Windows reserves"
"mainExecutable${S}mainExecutable = PELMORA.exe${S}"
"serviceExecutable${S}serviceExecutable = qsvc.exe${S}product.ini:14: field 'serviceExecutable': no payload file named 'qsvc.exe' at the top of the installation folder"
"serviceExecutable${S}serviceExecutable = qsvc.exe${S}${S}file = QSVC.EXE | pelmora.exe"
"useAgentService${S}useAgentService = 1${S}product.ini:13: field 'useAgentService': no payload file named 'pmagent.exe'"
"useAgentService${S}useAgentService = 1${S}${S}file = PMAgent.exe | pelmora.exe"
"useAgentService${S}useAgentService = 1${S}no payload file named 'pmagent.exe'${S}file = bin/pmagent.exe | help.htm"
"${S}file = Data/x.txt | help.htm${S}product.ini:27: file 'data': names a folder that file 'Data/x.txt' on line 26 needs${S}file = data | help.htm"
"${S}file = data | help.htm${S}product.ini:27: file 'Data\\x.txt': needs a folder where line 26 puts the file 'data'${S}file = Data\\x.txt | help.htm"
"${S}file = SYSTEM/q/x.dll | help.htm${S}file 'SYSTEM\\Q': names a folder that file 'SYSTEM/q/x.dll' on line 26 needs${S}file = SYSTEM\\Q | help.htm"
"${S}file = system/q/x.dll | help.htm${S}${S}file = SYSTEM\\Q | help.htm"
"${S}file = COM"$'\xc2\xb9'".txt | help.htm${S}the stored name uses the reserved device name COM"$'\xc2\xb9'
"${S}file = lpt"$'\xc2\xb3'" | help.htm${S}the stored name uses the reserved device name LPT"$'\xc2\xb3'
"${S}file = CONIN\$ | help.htm${S}the stored name uses the reserved device name CONIN\$"
"${S}file = logs/conout\$.log | help.htm${S}the stored name uses the reserved device name CONOUT\$"
"${S}file = clock\$ | help.htm${S}the stored name uses the reserved device name CLOCK\$"
"${S}file = COM0.txt | help.htm${S}the stored name uses the reserved device name COM0"
"${S}file = lpt0 | help.htm${S}the stored name uses the reserved device name LPT0"
"${S}file = com10.txt | help.htm${S}"
"${S}file = conin.txt | help.htm${S}"
"${S}file = dir /x.txt | help.htm${S}the stored name has a component ending in a dot or a space"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"codePage = 65001${S}field 'codePage': 65001 is UTF-8, which every Windows since 10 version 1903 gives the programs"
"agreement${S}agreement = agreement-nul.txt${S}agreement-nul.txt:2:5: holds a zero byte"
"agreement${S}agreement = agreement-lf.txt${S}"
"agreement${S}agreement = agreement-utf16.txt${S}agreement-utf16.txt: is in UTF-16; save it as UTF-8"
"startupPrompt${S}startupPrompt = $(repeat p 1023)${S}"
"startupPrompt${S}startupPrompt = $(repeat p 1024)${S}field 'startupPrompt': longer than 1023 bytes"
"${S}file = first.txt | help.htm | -2147483648${S}"
"${S}file = last.txt | help.htm | 2147483647${S}"
"${S}file = late.txt | help.htm | 2147483648${S}the stored time is not a signed 32-bit number of seconds since 1970"
"${S}file = early.txt | help.htm | -2147483649${S}the stored time is not a signed 32-bit number of seconds since 1970"
"${S}file = version.txt | /proc/version${S}file 'version.txt': the source /proc/version could not be read whole, or changed while it was packed"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"mediaSize = 16K${S}field 'mediaSize': 16384 bytes cannot hold setup.exe: use at least"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"mediaSize = 16383${S}field 'mediaSize': not a size of at least 16K"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"mediaSize = 4G${S}"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"mediaSize = 4T${S}field 'mediaSize': not a size of at least 16K"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"mediaSize = 99999999999G${S}field 'mediaSize': not a size of at least 16K"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"companionName = Pelmora/x86${S}product.ini:17: field 'companionName': must be a file name: it has a separator"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"companionName = Pelmora?${S}field 'companionName': must be a file name: it has a character Windows refuses"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"companionName = aux${S}field 'companionName': must be a file name: it uses a device name Windows reserves"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"companionName =${S}field 'companionName': must be a file name: it is empty"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"companionName = $(repeat "\xe6\x97\xa5" 240)${S}"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"companionName = $(repeat "\xe6\x97\xa5" 241)${S}product.ini:17: field 'companionName': must be a file name: it is longer than the 240 characters that leave room for the companions' numbers and '.bin'"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"compression = fastest${S}field 'compression': unknown setting 'fastest'; use default, smallest or lzma"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"architecture = arm64${S}field 'architecture': unknown architecture 'arm64'; use x86 or x64"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"architecture = x64${S}field 'mainExecutable': 'pelmora.exe' ($work/pelmora.exe) is a 32-bit program, and the product's architecture is x64"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"architecture = x86${S}"
"serviceExecutable${S}serviceExecutable = help.htm${S}field 'serviceExecutable': 'help.htm' ($work/help.htm) is no Windows program, and the product's architecture is x86"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"compression = smallest${S}"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"installFor = everyone${S}field 'installFor': unknown setting 'everyone'; use machine, user or ask"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"installFor = user${S}"
"serviceExecutable${S}serviceExecutable = pelmora.exe"$'\n'"installFor = user${S}product.ini:15: field 'installFor': the product cannot be installed for one user alone: its NT service (serviceExecutable pelmora.exe) serves the machine; use machine, or ask"
"useAgentService${S}useAgentService = 1"$'\n'"installFor = user${S}field 'installFor': the product cannot be installed for one user alone: its agent service (useAgentService, pmagent.exe) serves the machine; use machine, or ask${S}file = pmagent.exe | pelmora.exe"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"installFor = user${S}field 'installFor': the product cannot be installed for one user alone: its file SYSTEM\\x.dll goes into the Windows system directory, which is the machine's; use machine, or ask${S}file = SYSTEM\\x.dll | help.htm"
"${S}file = missing.txt | nowhere.txt${S}the source nowhere.txt is missing or unreadable (looked for in $work)"
"${S}file = bad.txt | help.htm | yesterday${S}the stored time is not a signed 32-bit number"
"${S}file = na"$'\xef'"ve.txt | help.htm${S}product.ini:26:10: holds bytes that are not UTF-8"
"${S}file = "$'\xd0\x96\xed\xa0\x80'".txt | help.htm${S}product.ini:26:9: holds the unpaired surrogate U+D800, which no Windows name can hold"
"startupPrompt${S}startupPrompt = Start "$'\xe6\x97\xa5\xc0\xaf'"${S}product.ini:8:24: holds bytes that are not UTF-8"
"${S}file = "$'\xe2\x82\xac'".txt | help.htm${S}"
"${S}file = sub/SYSTEM/x.txt | help.htm${S}"
"startupPrompt${S}startupPrompt = "$'\xe6\x97\xa5'"${S}"
"${S}file = "$'\xd0\x96'".txt | help.htm${S}"
"agreement${S}agreement = agreement-ru.txt${S}"
"agreement${S}agreement = agreement-1252.txt${S}agreement-1252.txt:3:9: holds bytes that are not UTF-8"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"codePage = 1234${S}field 'codePage': unknown code page 1234; use a Windows code page: 874, 932, 936, 949, 950, or 1250 to 1258"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"codePage = 932${S}"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"codePage = utf-8${S}field 'codePage': not a whole number"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"codePage = 1251${S}"
"agreement${S}agreement = none.txt${S}field 'agreement': the file none.txt is missing or unreadable"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = en, xx${S}product.ini:17: field 'languages': no language 'xx'; the kit translates into en, ar, cs, da, de,"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = de, en, de${S}field 'languages': 'de' is named twice"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = ,${S}field 'languages': names no language"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"displayName.fr = Pelmora${S}product.ini:17: field 'displayName.fr': 'fr' is none of the product's languages (field 'languages')"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = en, de"$'\n'"agreement.de = none.txt${S}field 'agreement.de': the file none.txt is missing or unreadable"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = en, de"$'\n'"agreement.de = agreement-utf16.txt${S}agreement-utf16.txt: is in UTF-16; save it as UTF-8"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = en, de"$'\n'"displayName.de =${S}field 'displayName.de': must not be empty"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = en, de"$'\n'"startupPrompt.de = $(repeat p 1024)${S}field 'startupPrompt.de': longer than 1023 bytes"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = en, de"$'\n'"displayName.de = $(repeat "\xe6\x97\xa5" 256)${S}field 'displayName.de': may be at most 255 characters long, as 'displayName' may"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = en, de"$'\n'"displayName.de = $(repeat "\xe6\x97\xa5" 255)${S}"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"colour.de = blau${S}unknown field 'colour.de'"
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"languages = de, en"$'\n'"displayName.en = Pelmora"$'\n'"agreement.en = agreement-lf.txt${S}"
"${S}file = ${long} | help.htm${S}the stored name is longer than 1023 bytes"
"startupArguments${S}startupArguments = $(repeat a 1000)${S}fields 'startupArguments' and 'mainExecutable': too long for any folder: even in C:\\Pelmora, the Startup item's command line would be longer than 1023 bytes in UTF-8"
"${S}file = $(repeat a 120)/$(repeat b 130).txt | help.htm${S}its path would be longer than the 259 characters the file functions take"
"${S}file = $(repeat d 237)/x.txt | help.htm${S}the folder it needs would be longer than the 247 characters a new folder may have"
"${S}file = $(repeat d 236)/x.txt | help.htm${S}"
"${S}file = $(repeat "\xd0\xb4" 237)/x.txt | help.htm${S}the folder it needs would be longer than the 247 characters a new folder may have"
"${S}file = $(repeat "\xd0\xb4" 236)/x.txt | help.htm${S}"
"${S}file = SYSTEM/$(repeat d 228)/x.txt | help.htm${S}too long for the system folder: even in C:\\Windows\\SysWOW64, the folder it needs would be longer than the 247 characters"
"${S}file = SYSTEM/$(repeat d 227)/x.txt | help.htm${S}"
"${S}file = SYSTEM\\$(repeat s 235).dll | help.htm${S}"
"${S}file = SYSTEM\\$(repeat s 236).dll | help.htm${S}too long for the system folder: even in C:\\Windows\\SysWOW64, its path would be longer than the 259 characters"
"mainExecutable${S}mainExecutable = SYSTEM\\\\app.exe${S}field 'mainExecutable': 'SYSTEM\\app.exe' must be a program at the top of the installation folder, without a folder${S}file = SYSTEM\\app.exe | help.htm"
"serviceExecutable${S}serviceExecutable = bin/svc.exe${S}product.ini:14: field 'serviceExecutable': 'bin/svc.exe' must be a program at the top of the installation folder${S}file = bin/svc.exe | help.htm"
)
for entry in "${cases[@]}"; do
    IFS=$S read -r -d '' pattern replacement message extra <<<"$entry"
    message=${message%$'\n'} extra=${extra%$'\n'}
    variant "$pattern" "$replacement" "$extra"
    if [ -z "$message" ]; then
        # Cases without a message show what is accepted: they must pack.
        rm -rf "$work/out" && mkdir "$work/out"
        if pack "$work/product.ini" "$work/out" >/dev/null 2>"$work/stderr"; then
            passed=$((passed + 1))
        else
            echo "FAIL $pattern -> $replacement: $(cat "$work/stderr")"; failures=$((failures + 1))
        fi
        continue
    fi
    expect_refusal "$pattern -> $replacement" "$message"
done

# A product for either that needs the machine is packed for the machine alone, and says so.
variant serviceExecutable "serviceExecutable = pelmora.exe"$'\n'"installFor = ask"
rm -rf "$work/out" && mkdir "$work/out"
check_ask() {
    pack "$work/product.ini" "$work/out" >/dev/null 2>"$work/stderr" \
        && grep -qF "product.ini:15: warning: field 'installFor': only the installation for everyone on the computer is offered, and nobody is asked: its NT service (serviceExecutable pelmora.exe) serves the machine" "$work/stderr" \
        && holds "$work/out/setup.exe" installFor 0
}
if check_ask; then passed=$((passed + 1)); else echo "FAIL ask with a service: $(cat "$work/stderr")"; failures=$((failures + 1)); fi

# A field on a line that is not UTF-8 is named once, as that, not also as missing.
variant startupPrompt "startupPrompt = Start "$'\xc0\xaf'
expect_refusal "a field not UTF-8" "product.ini:8:23: holds bytes that are not UTF-8"
if [ "$(wc -l <"$work/stderr")" -eq 1 ]; then passed=$((passed + 1))
else echo "FAIL a field not UTF-8 is reported more than once: $(cat "$work/stderr")"; failures=$((failures + 1)); fi

check() { # what, condition...
    local what=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAIL $what"; failures=$((failures + 1)); fi
}

# The same manifest and files pack to the same bytes: the setup and the uninstaller written for it.
cp "$product/product.ini" "$work/product.ini"
for out in a b; do
    pack "$work/product.ini" "$work/$out" --keep-uninstaller "$work/$out/pmuninst.exe" >"$work/$out.stdout" \
        || echo "FAIL packing $out"
done
for f in setup.exe pmuninst.exe; do
    check "$f the same in two runs" cmp -s "$work/a/$f" "$work/b/$f"
done
check "the setup's path printed, and no companion" test "$(cat "$work/a.stdout")" = "$work/a/setup.exe"
uninstaller=$work/a/pmuninst.exe
check "the uninstaller's section" holds "$uninstaller" program 2
check "the uninstaller removes the product's files" test "$(field "$uninstaller" removedFiles.count) $(field "$uninstaller" 'removedFiles[2]')" = "3 pmuninst.exe"
# The payload's pmuninst.exe is the uninstaller written for the product.
unpacked() { # setup, file index: the file's content, its zlib slices inflated
    python3 - <(payload_part "$1") "$2" "$(field "$1" sliceCounts)" "$(field "$1" sliceLengths)" "$(field "$1" fileOffsets)" <<'PY'
import sys, zlib
payload = open(sys.argv[1], "rb").read()
index = int(sys.argv[2])
counts, lengths, offsets = [[int(x) for x in a.split()] for a in sys.argv[3:6]]
first, at = sum(counts[:index]), offsets[index]
for length in lengths[first:first + counts[index]]:
    sys.stdout.buffer.write(zlib.decompress(payload[at:at + length]))
    at += length
PY
}
check "the setup carries the uninstaller written" cmp -s <(unpacked "$work/a/setup.exe" 2) "$uninstaller"
# The uninstaller's icon keeps the shipped icon's 32 and 16 pixel images (not its 48), their bytes as they were;
# the setup's keeps all three.
ico_field() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; } # file, offset
ico_image() { # the shipped icon's entry $1: WIDTHxHEIGHT:SHA-256
    local icon=$product/pelmora.ico entry=$((6 + 16 * $1))
    printf '%sx%s:%s' "$(od -An -tu1 -j$entry -N1 "$icon" | tr -d ' ')" "$(od -An -tu1 -j$((entry + 1)) -N1 "$icon" | tr -d ' ')" \
        "$(tail -c +$(($(ico_field "$icon" $((entry + 12))) + 1)) "$icon" | head -c "$(ico_field "$icon" $((entry + 8)))" | sha256sum | cut -c1-64)"
}
check "the uninstaller's icon: the shipped one's 32 and 16 pixel images" holds "$uninstaller" icons "$(ico_image 0) $(ico_image 1)"
check "the setup's icon: all the shipped one's images" holds "$work/a/setup.exe" icons "$(ico_image 0) $(ico_image 1) $(ico_image 2)"
check "the shipped manifest gives three files" holds "$work/a/setup.exe" fileNames.count 3

# A solid payload: one xz stream that xz itself takes, holding the files'
# content in order, packed to the same bytes every time; one block for up to
# 26 MiB of content, and beyond that blocks of about equal shares that end
# where a slice ends.
solid() { # name, the bytes of zeros after the shipped files
    mkdir -p "$work/$1"
    truncate -s "$2" "$work/zeros-$1.bin"
    sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\ncompression = lzma/' "$product/product.ini" >"$work/$1.ini"
    echo "file = zeros.bin | zeros-$1.bin" >>"$work/$1.ini"
    pack "$work/$1.ini" "$work/$1" --keep-uninstaller "$work/$1/pmuninst.exe" >/dev/null 2>"$work/stderr" \
        || echo "FAIL packing $1: $(cat "$work/stderr")"
    payload_part "$work/$1/setup.exe" >"$work/$1/payload.bin"
}
block_sizes() { field "$work/$1/setup.exe" blockSizes; }
block=27262976
# The uninstaller written for these products, the same for each: it holds the files' names, not their sizes.
solid names 0
shipped=$(cat "$work/pelmora.exe" "$work/help.htm" "$work/names/pmuninst.exe" | wc -c)
solid one $((block - shipped))
solid again $((block - shipped))
solid two $((block - shipped + 1))
check "a solid payload decodes to the files' content" cmp -s <(xz -dc --single-stream <"$work/one/payload.bin") \
    <(cat "$work/pelmora.exe" "$work/help.htm" "$work/one/pmuninst.exe" "$work/zeros-one.bin")
check "a solid payload packs to the same bytes" cmp -s "$work/one/payload.bin" "$work/again/payload.bin"
check "exactly 26 MiB in one block" test "$(block_sizes one)" = "$block"
# 26 MiB and a byte in two: the first ends at the first slice's end past half.
half=$(((block + 1 + 1) / 2))
first=$(((half - shipped + 29999) / 30000 * 30000 + shipped))
check "a byte more in two blocks ($(block_sizes two))" test "$(block_sizes two)" = "$first $((block + 1 - first))"
check "the solid tables name the blocks' unpacker" test "$(field "$work/two/setup.exe" payloadKind) $(field "$work/one/setup.exe" payloadKind) $(field "$work/a/setup.exe" payloadKind)" = "1 1 0"
check "each block where the last one ended" python3 - "$work/two/payload.bin" "$(field "$work/two/setup.exe" blockOffsets)" \
    "$(field "$work/two/setup.exe" blockLengths)" <<'PY'
import lzma, sys
payload = open(sys.argv[1], "rb").read()
offsets, lengths = [[int(x) for x in a.split()] for a in sys.argv[2:4]]
# Each block begins with its header's size, and the stream's header is 12 bytes.
sys.exit(0 if offsets[0] == 12 and offsets[1] == offsets[0] + lengths[0]
         and all(payload[o] != 0 for o in offsets) else 1)
PY

# A payload larger than the medium holds (or than 4 GB) lies in companions of
# that size beside setup.exe, which holds none of it; the tables carry each
# part's size and SHA-256; a payload that fits again leaves no companion.
head -c 600000 /dev/urandom >"$work/noise.bin"
{ cat "$work/product.ini"; echo "file = noise.bin | noise.bin"; } >"$work/whole.ini"
sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\nmediaSize = 256K/' "$work/whole.ini" >"$work/split.ini"
mkdir -p "$work/split" "$work/whole"
pack "$work/split.ini" "$work/split" >"$work/split.stdout" 2>"$work/stderr" || echo "FAIL packing split: $(cat "$work/stderr")"
pack "$work/whole.ini" "$work/whole" >/dev/null 2>"$work/stderr" || echo "FAIL packing whole: $(cat "$work/stderr")"
payload_part "$work/split/setup.exe" >"$work/split/payload.bin"
payload_part "$work/whole/setup.exe" >"$work/whole/payload.bin"
parts=("$work/split/payload.bin" "$work/split/Pelmora-1.bin" "$work/split/Pelmora-2.bin" "$work/split/Pelmora-3.bin")
check "256K companions, setup.exe none" test "$(stat -c %s "${parts[@]}" | tr '\n' ' ')" = "0 262144 262144 $(($(stat -c %s "$work/whole/payload.bin") - 524288)) "
check "the companions hold the payload" cmp -s <(cat "${parts[@]}") "$work/whole/payload.bin"
digests=$(for part in "${parts[@]}"; do sha256sum "$part" | cut -c1-64; done | tr '\n' ' ')
check "each part's SHA-256 in the tables" test "$digests" = "$(field "$work/split/setup.exe" partDigests) "
check "each part's size in the tables" test "$(field "$work/split/setup.exe" partSizes)" = "$(stat -c %s "${parts[@]}" | tr '\n' ' ' | sed 's/ $//')"
check "the companions listed" test "$(cat "$work/split/.pmpack-companions")" = "$(printf '%s\n' "${parts[@]:1}")"
check "the setup and its companions printed" test "$(cat "$work/split.stdout")" = "$(printf '%s\n' "$work/split/setup.exe" "${parts[@]:1}")"
# Named after the manifest's companionName instead, the companions under the earlier name go.
sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\nmediaSize = 256K\ncompanionName = Pelmora 2.1 (x86)/' \
    "$work/whole.ini" >"$work/split.ini"
pack "$work/split.ini" "$work/split" >/dev/null 2>"$work/stderr" || echo "FAIL packing split again: $(cat "$work/stderr")"
named=("$work/split/Pelmora 2.1 (x86)-1.bin" "$work/split/Pelmora 2.1 (x86)-2.bin" "$work/split/Pelmora 2.1 (x86)-3.bin")
check "companions after companionName" cmp -s <(cat "${named[@]}") "$work/whole/payload.bin"
check "the earlier name's companions gone" test ! -e "${parts[1]}" -a ! -e "${parts[3]}"
check "the name in the tables" holds "$work/split/setup.exe" companionName "Pelmora 2.1 (x86)"
pack "$work/whole.ini" "$work/split" >/dev/null 2>"$work/stderr"
check "no companion left once the payload fits" test ! -e "${named[0]}" -a ! -e "${named[2]}" -a ! -s "$work/split/.pmpack-companions"
check "the tables then name the setup's part alone" test "$(field "$work/split/setup.exe" partSizes)" = "$(stat -c %s "$work/whole/payload.bin")"
rm -f "$work"/zeros-*.bin "$work/noise.bin"

# A product named in Cyrillic: its texts, its agreement and its stored names
# stay UTF-8, and its programs' version resources name it. Its codePage, 1251,
# holds them all for older Windows; meant for 1252, the first that code page
# cannot hold is warned of, and it packs.
mkdir -p "$work/ru" "$work/ru-out" "$work/ru-1252-out"
cp "$work/pelmora.exe" "$work/pelmora.ico" "$work/ru/"
printf '\xd0\x9b\xd0\xb8\xd1\x86\xd0\xb5\xd0\xbd\xd0\xb7\xd0\xb8\xd1\x8f\r\n' >"$work/ru/agreement.txt" # Лицензия
printf 'x' >"$work/ru/help.htm"
sed -e 's/^displayName = .*/displayName = \xd0\x9f\xd0\xb5\xd0\xbb\xd1\x8c\xd0\xbc\xd0\xbe\xd1\x80\xd0\xb0/' \
    -e 's/^file = help.htm | help.htm/file = \xd1\x81\xd0\xbf\xd1\x80\xd0\xb0\xd0\xb2\xd0\xba\xd0\xb0.htm | help.htm/' \
    "$product/product.ini" >"$work/ru/product-1252.ini" # Пельмора, справка.htm
sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\ncodePage = 1251/' "$work/ru/product-1252.ini" >"$work/ru/product.ini"
if pack "$work/ru/product.ini" "$work/ru-out" --keep-uninstaller "$work/ru-out/pmuninst.exe" >/dev/null 2>"$work/stderr"; then
    data=$work/ru-out/setup.exe
    name=$'\xd0\x9f\xd0\xb5\xd0\xbb\xd1\x8c\xd0\xbc\xd0\xbe\xd1\x80\xd0\xb0'
    check "UTF-8 displayName" holds "$data" displayName "$name"
    check "UTF-8 stored name" holds "$data" 'fileNames[1]' $'\xd1\x81\xd0\xbf\xd1\x80\xd0\xb0\xd0\xb2\xd0\xba\xd0\xb0.htm'
    check "1251 code page" test "$(field "$data" codePage) $(field "$work/ru-out/pmuninst.exe" codePage)" = "1251 1251"
    check "UTF-8 agreement" holds "$data" agreement $'\xd0\x9b\xd0\xb8\xd1\x86\xd0\xb5\xd0\xbd\xd0\xb7\xd0\xb8\xd1\x8f\\r\\n'
    check "the name in the setup's version resource" holds "$data" version.ProductName "$name"
    check "the name in the uninstaller's version resource" holds "$work/ru-out/pmuninst.exe" version.FileDescription "$name Uninstaller"
    check "no warning where 1251 holds every text" test ! -s "$work/stderr"
else
    echo "FAIL 1251: $(cat "$work/stderr")"; failures=$((failures + 1))
fi
if pack "$work/ru/product-1252.ini" "$work/ru-1252-out" >/dev/null 2>"$work/stderr"; then
    check "the warning of older Windows" grep -qF "product-1252.ini: warning: on a Windows older than 10 version 1903 whose code page is 1252 (the manifest's codePage), the setup will refuse to run: field 'displayName' the character '"$'\xd0\x9f'"' (U+041F) has no place in code page 1252 (and 2 more texts)" "$work/stderr"
else
    echo "FAIL 1252 warning: $(cat "$work/stderr")"; failures=$((failures + 1))
fi
# Shift-JIS holds 表, but with an ASCII second byte, a backslash: no older Windows could take it.
sed 's/^displayName = .*/displayName = \xe8\xa1\xa8/; s/^requiredMegabytes = 0/requiredMegabytes = 0\ncodePage = 932/' \
    "$product/product.ini" >"$work/product.ini"
rm -rf "$work/out" && mkdir "$work/out"
if pack "$work/product.ini" "$work/out" >/dev/null 2>"$work/stderr"; then
    check "a double-byte character with an ASCII byte" grep -qF "field 'displayName' the character '"$'\xe8\xa1\xa8'"' (U+8868) ends in an ASCII byte in code page 932" "$work/stderr"
else
    echo "FAIL 932: $(cat "$work/stderr")"; failures=$((failures + 1))
fi

# A byte order mark goes, and every line ends in CR LF, as the edit control needs;
# a manifest may begin with a byte order mark too.
mkdir -p "$work/lf-out"
{ printf '\xef\xbb\xbf'; sed 's/^agreement = .*/agreement = agreement-lf.txt/' "$product/product.ini"; } \
    >"$work/product.ini"
if pack "$work/product.ini" "$work/lf-out" >/dev/null 2>"$work/stderr"; then
    check "agreement in CR LF without its byte order mark" holds "$work/lf-out/setup.exe" agreement 'LICENCE\r\n\r\nThe clause.\r\n'
else
    echo "FAIL byte order marks: $(cat "$work/stderr")"; failures=$((failures + 1))
fi

# A file without a stored time takes its source's time, but never a later one
# than SOURCE_DATE_EPOCH, so files made by the build leave two builds alike.
mkdir -p "$work/epoch-out"
touch -d '@1500000000' "$work/old.txt"
touch "$work/new.txt"
{ cat "$product/product.ini"; printf '%s\n' "file = old.txt | old.txt" "file = new.txt | new.txt"; } >"$work/product.ini"
if SOURCE_DATE_EPOCH=1600000000 pack "$work/product.ini" "$work/epoch-out" >/dev/null 2>"$work/stderr"; then
    check "times no later than SOURCE_DATE_EPOCH" holds "$work/epoch-out/setup.exe" fileTimes \
        "979069806 956876368 979070150 1500000000 1600000000"
else
    echo "FAIL SOURCE_DATE_EPOCH: $(cat "$work/stderr")"; failures=$((failures + 1))
fi
refused_epoch() { # SOURCE_DATE_EPOCH
    rm -rf "$work/epoch-out" && mkdir "$work/epoch-out"
    ! SOURCE_DATE_EPOCH=$1 pack "$work/product.ini" "$work/epoch-out" >/dev/null 2>"$work/stderr" \
        && grep -qF "SOURCE_DATE_EPOCH: '$1' is not a number" "$work/stderr"
}
for epoch in abc -5 2147483648; do
    check "SOURCE_DATE_EPOCH=$epoch refused" refused_epoch "$epoch"
done

# A manifest saved as UTF-16 is named as such.
printf '\xff\xfe[\0p\0]\0' >"$work/utf16.ini"
if pack "$work/utf16.ini" "$work/epoch-out" >/dev/null 2>"$work/stderr"; then
    echo "FAIL a UTF-16 manifest: accepted"; failures=$((failures + 1))
else
    check "a UTF-16 manifest" grep -qF "utf16.ini: is in UTF-16; save it as UTF-8" "$work/stderr"
fi

# A file longer than the packer's batch of about 30 MB, read in pieces, still
# has slices of 30000 bytes each but the last, each inflating on its own.
mkdir -p "$work/long-out"
head -c 70000001 /dev/zero | tr '\0' 'p' >"$work/long.txt"
{ cat "$product/product.ini"; echo "file = long.txt | long.txt | 1000000000"; } >"$work/product.ini"
if pack "$work/product.ini" "$work/long-out" >/dev/null 2>"$work/stderr"; then
    payload_part "$work/long-out/setup.exe" >"$work/long-out/payload.bin"
    check "a long file's slices" python3 - "$work/long-out/payload.bin" "$(field "$work/long-out/setup.exe" sliceCounts)" \
        "$(field "$work/long-out/setup.exe" sliceLengths)" "$(field "$work/long-out/setup.exe" fileOffsets)" <<'PY'
import sys, zlib
payload = open(sys.argv[1], "rb").read()
counts, lengths, offsets = [[int(x) for x in a.split()] for a in sys.argv[2:5]]
first, count = sum(counts[:3]), counts[3]
starts = [offsets[3] + sum(lengths[first:first + k]) for k in range(count)]
sizes = [len(zlib.decompress(payload[o:o + n])) for o, n in zip(starts, lengths[first:first + count])]
sys.exit(0 if sizes == [30000] * 2333 + [10001] and starts[-1] + lengths[-1] == len(payload) else 1)
PY
else
    echo "FAIL a long file: $(cat "$work/stderr")"; failures=$((failures + 1))
fi
rm -f "$work/long.txt"

# The sign command is told the product's name exactly, brackets and all, and
# signs the uninstaller and then the setup.
mkdir -p "$work/quote-out"
sed 's/^displayName = .*/displayName = Pelmora [x]]=/' "$product/product.ini" >"$work/product.ini"
if pack "$work/product.ini" "$work/quote-out" --sign-command \
    "sh -c 'printf \"%s %s\\n\" \"\${0##*/}\" \"\$PMPACK_PRODUCT_NAME\" >>\"$work/signed.txt\"'" >/dev/null 2>"$work/stderr"; then
    check "the name told to the sign command" test "$(cat "$work/signed.txt")" = "pmuninst.exe Pelmora [x]]="$'\n'"setup.exe Pelmora [x]]="
else
    echo "FAIL the sign command: $(cat "$work/stderr")"; failures=$((failures + 1))
fi

# Languages. Each text the product shows but gives in its first language alone
# is warned of once, naming the languages that show it for want of their own.
sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\nlanguages = en, de, ar\ndisplayName.de = Pelmora DE/' \
    "$product/product.ini" >"$work/product.ini"
rm -rf "$work/out" && mkdir "$work/out"
if pack "$work/product.ini" "$work/out" >/dev/null 2>"$work/stderr"; then
    check "one warning per text given in the first language alone" diff - "$work/stderr" <<EOF
$work/product.ini: warning: field 'displayName' has no text of its own in ar: the setup shows the default one, meant for en, instead (give one as 'displayName.ar = ...')
$work/product.ini: warning: field 'agreement' has no text of its own in de, ar: the setup shows the default one, meant for en, instead (give one as 'agreement.de = ...')
$work/product.ini: warning: field 'startupPrompt' has no text of its own in de, ar: the setup shows the default one, meant for en, instead (give one as 'startupPrompt.de = ...')
EOF
else
    echo "FAIL three languages: $(cat "$work/stderr")"; failures=$((failures + 1))
fi

# The programs' languages: the shipped product's is English alone, with no
# translations; a product of three gets their translations and its texts in
# them, Arabic written from right to left, in the setup and the uninstaller.
languages() { # program: each language's name, Windows language, direction and whether it has translations
    local k
    for k in $(seq 0 $(($(field "$1" languages.count) - 1))); do
        printf '%s %s %s %s;' "$(field "$1" "languages[$k].name")" "$(field "$1" "languages[$k].windowsLanguage")" \
            "$(field "$1" "languages[$k].rightToLeft")" "$([ "$(field "$1" "languages[$k].translations")" -gt 0 ] && echo translated)"
    done
}
mkdir -p "$work/lang-out"
if pack "$work/product.ini" "$work/lang-out" --keep-uninstaller "$work/lang-out/pmuninst.exe" >/dev/null 2>"$work/stderr"; then
    check "English alone" test "$(languages "$work/a/setup.exe")|$(languages "$uninstaller")" = "en 1033 0 ;|en 1033 0 ;"
    check "three languages: their translations, and mirroring for Arabic" test "$(languages "$work/lang-out/setup.exe")" \
        = "en 1033 0 ;de 1031 0 translated;ar 1025 1 translated;"
    check "the uninstaller's three languages" test "$(languages "$work/lang-out/pmuninst.exe")" \
        = "en 1033 0 ;de 1031 0 translated;ar 1025 1 translated;"
    check "the German name, and only it" test "$(python3 "$reader" "$work/lang-out/setup.exe" | grep '^languages.*\.displayName')" \
        = "languages[1].displayName = Pelmora DE"
else
    echo "FAIL the languages' tables: $(cat "$work/stderr")"; failures=$((failures + 1))
fi
refused_by_packer() { # manifest, locale folder, compiled folder, message
    rm -rf "$work/out" && mkdir "$work/out"
    ! "$packer" "$1" -o "$work/out" --programs "$programs" --locale "$2" "$3" >/dev/null 2>"$work/stderr" \
        && grep -qF -- "$4" "$work/stderr"
}
variant requiredMegabytes "requiredMegabytes = 0"$'\n'"languages = en, de"
mkdir -p "$work/nolocale/src" "$work/nolocale/mo"
cp "$locale/en.po" "$work/nolocale/src/"
cp "$compiled/en.mo" "$work/nolocale/mo/"
check "a language without translations refused" refused_by_packer "$work/product.ini" "$work/nolocale/src" \
    "$work/nolocale/mo" "field 'languages': no translations into de ($work/nolocale/src/de.po)"

# A translation whose placeholders differ from the English's: the build's
# check (gettext's msgfmt --check) refuses a placeholder of another type or a
# missing one; the packer refuses what msgfmt lets through but the programs
# cannot fill, a numbered placeholder, and a translation that reorders the
# English's.
mkdir -p "$work/po/src" "$work/po/mo"
cp "$locale/en.po" "$work/po/src/"
cp "$compiled/en.mo" "$work/po/mo/"
with_translation() { # english, translation: de.po with that translation of the English
    python3 - "$locale/de.po" "$1" "$2" >"$work/po/src/de.po" <<'PY'
import sys
path, english, translation = sys.argv[1:]
text = open(path, encoding="utf-8").read()
entry = 'msgid "' + english + '"\nmsgstr "'
at = text.index(entry) + len(entry)
end = text.index('\n', at)
sys.stdout.write(text[:at] + translation + '"' + text[end:])
PY
}
accepted_by_build() {
    cmake -DMSGMERGE=msgmerge -DMSGATTRIB=msgattrib -DMSGFMT=msgfmt -DPO="$work/po/src/de.po" \
        -DTEMPLATE="$compiled/messages.pot" -DOUT="$work/po/mo/de.mo" -P "$sources/cmake/check_translation.cmake" \
        >"$work/stderr" 2>&1
}
refused_by_build() { # message
    ! accepted_by_build && grep -q "de.po: msgfmt --check refuses it" "$work/stderr" && grep -q -- "$1" "$work/stderr"
}
with_translation "Percent Complete: %d%%" "Fortschritt: %s %%"
check "the build refuses a placeholder of another type" refused_by_build "for argument 1 are not the same"
with_translation "Percent Complete: %d%%" "Fortschritt: %%"
check "the build refuses a missing placeholder" refused_by_build "does not match"
with_translation "Percent Complete: %d%%" "%1\$d %% abgeschlossen"
check "the build takes a numbered placeholder" accepted_by_build
check "the packer refuses it" refused_by_packer "$product/product.ini" "$work/po/src" "$work/po/mo" \
    "de.po: \"Percent Complete: %d%%\": the translation holds a placeholder the programs cannot fill"
# A catalog in another character set than UTF-8: msgfmt keeps its bytes, which
# the programs would take for UTF-8.
with_translation "Percent Complete: %d%%" "Fortschritt: %d %%"
sed -i 's/charset=UTF-8/charset=ISO-8859-1/; s/Fortschritt: %d/Fortschritt\xe4: %d/' "$work/po/src/de.po"
check "the build takes a catalog in ISO-8859-1" accepted_by_build
check "the packer refuses it" refused_by_packer "$product/product.ini" "$work/po/src" "$work/po/mo" \
    "de.po: its header's Content-Type names another character set than UTF-8"

# The linked setup program's trailer, between its image and its payload: the
# tag and the SHA-256 of the image with its PE checksum and security entry
# taken as zeros, for the program's own kind of headers (PE32 or PE32+). A
# file that is not an image ending with its last section gets none, and goes.
check "the setup program's trailer" python3 - "$setup" <<'PY'
import hashlib, struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 60)[0]
count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
optional = pe + 24
sections = [struct.unpack_from("<II", data, optional + optional_size + 40 * k + 16) for k in range(count)]
end = max(at + size for size, at in sections if size)
image = bytearray(data[:end])
security = optional + (128 if struct.unpack_from("<H", data, optional)[0] == 0x10b else 144)
image[optional + 64:optional + 68] = bytes(4)
image[security:security + 8] = bytes(8)
sys.exit(0 if data[end:end + 40] == b"PMIMAGE1" + hashlib.sha256(image).digest() else 1)
PY
# A kit's program cut after its headers is refused, naming it, and no setup.exe is written.
mkdir -p "$work/cut"
cp "$programs"/* "$work/cut/"
for program in "$work"/cut/setup-zlib*.exe; do head -c 4096 "$program" >"$program.cut" && mv "$program.cut" "$program"; done
cut_refused() {
    rm -rf "$work/out" && mkdir "$work/out"
    ! "$packer" "$product/product.ini" -o "$work/out" --search "$work" --programs "$work/cut" --locale "$locale" "$compiled" \
        >/dev/null 2>"$work/stderr" \
        && grep -q "^$work/cut/setup-zlib[-a-z]*\.exe: the program's section 1 reaches past the end of the file" "$work/stderr" \
        && [ ! -e "$work/out/setup.exe" ]
}
check "a cut program of the kit refused" cut_refused

# The setup takes its trailer and payload only where mediaSize holds them,
# with room for a signature when it is signed; else it is refused, and the
# packer names the least that would do. Its payload here lies in a companion:
# its own part is empty.
sized() { # mediaSize, further arguments
    variant requiredMegabytes "requiredMegabytes = 0"$'\n'"mediaSize = $1"
    rm -rf "$work/out" && mkdir "$work/out"
    pack "$work/product.ini" "$work/out" "${@:2}" >/dev/null 2>"$work/stderr"
}
sized 1M
image_end=$(python3 - "$work/out/setup.exe" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 60)[0]
count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
sections = [struct.unpack_from("<II", data, pe + 24 + optional_size + 40 * k + 16) for k in range(count)]
print(max(at + size for size, at in sections if size))
PY
)
appended() { # mediaSize, signing (empty: none), the refusal wanted (none: accepted)
    if sized "$1" ${2:+--sign-command "$2"}; then
        [ -z "$3" ] && [ "$(stat -c %s "$work/out/setup.exe")" -eq $((image_end + 40)) ]
    else
        [ -n "$3" ] && [ "$(cat "$work/stderr")" = "$work/product.ini:17: field 'mediaSize': $1 bytes cannot hold setup.exe: use at least $3" ] \
            && [ ! -e "$work/out/setup.exe" ]
    fi
}
unsigned_needs="$((image_end + 40)) (its program's image of $image_end bytes, the image's trailer of 40)"
signed_needs="$((image_end + 40 + 16384)) (its program's image of $image_end bytes, the image's trailer of 40 and room for its signature of 16384)"
check "mediaSize that holds the program and its trailer" appended $((image_end + 40)) "" ""
check "mediaSize a byte less" appended $((image_end + 39)) "" "$unsigned_needs"
check "mediaSize that holds a signature too" appended $((image_end + 40 + 16384)) true ""
check "mediaSize a byte less, signed" appended $((image_end + 40 + 16383)) true "$signed_needs"

echo "packer: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
