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
# plt02.ps. The landscape pages are turned upright; the map is cut to the
# map with its labels.
if command -v gs >/dev/null; then
  if [ -f plt01.ps ]; then
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r72 -sOutputFile=trace.png \
      -dDEVICEWIDTHPOINTS=792 -dDEVICEHEIGHTPOINTS=612 -dFIXEDMEDIA \
      -c "<< /BeginPage { pop 0 612 translate -90 rotate } >> setpagedevice" -f plt01.ps
    echo "Edge-ray trace rendered: demo/trace.png"
  fi
  if [ -f plt02.ps ]; then
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r72 \
      -dDEVICEWIDTHPOINTS=490 -dDEVICEHEIGHTPOINTS=545 -dFIXEDMEDIA -sOutputFile=spot.png \
      -c "<< /BeginPage { pop 0 612 translate -90 rotate } >> setpagedevice" -f plt02.ps
    echo "Spot map rendered: demo/spot.png"
  fi
fi
if [ -f plt01.svg ]; then
  echo "Spot map for a web browser: demo/plt01.svg"
fi
echo
echo "Demonstration files in demo/:"
ls -1
