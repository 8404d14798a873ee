#!/usr/bin/env bash
# Peak memory and time of the two tools on large inputs, with /usr/bin/time:
#   kitprint: a print file of about 288 MiB (the pages of a real "one copy
#             per owner" listing of the demo root, repeated) to text and to PDF;
#   kitdata:  import of 200 000 payments from CSV into an empty file, and
#             their export back to CSV.
# Not run by the tests: it takes a minute and about 1 GiB of disk.
#
# usage: bench/tools_memory.sh BUILD_DIR [BASELINE_BUILD_DIR]
#   BUILD_DIR holds app/repquota, tools/kitprint/kitprint and
#   tools/kitdata/kitdata; a baseline build is measured beside it.
set -euo pipefail
build=$(realpath "${1:?usage: tools_memory.sh BUILD_DIR [BASELINE_BUILD_DIR]}")
baseline=${2:+$(realpath "$2")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A real listing: every owner's copy of the distribution for the demo root.
"$build/tools/kitdata/kitdata" init "$work/root" >/dev/null
"$build/tools/kitdata/kitdata" demo "$work/root" 2026-12-08
mkdir "$work/out"
KITROOT="$work/root/" KITTMP="$work/root/TMP/" \
  "$build/app/repquota" batch --dry-run --distribution-copies P --out "$work/out" 1 >/dev/null
python3 - "$work/out/001.prn" "$work/big.prn" "$work/pay.csv" <<'EOF'
import random, sys
listing, big, csv = sys.argv[1:4]
lines = open(listing, 'rb').read().split(b'\r\n')
body = b'\r\n'.join(lines[1:])
with open(big, 'wb') as f:
    size = f.write(b'DEVICEPANTALLA\r\n')
    while size < 288 * 1024 * 1024:
        size += f.write(body)
r = random.Random(7)
concepts = [('NE', 'NETEJA ESCALA'), ('AC', 'ASSEGURANÇA'), ('LL', 'LLUM'), ('AS', 'ASCENSOR')]
with open(csv, 'w') as f:
    f.write('property,date,concept,description,amount,kind,column\n')
    for i in range(200000):
        code, text = r.choice(concepts)
        f.write('%04d,2026-%02d-%02d,%s,%s %d,%d.%02d,N,%d\n' % (
            r.randint(1, 999), r.randint(1, 12), r.randint(1, 28), code, text, i,
            r.randint(1, 5000), r.randint(0, 99), r.randint(1, 7)))
EOF
echo "print file $(stat -c %s "$work/big.prn") bytes; CSV $(stat -c %s "$work/pay.csv") bytes"

measure() {  # measure LABEL COMMAND...
  local figures
  figures=$(/usr/bin/time -f "%M KiB peak, %U s user, %S s system, %e s elapsed (exit %x)" "${@:2}" 2>&1 >/dev/null |
            tail -n 1)
  printf '  %-22s %s\n' "$1" "$figures"
}
for dir in "$build" ${baseline:+"$baseline"}; do
  echo "$dir:"
  measure "kitprint to text" "$dir/tools/kitprint/kitprint" -o "$work/big.txt" "$work/big.prn"
  measure "kitprint to PDF" "$dir/tools/kitprint/kitprint" -o "$work/big.pdf" "$work/big.prn"
  rm -f "$work/big.txt" "$work/big.pdf"
  rm -rf "$work/import" && "$dir/tools/kitdata/kitdata" init "$work/import" >/dev/null
  measure "kitdata import 200000" "$dir/tools/kitdata/kitdata" import "$work/import/DADES/PagamH" "$work/pay.csv"
  measure "kitdata export 200000" "$dir/tools/kitdata/kitdata" export "$work/import/DADES/PagamH"
done
