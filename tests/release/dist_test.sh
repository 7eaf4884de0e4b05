#!/usr/bin/env bash
# The release archives of make dist: made twice, the same bytes; the Debian
# package declares what mkpatch links against, holds what the install puts
# where mkpatch finds it, and its mkpatch builds a patch from an unpacked
# root with no --stub; the Windows zip's mkpatch.exe does the same under Wine
# from the unpacked folder.
#   dist_test.sh TEST_MKPATCH.EXE   (the Windows builder of the test preset)
set -euo pipefail
test_mkpatch=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
native_mkpatch=$root/build/native/builder/cli/mkpatch
shipped=$root/build/windows/app/applier.exe
work=$(mktemp -d /tmp/dist-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
win() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
fail() { echo "$*"; exit 1; }
source "$root/tools/wine-env.sh"

bash "$root/tools/dist.sh" "$work/first" >/dev/null
bash "$root/tools/dist.sh" "$work/second" >/dev/null
version=$(sed -n 's/^#define SELFPATCH_VERSION "\(.*\)"$/\1/p' "$root/build/native/generated/selfpatch_version.h")
deb=$work/first/selfpatch_${version}_$(dpkg --print-architecture).deb
zip=$work/first/selfpatch-$version-win32.zip
[ -f "$deb" ] && [ -f "$zip" ] || fail "no archives named for version $version: $(ls "$work/first")"
diff -r "$work/first" "$work/second" || fail "the two runs wrote different archives"

# A tree to patch, and a check that a patch was built around APPLIER.
mkdir -p "$work/old" "$work/new"
head -c 20000 /dev/urandom >"$work/old/prog.bin"
{ head -c 5000 "$work/old/prog.bin"; echo changed; tail -c +5001 "$work/old/prog.bin"; } >"$work/new/prog.bin"
# The unpacked applier gets its own link time, so that a patch shows which
# applier it was built around: the one unpacked, not the build tree's.
mark() {
  python3 - "$1" <<'PY'
import struct, sys
with open(sys.argv[1], 'r+b') as f:
    pe = struct.unpack('<I', f.read(0x40)[0x3C:])[0]
    f.seek(pe + 8)
    f.write(struct.pack('<I', 0x5E1F0A7C))
PY
}
built_around() {  # PATCH APPLIER
  cmp -s -n "$(stat -c %s "$2")" "$1" "$2" || fail "$1 was not built around $2"
  "$native_mkpatch" verify --quiet "$1" "$work/old" >/dev/null || fail "$1 does not take the old tree"
}

# The Debian package.
info=$(dpkg-deb --info "$deb")
field() { sed -n "s/^ $1: //p" <<<"$info"; }
fields="$(field Package) $(field Version) $(field Architecture)"
[ "$fields" = "selfpatch $version $(dpkg --print-architecture)" ] || fail "package, version, architecture: $fields"
contents=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $1, $6}')
expected="-rwxr-xr-x ./usr/bin/mkpatch
-rw-r--r-- ./usr/share/doc/selfpatch/README.md
-rw-r--r-- ./usr/share/doc/selfpatch/third_party/libdeflate/COPYING
-rw-r--r-- ./usr/share/doc/selfpatch/third_party/zopfli/COPYING
-rw-r--r-- ./usr/share/selfpatch/applier.exe"
[ "$contents" = "$expected" ] || fail "package contents:"$'\n'"$contents"
dpkg-deb -x "$deb" "$work/deb-root"
installed=$work/deb-root/usr/bin/mkpatch
# Every library mkpatch loads belongs to a package the package depends on.
depends=$(field Depends)
depended=$(sed 's/ ([^)]*)//g; s/ *[,|] */\n/g' <<<"$depends")
for library in $(ldd "$installed" | awk '$2 == "=>" {print $3}'); do
  owner=
  for path in "$library" "/usr$library" "${library#/usr}"; do
    owner=$(dpkg -S "$path" 2>/dev/null | head -1 | cut -d: -f1) && [ -n "$owner" ] && break
  done
  [ -n "$owner" ] || fail "no package owns $library"
  grep -qxF "$owner" <<<"$depended" || fail "Depends lacks $owner ($library): $depends"
done
[ "$("$installed" --version)" = "mkpatch $version" ] || fail "installed mkpatch --version: $("$installed" --version)"
cmp -s "$work/deb-root/usr/share/selfpatch/applier.exe" "$shipped" || fail "the package's applier is not the shipped one"
mark "$work/deb-root/usr/share/selfpatch/applier.exe"
"$installed" build --old "$work/old" --new "$work/new" -o "$work/deb-patch.exe" --quiet
built_around "$work/deb-patch.exe" "$work/deb-root/usr/share/selfpatch/applier.exe"

# The Windows zip: one folder, every entry stamped with the same time.
listing=$(python3 - "$zip" <<'PY'
import sys, zipfile
entries = zipfile.ZipFile(sys.argv[1]).infolist()
print(len({e.date_time for e in entries}), *[e.filename for e in entries])
PY
)
folder=selfpatch-$version-win32
expected="1 $folder/README.md $folder/applier.exe $folder/mkpatch.exe"
expected+=" $folder/third_party/libdeflate/COPYING $folder/third_party/zopfli/COPYING"
[ "$listing" = "$expected" ] || fail "zip listing: $listing"
python3 -m zipfile -e "$zip" "$work/zip"
unpacked=$work/zip/$folder
cmp -s "$unpacked/applier.exe" "$shipped" || fail "the zip's applier is not the shipped one"
cmp -s "$unpacked/mkpatch.exe" "$root/build/windows/builder/cli/mkpatch.exe" ||
  fail "the zip's mkpatch.exe is not the windows build's"
python3 - "$unpacked/applier.exe" "$version" <<'PY' || fail "the applier's version resource is not $version"
import struct, sys
data, version = open(sys.argv[1], 'rb').read(), sys.argv[2]
fixed = data.find(struct.pack('<I', 0xFEEF04BD))
ms, ls = struct.unpack_from('<II', data, fixed + 8)
found = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}"
sys.exit(0 if fixed > 0 and found == version and (version + ".0").encode('utf-16-le') in data else 1)
PY
if [ "$WINDOWS_TEST_PRESET" = windows64 ]; then
  # 64-bit Wine runs no 32-bit programs: the x86_64 builder of the same
  # sources stands in for the zip's, from the unpacked folder; the applier
  # stays the shipped one.
  cp "$test_mkpatch" "$unpacked/mkpatch.exe"
  echo "under 64-bit Wine the unpacked folder runs the x86_64 build of mkpatch.exe"
fi
mark "$unpacked/applier.exe"
"$WINELOADER" "$unpacked/mkpatch.exe" build --old "$(win "$work/old")" --new "$(win "$work/new")" \
  -o "$(win "$work/zip-patch.exe")" --quiet </dev/null
built_around "$work/zip-patch.exe" "$unpacked/applier.exe"
echo "$(basename "$deb") $(stat -c %s "$deb") bytes, $(basename "$zip") $(stat -c %s "$zip") bytes:" \
  "reproducible, installed and built patches with no --stub"
