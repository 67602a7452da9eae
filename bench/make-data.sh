#!/usr/bin/env bash
# make-data.sh DIR — builds the benchmark data in DIR (the same bytes on every machine):
#   big.bin      1 GiB of an AES-CTR keystream (incompressible)
#   small.bin    4 KiB, the same generator
#   dir1000/     f0000.txt … f0999.txt, 1–10 KiB each (the size is a fixed function of the index)
#   dir10000/    f00000.txt … f09999.txt, 20–80 bytes each
#   zip100/      big.bin cut into 100 files (part00 … part99), for the folder downloaded as one ZIP
#   photos/          50 JPEG photos of 12 megapixels (4000×3000, about 3 MB each; ImageMagick
#                    plasma of ten fixed seeds, each also mirrored, flipped, turned and shifted)
#   photos-preview/  the same photos as a camera writes them: an EXIF block (exiftool) with a
#                    160×120 preview (IFD1), and every other one tagged "turned a quarter" (6)
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

if [[ ! -f .stamp-zip100 ]]; then
    rm -rf zip100
    mkdir -p zip100
    split -n 100 -d -a 2 big.bin zip100/part
    touch .stamp-zip100
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

if [[ ! -f .stamp-photos12 ]]; then
    convert=/usr/bin/convert
    [[ -x $convert ]] || { echo "make-data.sh: $convert is missing (apt-get install imagemagick)" >&2; exit 1; }
    rm -rf photos .stamp-photos
    mkdir -p photos
    for s in $(seq 0 9); do
        base=photos/img$(printf '%02d' $((s * 5))).jpg
        $convert -seed $((100 + s)) -size 4000x3000 plasma:fractal -quality 90 "$base"
        n=1
        for change in -flop -flip "-rotate 180" "-roll +1000+700"; do
            # shellcheck disable=SC2086
            $convert "$base" $change -quality 90 "photos/img$(printf '%02d' $((s * 5 + n))).jpg"
            n=$((n + 1))
        done
    done
    touch .stamp-photos12
fi

if [[ ! -f .stamp-photos-preview ]]; then
    convert=/usr/bin/convert
    command -v exiftool >/dev/null || { echo "make-data.sh: exiftool is missing (apt-get install libimage-exiftool-perl)" >&2; exit 1; }
    rm -rf photos-preview previews
    mkdir -p photos-preview previews
    cp photos/*.jpg photos-preview/
    for f in photos/*.jpg; do
        name=$(basename "$f" .jpg)
        $convert -define jpeg:size=320x240 "$f" -thumbnail 160x120 -quality 85 "previews/$name.jpg"
    done
    exiftool -q -overwrite_original '-ThumbnailImage<=previews/%f.jpg' photos-preview
    exiftool -q -overwrite_original -Orientation#=6 photos-preview/img*[13579].jpg
    rm -rf previews
    touch .stamp-photos-preview
fi
echo "make-data.sh: $(du -sh . | cut -f1) in $DIR"
