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
echo
echo "Demonstration files in demo/:"
ls -1
