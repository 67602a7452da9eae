#!/usr/bin/env bash
# make-data.sh DIR — builds the benchmark data in DIR (the same bytes on every machine):
#   big.bin      1 GiB of an AES-CTR keystream (incompressible)
#   small.bin    4 KiB, the same generator
#   dir1000/     f0000.txt … f0999.txt, 1–10 KiB each (the size is a fixed function of the index)
#   dir10000/    f00000.txt … f09999.txt, 20–80 bytes each
#   photos/      40 JPEG + 10 PNG pictures, about 100 KB – 2 MB (ImageMagick plasma, fixed seeds)
# Each part is made once; a stamp file tells that it is complete.
set -euo pipefail
DIR=${1:?usage: make-data.sh DIR}
mkdir -p "$DIR"
cd "$DIR"

keystream() {  # keystream BYTES SEED
    head -c "$1" /dev/zero | openssl enc -aes-128-ctr -nosalt \
        -K "$(printf '%032x' "$2")" -iv 00000000000000000000000000000000 2>/dev/null
}

if [[ ! -f .stamp-bin ]]; then
    keystream $((1024 * 1024 * 1024)) 1 > big.bin
    keystream 4096 2 > small.bin
    touch .stamp-bin
fi

if [[ ! -f .stamp-dirs ]]; then
    python3 - <<'PY'
import os
line = b"The quick brown fox jumps over the lazy dog 0123456789.\n"
os.makedirs("dir1000", exist_ok=True)
for i in range(1000):
    size = 1024 + (i * 7919) % (9 * 1024 + 1)
    with open(f"dir1000/f{i:04d}.txt", "wb") as f:
        f.write((line * (size // len(line) + 1))[:size])
os.makedirs("dir10000", exist_ok=True)
for i in range(10000):
    size = 20 + (i * 31) % 61
    with open(f"dir10000/f{i:05d}.txt", "wb") as f:
        f.write((line * 2)[:size])
PY
    touch .stamp-dirs
fi

if [[ ! -f .stamp-photos ]]; then
    convert=/usr/bin/convert
    [[ -x $convert ]] || { echo "make-data.sh: $convert is missing (apt-get install imagemagick)" >&2; exit 1; }
    mkdir -p photos
    widths=(640 960 1280 1600 2048 2400 2800 3000)
    for i in $(seq 0 39); do
        w=${widths[$((i % 8))]}
        $convert -seed $((100 + i)) -size "${w}x$((w * 3 / 4))" plasma:fractal -quality 90 \
            "photos/img$(printf '%02d' "$i").jpg"
    done
    widths=(200 300 400 500 600)
    for i in $(seq 0 9); do
        w=${widths[$((i % 5))]}
        $convert -seed $((200 + i)) -size "${w}x$((w * 3 / 4))" plasma:fractal \
            "photos/png$(printf '%02d' "$i").png"
    done
    touch .stamp-photos
fi
echo "make-data.sh: $(du -sh . | cut -f1) in $DIR"
