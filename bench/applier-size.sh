#!/usr/bin/env bash
# Prints the shipped applier's size and what each library adds to its image,
# from the linker map (sections that reach the file: debug sections and zeroed
# data left out).
#   bench/applier-size.sh [BUILD_DIR]      (default build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/windows}
if [ $# -eq 0 ]; then
  cmake --preset windows >/dev/null && cmake --build --preset windows -j2 --target applier >/dev/null
fi
exe=$dir/app/applier.exe
echo "applier.exe: $(stat -c %s "$exe") bytes"
python3 - "$dir/app/applier.map" <<'PY'
import re, sys
groups = [('zlib', r'libz(lib_inflate)?\.a'), ('libstdc++', r'libstdc\+\+'), ('libgcc', r'libgcc'),
          ('winpthreads', r'.*pthread'), ('mingw crt', r'crt|libmingw|libmoldname|libmsvcrt')]
sizes, pending = {}, None
text = open(sys.argv[1], errors='replace').read()
for line in text[text.index('Linker script and memory map'):].splitlines():
    # An input section: name, address, size and file; a long name stands alone.
    m = re.match(r' (\.\S+)$', line)
    if m:
        pending = m.group(1)
        continue
    m = re.match(r' (\.\S+)? +0x[0-9a-f]+ +(0x[0-9a-f]+) (\S+)', line)
    name, pending = (m.group(1) or pending) if m else None, None
    if not name or re.match(r'\.(z?debug|stab|bss)', name):
        continue
    base = m.group(3).rsplit('/', 1)[-1].split('(')[0]
    lib = next((g for g, pat in groups if re.match(pat, base)), None)
    # Link-time compilation merges our code and zlib into its own objects.
    if re.search(r'\.ltrans\d*\.ltrans\.o$', base):
        lib = 'ours and zlib, link-time compiled'
    lib = lib or ('import stubs' if m.group(3).startswith('/') else 'ours')
    sizes[lib] = sizes.get(lib, 0) + int(m.group(2), 16)
for lib, size in sorted(sizes.items(), key=lambda kv: -kv[1]):
    print(f'{size:9d}  {lib}')
print(f'{sum(sizes.values()):9d}  all sections, before alignment')
PY
