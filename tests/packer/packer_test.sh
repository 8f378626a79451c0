#!/usr/bin/env bash
# The packer refuses every broken manifest with a message naming the line, the
# field or file and the problem, and writes nothing; a sound one packs to the
# same bytes every time.
#   packer_test.sh PACKER PRODUCT_DIR PRODUCT_BUILD_DIR LOCALE_DIR COMPILED_LOCALE_DIR SOURCE_DIR SETUP_EXE
set -uo pipefail
packer=$1 product=$2 built=$3 locale=$4 compiled=$5 sources=$6 setup=$7
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 passed=0

cp "$product/agreement.txt" "$product/pelmora.ico" "$product/help.htm" "$work/"
cp "$built/pelmora.exe" "$built/pmuninst.exe" "$work/"
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
    if "$packer" "$work/product.ini" "$work/out" >"$work/stdout" 2>"$work/stderr"; then
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
"requiredMegabytes${S}requiredMegabytes = 0"$'\n'"mediaSize = 16K${S}"
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
        if "$packer" "$work/product.ini" "$work/out" 2>"$work/stderr"; then
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
    "$packer" "$work/product.ini" "$work/out" 2>"$work/stderr" \
        && grep -qF "product.ini:15: warning: field 'installFor': only the installation for everyone on the computer is offered, and nobody is asked: its NT service (serviceExecutable pelmora.exe) serves the machine" "$work/out/warnings.txt" \
        && grep -q "InstallForMachine};" "$work/out/product_data.cpp"
}
if check_ask; then passed=$((passed + 1)); else echo "FAIL ask with a service: $(cat "$work/stderr")"; failures=$((failures + 1)); fi

# A field on a line that is not UTF-8 is named once, as that, not also as missing.
variant startupPrompt "startupPrompt = Start "$'\xc0\xaf'
expect_refusal "a field not UTF-8" "product.ini:8:23: holds bytes that are not UTF-8"
if [ "$(wc -l <"$work/stderr")" -eq 1 ]; then passed=$((passed + 1))
else echo "FAIL a field not UTF-8 is reported more than once: $(cat "$work/stderr")"; failures=$((failures + 1)); fi

# The same manifest and files pack to the same bytes.
cp "$product/product.ini" "$work/product.ini"
mkdir -p "$work/a" "$work/b"
for out in a b; do
    "$packer" --uninstaller "$work/product.ini" "$work/$out" "$locale" "$compiled" && "$packer" "$work/product.ini" "$work/$out"
done
for f in payload.bin agreement.bin product_data.cpp product_resources.h uninstall_data.cpp uninstaller.ico; do
    if cmp -s "$work/a/$f" "$work/b/$f"; then passed=$((passed + 1)); else echo "FAIL $f differs between two runs"; failures=$((failures + 1)); fi
done
# The uninstaller's icon keeps the shipped icon's 32 and 16 pixel images (not its 48), their bytes as they were.
ico_field() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; } # file, offset
small=$work/a/uninstaller.ico shipped=$product/pelmora.ico
if [ "$(od -An -tu1 -j4 -N3 "$small" | tr -s ' ')" = " 2 0 32" ] && [ "$(od -An -tu1 -j22 -N1 "$small" | tr -d ' ')" = 16 ] \
    && [ "$(od -An -tu1 -j6 -N1 "$shipped" | tr -d ' ')" = 32 ] \
    && cmp -s <(tail -c +$(($(ico_field "$small" 18) + 1)) "$small" | head -c "$(ico_field "$small" 14)") \
        <(tail -c +$(($(ico_field "$shipped" 18) + 1)) "$shipped" | head -c "$(ico_field "$shipped" 14)"); then
    passed=$((passed + 1))
else echo "FAIL the uninstaller's icon is not the shipped one's 32 and 16 pixel images"; failures=$((failures + 1)); fi
grep -q "^const PayloadArchiveTables PayloadArchive = {3, " "$work/a/product_data.cpp" && passed=$((passed + 1)) \
    || { echo "FAIL the shipped manifest does not give three files"; failures=$((failures + 1)); }

