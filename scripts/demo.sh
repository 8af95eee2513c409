#!/usr/bin/env bash
# Builds the programs and runs the demonstration session on the bundled
# example system. Everything it writes lands in demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tavo kestrim
rm -rf demo && mkdir demo
cp examples/* demo/
cd demo
rm -f login.kcm   # the example login macro would run at start-up
printf '@demo\nEXIT\n' | ../build/tavo | tee tavo-session.txt
echo
if [ -f demo.kcm ]; then
  printf '@demo\nEXIT\n' | ../build/kestrim | tee kestrim-session.txt
  echo
fi
# Pictures: TAVO's edge-ray trace went to plt01.ps, KESTRIM's spot map to
# plt02.ps. Each file asks for a landscape page and fits A4 and US Letter
# alike: Ghostscript draws it upright as it stands.
if command -v gs >/dev/null; then
  for f in plt01:trace plt02:spot; do
    if [ -f "${f%%:*}.ps" ]; then
      gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r72 -sPAPERSIZE=letter \
        -sOutputFile="${f##*:}.png" "${f%%:*}.ps"
      echo "Rendered: demo/${f##*:}.png"
    fi
  done
fi
if [ -f plt01.svg ]; then
  echo "Spot map for a web browser: demo/plt01.svg"
fi
echo
echo "Demonstration files in demo/:"
ls -1
