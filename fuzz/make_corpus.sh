#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Regenerates the seed corpus in fuzz/corpus from the images in data/: small
# lossless crops (jpegtran, from Debian's libjpeg-turbo-progs) that cover the
# coding modes, and damaged variants of them.  Only needed when the seeds
# should change; the fuzzer and the tests use the committed files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
data=$root/data
out=$root/fuzz/corpus
mkdir -p "$out"

crop() {  # crop <source> <geometry> <name> [jpegtran options...]
  local source=$1 geometry=$2 name=$3
  shift 3
  jpegtran -copy none "$@" -crop "$geometry" "$data/$source" >"$out/$name"
}

crop 02-photo-512x512-eiffel-tower-baseline444.jpg 64x64+224+224 baseline444-64x64.jpg
crop 02-photo-512x512-eiffel-tower-baseline444.jpg 64x64+224+224 arithmetic-64x64.jpg -arithmetic
crop 06-photo-5312x2988-dandelions-16mp-progressive.jpg 64x48+2000+1000 baseline420-64x56.jpg
crop 06-photo-5312x2988-dandelions-16mp-progressive.jpg 64x48+2000+1000 progressive420-64x56.jpg -progressive
crop 01-photo-280x360-gopher-plush-baseline444.jpg 48x32+100+100 restart-52x36.jpg -restart 1
crop 08-greyscale-512x512-eiffel-tower.jpg 48x48+200+200 greyscale-48x48.jpg
# -copy all keeps the Adobe marker that says the four components are CMYK.
jpegtran -copy all -crop 32x32+40+40 "$data/09-cmyk-adobe-150x103-video-frame.jpg" >"$out/cmyk-32x32.jpg"
cp "$data/17-tiny-1x1-progressive-exif-xmp.jpg" "$out/progressive-1x1-exif-xmp.jpg"
crop 02-photo-512x512-eiffel-tower-baseline444.jpg 64x64+224+224 progressive444-64x64.jpg -progressive
# Greyscale in as many scans as the limit allows, and one more: the DC
# coefficients in one scan (two, by successive approximation, for 65), then
# each AC coefficient in a scan of its own.
scans=$(mktemp)
trap 'rm -f "$scans"' EXIT
ac_scans() { for k in $(seq 1 63); do echo "0: $k $k 0 0;"; done; }
{ echo "0: 0 0 0 0;"; ac_scans; } >"$scans"
crop 08-greyscale-512x512-eiffel-tower.jpg 16x16+200+200 scans-64-greyscale-16x16.jpg -scans "$scans"
{ echo "0: 0 0 0 1;"; echo "0: 0 0 1 0;"; ac_scans; } >"$scans"
crop 08-greyscale-512x512-eiffel-tower.jpg 16x16+200+200 scans-65-greyscale-16x16.jpg -scans "$scans"

# Damaged copies of the 64x64 baseline crop.
python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
good = open(f"{out}/baseline444-64x64.jpg", "rb").read()

def sof(b):
    """Offset of the first start-of-frame marker segment."""
    i = 2
    while b[i + 1] not in (0xC0, 0xC1, 0xC2):
        i += 2 + (b[i + 2] << 8 | b[i + 3])
    return i

def with_size(w, h):
    b = bytearray(good)
    i = sof(b)
    b[i + 5:i + 9] = bytes([h >> 8, h & 255, w >> 8, w & 255])
    return bytes(b)

def patched(offset, value):
    b = bytearray(good)
    b[sof(b) + offset] = value
    return bytes(b)

seeds = {
    "truncated-half.jpg": good[: len(good) // 2],
    "truncated-header.jpg": good[:200],
    "claims-64250x64250.jpg": with_size(64250, 64250),
    "claims-26750x26752-over-frame-limit.jpg": with_size(26750, 26752),
    "claims-1000x1000-short-of-data.jpg": with_size(1000, 1000),
    "claims-0x64.jpg": with_size(0, 64),
    "precision-12.jpg": patched(4, 12),
    "sampling-4x4.jpg": patched(11, 0x44),
    "bit-flipped-huffman-table.jpg": good[:300] + bytes([good[300] ^ 0x10]) + good[301:],
    "not-an-image.jpg": b"input.jpg\n",
}

def uniform(w, h, components):
    """A valid mid-grey JPEG with `components` unsubsampled components, each
    in a scan of its own, whose one-bit Huffman codes make all-zero data."""
    def segment(marker, body):
        return bytes([0xFF, marker, (len(body) + 2) >> 8, (len(body) + 2) & 255]) + bytes(body)
    one_code = [1] + [0] * 15
    b = b"\xff\xd8" + segment(0xDB, [0] + [1] * 64)
    b += segment(0xC0, [8, h >> 8, h & 255, w >> 8, w & 255, components] +
                 sum(([c + 1, 0x11, 0] for c in range(components)), []))
    b += segment(0xC4, [0x00] + one_code + [0x00] + [0x10] + one_code + [0x00])
    blocks = ((w + 7) // 8) * ((h + 7) // 8)
    for c in range(components):
        b += segment(0xDA, [1, c + 1, 0x00, 0, 63, 0])
        bits = blocks * 2
        b += bytes(bits // 8) + (bytes([0xFF >> (bits % 8)]) if bits % 8 else b"")
    return b + b"\xff\xd9"

def first_scan(b):
    """Offset of the first start-of-scan marker segment."""
    i = 2
    while b[i + 1] != 0xDA:
        i += 2 + (b[i + 2] << 8 | b[i + 3])
    return i

def scan(b, n):
    """Offset of the n-th start-of-scan marker (from 0): FF DA does not
    occur inside entropy-coded data."""
    i = first_scan(b)
    for _ in range(n):
        i = b.index(b"\xff\xda", i + 2)
    return i

# Damaged scan data in files whose headers are sound.
b = bytearray(good)
end = len(b) - 2 - 300
b[end:end + 8] = b"\xff\x00" * 4  # 32 one-bits: no Huffman code
seeds["scan-bad-huffman-code.jpg"] = bytes(b)
seeds["scan-extraneous-bytes-before-eoi.jpg"] = good[:-2] + b"\x55" * 16 + good[-2:]
b = bytearray(good)
b[first_scan(b) + 2 + 12 - 2] = 62  # a sequential scan of coefficients 0..62
seeds["scan-sequential-coefficients-0-to-62.jpg"] = bytes(b)
progressive = open(f"{out}/progressive444-64x64.jpg", "rb").read()
b = bytearray(progressive)
i = scan(b, 1)
b[i + 2 + (b[i + 2] << 8 | b[i + 3]) - 1] = 0x32  # refines bits no scan sent
seeds["scan-inconsistent-progression.jpg"] = bytes(b)
# Fits the frame; its coefficients, all components in full, take 2.4 GB.
b = bytearray(progressive)
i = sof(b)
b[i + 5:i + 9] = bytes([20000 >> 8, 20000 & 255, 20000 >> 8, 20000 & 255])
seeds["claims-20000x20000-progressive444-coefficients.jpg"] = bytes(b)

seeds["components-2.jpg"] = uniform(24, 16, 2)
seeds["components-5.jpg"] = uniform(24, 16, 5)
# The widest row libjpeg allows, and a one-pixel column.
seeds["uniform-65500x8.jpg"] = uniform(65500, 8, 3)
seeds["uniform-1x8000.jpg"] = uniform(1, 8000, 3)
for name, data in seeds.items():
    open(f"{out}/{name}", "wb").write(data)
PY