# A solid payload: one xz stream that xz itself takes, holding the files'
# content in order, packed to the same bytes every time; one block for up to
# 26 MiB of content, and beyond that blocks of about equal shares that end
# where a slice ends.
check() { # what, condition...
    local what=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAIL $what"; failures=$((failures + 1)); fi
}
solid() { # name, the bytes of zeros after the shipped files
    mkdir -p "$work/$1"
    truncate -s "$2" "$work/zeros-$1.bin"
    sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\ncompression = lzma/' "$product/product.ini" >"$work/$1.ini"
    echo "file = zeros.bin | zeros-$1.bin" >>"$work/$1.ini"
    "$packer" "$work/$1.ini" "$work/$1" 2>"$work/stderr" || echo "FAIL packing $1: $(cat "$work/stderr")"
}
block_sizes() { sed -n 's/^const uint32_t blockSizes\[\] = {\(.*\)};$/\1/p' "$work/$1/product_data.cpp"; }
block=27262976
shipped=$(cat "$work/pelmora.exe" "$work/help.htm" "$work/pmuninst.exe" | wc -c)
solid one $((block - shipped))
solid again $((block - shipped))
solid two $((block - shipped + 1))
check "a solid payload decodes to the files' content" cmp -s <(xz -dc --single-stream <"$work/one/payload.bin") \
    <(cat "$work/pelmora.exe" "$work/help.htm" "$work/pmuninst.exe" "$work/zeros-one.bin")
check "a solid payload packs to the same bytes" cmp -s "$work/one/payload.bin" "$work/again/payload.bin"
check "exactly 26 MiB in one block" test "$(block_sizes one)" = "$block"
# 26 MiB and a byte in two: the first ends at the first slice's end past half.
half=$(((block + 1 + 1) / 2))
first=$(((half - shipped + 29999) / 30000 * 30000 + shipped))
check "a byte more in two blocks ($(block_sizes two))" test "$(block_sizes two)" = "$first, $((block + 1 - first))"
check "the solid tables name the blocks' unpacker" grep -q "&BlockUnpacker, &solidBlocks, {1, " "$work/two/product_data.cpp"

# A payload larger than the medium holds (or than 4 GB) lies in companions of
# that size beside setup.exe, which holds none of it; the tables carry each
# file's size and SHA-256; a payload that fits again leaves no companion.
sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\nmediaSize = 16K/' "$product/product.ini" >"$work/split.ini"
mkdir -p "$work/split" "$work/whole"
"$packer" "$work/split.ini" "$work/split" 2>"$work/stderr" || echo "FAIL packing split: $(cat "$work/stderr")"
"$packer" "$product/product.ini" "$work/whole" --search "$work" 2>"$work/stderr" || echo "FAIL packing whole: $(cat "$work/stderr")"
parts=("$work/split/payload.bin" "$work/split/Pelmora-1.bin" "$work/split/Pelmora-2.bin" "$work/split/Pelmora-3.bin")
check "16K companions, setup.exe none" test "$(stat -c %s "${parts[@]}" | tr '\n' ' ')" = "0 16384 16384 $(($(stat -c %s "$work/whole/payload.bin") - 32768)) "
check "the companions hold the payload" cmp -s <(cat "${parts[@]}") "$work/whole/payload.bin"
digests=$(for part in "${parts[@]}"; do sha256sum "$part" | cut -c1-64; done | tr '\n' ' ')
tabled=$(python3 -c 'import re, sys
data = open(sys.argv[1]).read()
for part in re.findall(r"\{([0-9, ]+)\}", re.search(r"partDigests\[\]\[32\] = \{(.*)\};", data).group(1)):
    print(bytes(int(b) for b in part.split(", ")).hex(), end=" ")' "$work/split/product_data.cpp")
check "each part's SHA-256 in the tables" test "$digests" = "$tabled"
check "each part's size in the tables" grep -qF "partSizes[] = {0, 16384, 16384, " "$work/split/product_data.cpp"
check "the companions listed" test "$(cat "$work/split/companions.txt")" = "$(printf '%s\n' "${parts[@]:1}")"
# Named after the manifest's companionName instead, the companions under the earlier name go.
sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\nmediaSize = 16K\ncompanionName = Pelmora 2.1 (x86)/' \
    "$product/product.ini" >"$work/split.ini"
"$packer" "$work/split.ini" "$work/split" 2>"$work/stderr" || echo "FAIL packing split again: $(cat "$work/stderr")"
named=("$work/split/Pelmora 2.1 (x86)-1.bin" "$work/split/Pelmora 2.1 (x86)-2.bin" "$work/split/Pelmora 2.1 (x86)-3.bin")
check "companions after companionName" cmp -s <(cat "${named[@]}") "$work/whole/payload.bin"
check "the earlier name's companions gone" test ! -e "${parts[1]}" -a ! -e "${parts[3]}"
check "the name in the tables" grep -qF 'partDigests, "Pelmora 2.1 (x86)"}, {' "$work/split/product_data.cpp"
"$packer" "$product/product.ini" "$work/split" --search "$work" 2>"$work/stderr"
check "no companion left once the payload fits" test ! -e "${named[0]}" -a ! -e "${named[2]}" -a ! -s "$work/split/companions.txt"
rm -f "$work"/zeros-*.bin

# A product named in Cyrillic: its texts, its agreement and its stored names
# stay UTF-8. Its codePage, 1251, holds them all for older Windows; meant for
# 1252, the first that code page cannot hold is warned of, and it packs.
mkdir -p "$work/ru" "$work/ru-out" "$work/ru-1252-out"
cp "$work/pelmora.exe" "$work/pmuninst.exe" "$work/pelmora.ico" "$work/ru/"
printf '\xd0\x9b\xd0\xb8\xd1\x86\xd0\xb5\xd0\xbd\xd0\xb7\xd0\xb8\xd1\x8f\r\n' >"$work/ru/agreement.txt" # Лицензия
printf 'x' >"$work/ru/help.htm"
sed -e 's/^displayName = .*/displayName = \xd0\x9f\xd0\xb5\xd0\xbb\xd1\x8c\xd0\xbc\xd0\xbe\xd1\x80\xd0\xb0/' \
    -e 's/^file = help.htm | help.htm/file = \xd1\x81\xd0\xbf\xd1\x80\xd0\xb0\xd0\xb2\xd0\xba\xd0\xb0.htm | help.htm/' \
    "$product/product.ini" >"$work/ru/product-1252.ini" # Пельмора, справка.htm
sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\ncodePage = 1251/' "$work/ru/product-1252.ini" >"$work/ru/product.ini"
if "$packer" --uninstaller "$work/ru/product.ini" "$work/ru-out" "$locale" "$compiled" 2>"$work/stderr" \
    && "$packer" "$work/ru/product.ini" "$work/ru-out" 2>>"$work/stderr"; then
    data=$work/ru-out/product_data.cpp
    check "UTF-8 displayName" grep -qF '"\320\237\320\265\320\273\321\214\320\274\320\276\321\200\320\260", // displayName' "$data"
    check "UTF-8 stored name" grep -qF '"\321\201\320\277\321\200\320\260\320\262\320\272\320\260.htm"' "$data"
    check "1251 code page" grep -qF 'const uint32_t ProductCodePage = 1251;' "$data"
    check "UTF-8 agreement" cmp -s "$work/ru-out/agreement.bin" \
        <(printf '\xd0\x9b\xd0\xb8\xd1\x86\xd0\xb5\xd0\xbd\xd0\xb7\xd0\xb8\xd1\x8f\r\n\0')
    check "UTF-8 resources" grep -qF '#pragma code_page(65001)' "$work/ru-out/product_resources.h"
    check "no warning where 1251 holds every text" test ! -s "$work/stderr"
else
    echo "FAIL 1251: $(cat "$work/stderr")"; failures=$((failures + 1))
fi
if "$packer" "$work/ru/product-1252.ini" "$work/ru-1252-out" 2>"$work/stderr"; then
    check "the warning of older Windows" grep -qF "product-1252.ini: warning: on a Windows older than 10 version 1903 whose code page is 1252 (the manifest's codePage), the setup will refuse to run: field 'displayName' the character '"$'\xd0\x9f'"' (U+041F) has no place in code page 1252 (and 2 more texts)" "$work/stderr"
else
    echo "FAIL 1252 warning: $(cat "$work/stderr")"; failures=$((failures + 1))
fi
# Shift-JIS holds 表, but with an ASCII second byte, a backslash: no older Windows could take it.
sed 's/^displayName = .*/displayName = \xe8\xa1\xa8/; s/^requiredMegabytes = 0/requiredMegabytes = 0\ncodePage = 932/' \
    "$product/product.ini" >"$work/product.ini"
rm -rf "$work/out" && mkdir "$work/out"
if "$packer" "$work/product.ini" "$work/out" 2>"$work/stderr"; then
    check "a double-byte character with an ASCII byte" grep -qF "field 'displayName' the character '"$'\xe8\xa1\xa8'"' (U+8868) ends in an ASCII byte in code page 932" "$work/stderr"
else
    echo "FAIL 932: $(cat "$work/stderr")"; failures=$((failures + 1))
fi

# A byte order mark goes, and every line ends in CR LF, as the edit control needs;
# a manifest may begin with a byte order mark too.
mkdir -p "$work/lf-out"
{ printf '\xef\xbb\xbf'; sed 's/^agreement = .*/agreement = agreement-lf.txt/' "$product/product.ini"; } \
    >"$work/product.ini"
if "$packer" "$work/product.ini" "$work/lf-out" 2>"$work/stderr"; then
    check "agreement in CR LF without its byte order mark" \
        cmp -s "$work/lf-out/agreement.bin" <(printf 'LICENCE\r\n\r\nThe clause.\r\n\0')
else
    echo "FAIL byte order marks: $(cat "$work/stderr")"; failures=$((failures + 1))
fi

# A file without a stored time takes its source's time, but never a later one
# than SOURCE_DATE_EPOCH, so files made by the build leave two builds alike.
mkdir -p "$work/epoch-out"
touch -d '@1500000000' "$work/old.txt"
touch "$work/new.txt"
{ cat "$product/product.ini"; printf '%s\n' "file = old.txt | old.txt" "file = new.txt | new.txt"; } >"$work/product.ini"
if SOURCE_DATE_EPOCH=1600000000 "$packer" "$work/product.ini" "$work/epoch-out" 2>"$work/stderr"; then
    check "times no later than SOURCE_DATE_EPOCH" grep -qF 'fileTimes[] = {979069806, 956876368, 979070150, 1500000000, 1600000000}' \
        "$work/epoch-out/product_data.cpp"
else
    echo "FAIL SOURCE_DATE_EPOCH: $(cat "$work/stderr")"; failures=$((failures + 1))
fi
for epoch in abc -5 2147483648; do
    rm -rf "$work/epoch-out" && mkdir "$work/epoch-out"
    check "SOURCE_DATE_EPOCH=$epoch refused" bash -c '! SOURCE_DATE_EPOCH=$1 "$2" "$3" "$4" 2>"$5" && grep -qF "SOURCE_DATE_EPOCH: '"'"'$1'"'"' is not a number" "$5"' \
        _ "$epoch" "$packer" "$work/product.ini" "$work/epoch-out" "$work/stderr"
done

# A manifest saved as UTF-16 is named as such.
printf '\xff\xfe[\0p\0]\0' >"$work/utf16.ini"
if "$packer" "$work/utf16.ini" "$work/epoch-out" 2>"$work/stderr"; then
    echo "FAIL a UTF-16 manifest: accepted"; failures=$((failures + 1))
else
    check "a UTF-16 manifest" grep -qF "utf16.ini: is in UTF-16; save it as UTF-8" "$work/stderr"
fi

# A file longer than the packer's batch of about 30 MB, read in pieces, still
# has slices of 30000 bytes each but the last, each inflating on its own.
mkdir -p "$work/long-out"
head -c 70000001 /dev/zero | tr '\0' 'p' >"$work/long.txt"
{ cat "$product/product.ini"; echo "file = long.txt | long.txt | 1000000000"; } >"$work/product.ini"
if "$packer" "$work/product.ini" "$work/long-out" 2>"$work/stderr"; then
    check "a long file's slices" python3 - "$work/long-out" <<'PY'
import re, sys, zlib
data = open(sys.argv[1] + "/product_data.cpp").read()
payload = open(sys.argv[1] + "/payload.bin", "rb").read()
table = lambda name: re.search(name + r"\[\] = \{([^}]*)\}", data).group(1).split(", ")
lengths = [int(x) for x in table("everySliceLength")]
first = int(table("sliceLengths")[3].replace("everySliceLength + ", ""))
count = int(table("sliceCounts")[3])
offsets = [int(table("fileOffsets")[3]) + sum(lengths[first:first + k]) for k in range(count)]
sizes = [len(zlib.decompress(payload[o:o + n])) for o, n in zip(offsets, lengths[first:first + count])]
sys.exit(0 if sizes == [30000] * 2333 + [10001] else 1)
PY
else
    echo "FAIL a long file: $(cat "$work/stderr")"; failures=$((failures + 1))
fi

# The signature's description keeps the product's name exactly, brackets and
# all, through CMake's bracket quotes.
mkdir -p "$work/quote-out"
sed 's/^displayName = .*/displayName = Pelmora [x]]=/' "$product/product.ini" >"$work/product.ini"
if "$packer" --uninstaller "$work/product.ini" "$work/quote-out" "$locale" "$compiled" 2>"$work/stderr"; then
    printf 'include(${F})\nmessage(NOTICE "${PRODUCT_SIGNING_NAME}")\n' >"$work/show-name.cmake"
    check "the name in the signature's description" test "$(cmake -DF="$work/quote-out/product_signing.cmake" \
        -P "$work/show-name.cmake" 2>&1)" = 'Pelmora [x]]='
else
    echo "FAIL bracket quotes: $(cat "$work/stderr")"; failures=$((failures + 1))
fi

# Languages. Each text the product shows but gives in its first language alone
# is warned of once, naming the languages that show it for want of their own.
sed 's/^requiredMegabytes = 0/requiredMegabytes = 0\nlanguages = en, de, ar\ndisplayName.de = Pelmora DE/' \
    "$product/product.ini" >"$work/product.ini"
rm -rf "$work/out" && mkdir "$work/out"
if "$packer" "$work/product.ini" "$work/out" 2>"$work/stderr"; then
    check "one warning per text given in the first language alone" diff - "$work/stderr" <<EOF
$work/product.ini: warning: field 'displayName' has no text of its own in ar: the setup shows the default one, meant for en, instead (give one as 'displayName.ar = ...')
$work/product.ini: warning: field 'agreement' has no text of its own in de, ar: the setup shows the default one, meant for en, instead (give one as 'agreement.de = ...')
$work/product.ini: warning: field 'startupPrompt' has no text of its own in de, ar: the setup shows the default one, meant for en, instead (give one as 'startupPrompt.de = ...')
EOF
else
    echo "FAIL three languages: $(cat "$work/stderr")"; failures=$((failures + 1))
fi

# The programs' tables of the product's languages: the shipped product's is
# English alone, whose programs carry no language code; a product of three
# gets their translations and its texts in them.
mkdir -p "$work/lang-out"
if "$packer" --uninstaller "$product/product.ini" "$work/a" "$locale" "$compiled" 2>"$work/stderr" \
    && "$packer" --uninstaller "$work/product.ini" "$work/lang-out" "$locale" "$compiled" 2>>"$work/stderr"; then
    check "English alone: no language code" grep -qF 'extern const LanguageCode ProductLanguageCode = {nullptr, nullptr, nullptr, nullptr};' \
        "$work/a/languages.cpp"
    check "three languages: their code, and mirroring for Arabic" grep -qF \
        'extern const LanguageCode ProductLanguageCode = {SpeakChosenLanguage, nullptr, TranslateDialogTexts, MirroredTemplate};' \
        "$work/lang-out/languages.cpp"
    check "the uninstaller reads the record's language" grep -qF \
        'extern const LanguageCode ProductLanguageCode = {SpeakChosenLanguage, ReadRecordedLanguage, TranslateDialogTexts, MirroredTemplate};' \
        "$work/lang-out/uninstall_languages.cpp"
    check "the German name" grep -qF '"Pelmora DE"' "$work/lang-out/languages.cpp"
else
    echo "FAIL the languages' tables: $(cat "$work/stderr")"; failures=$((failures + 1))
fi
refused_by_packer() { # manifest, locale folder, compiled folder, message
    rm -rf "$work/out" && mkdir "$work/out"
    ! "$packer" --uninstaller "$1" "$work/out" "$2" "$3" 2>"$work/stderr" && grep -qF -- "$4" "$work/stderr"
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
head -c 4096 "$setup" >"$work/headers-only.exe"
check "no trailer after a cut image" test "$("$packer" --append "$work/headers-only.exe" "$work/agreement.txt" \
    "$product/product.ini" /dev/null 2>&1; echo "status $?"; ls "$work/headers-only.exe" 2>/dev/null)" \
    = "$work/headers-only.exe: not a program whose image ends with its last section"$'\n'"status 1"

# The linked program takes its trailer and payload only where mediaSize holds
# them, with room for a signature when the build signs it; else it goes, and
# the packer names the least that would do. Its payload here lies in
# companions: the program's part is empty.
image_end=$(python3 - "$setup" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 60)[0]
count, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
sections = [struct.unpack_from("<II", data, pe + 24 + optional_size + 40 * k + 16) for k in range(count)]
print(max(at + size for size, at in sections if size))
PY
)
head -c "$image_end" "$setup" >"$work/image.exe"
: >"$work/empty.bin"
echo 'set(SIGN_ON [[1]])' >"$work/signing.cmake"
appended() { # mediaSize, signing settings, the refusal wanted (none: accepted)
    variant requiredMegabytes "requiredMegabytes = 0"$'\n'"mediaSize = $1"
    cp "$work/image.exe" "$work/program.exe"
    if "$packer" --append "$work/program.exe" "$work/empty.bin" "$work/product.ini" "$2" 2>"$work/stderr"; then
        [ -z "$3" ] && [ "$(stat -c %s "$work/program.exe")" -eq $((image_end + 40)) ]
    else
        [ -n "$3" ] && [ "$(cat "$work/stderr")" = "$work/product.ini:17: field 'mediaSize': $1 bytes cannot hold setup.exe: use at least $3" ] \
            && [ ! -e "$work/program.exe" ]
    fi
}
unsigned_needs="$((image_end + 40)) (its program's image of $image_end bytes, the image's trailer of 40)"
signed_needs="$((image_end + 40 + 16384)) (its program's image of $image_end bytes, the image's trailer of 40 and room for its signature of 16384)"
check "mediaSize that holds the program and its trailer" appended $((image_end + 40)) /dev/null ""
check "mediaSize a byte less" appended $((image_end + 39)) /dev/null "$unsigned_needs"
check "mediaSize that holds a signature too" appended $((image_end + 40 + 16384)) "$work/signing.cmake" ""
check "mediaSize a byte less, signed" appended $((image_end + 40 + 16383)) "$work/signing.cmake" "$signed_needs"

echo "packer: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
