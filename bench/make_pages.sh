#!/bin/sh
# make_pages.sh OUT_DIR COUNT
# Writes COUNT scanned pages img_001.tif, img_002.tif, ... into OUT_DIR as a job folder holds
# them: 300-dpi colour US letter pages (2550 x 3300, 8 bits RGB), PackBits with 64 rows per strip.
# Each page is white paper with two blocks of text and a colour picture; four different pages are
# made and repeated.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 OUT_DIR COUNT" >&2
    exit 2
fi
out=$1
count=$2
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# About 110 words of plain prose, different for every seed.
prose() {
    awk -v seed="$1" 'BEGIN {
        split("the a scanner page sheet paper feeder tray office report invoice letter " \
              "quarterly figures were reviewed and approved by committee before filing " \
              "please find enclosed copies of our records for your attention regarding " \
              "account number reference meeting notes summary of results shipment order " \
              "delivery customer service department thank you sincerely yours date", w, " ")
        srand(seed); n = length(w); text = ""
        for (i = 1; i <= 110; i++) {
            word = w[int(rand() * n) + 1]
            if (i == 1 || rand() < 0.07) word = toupper(substr(word, 1, 1)) substr(word, 2)
            text = text word (rand() < 0.08 ? ". " : " ")
        }
        print text "."
    }'
}

# Text lines are broken here: ImageMagick's caption measures the whole text on one line first
# and refuses lines longer than its width limit.
for variant in 1 2 3 4; do
    convert -size 2550x3300 xc:white -fill '#1a1a1a' \
        -font DejaVu-Sans-Bold -pointsize 64 \
        -annotate +200+260 "Report $variant - Pagewren sample page" \
        -font DejaVu-Serif -pointsize 42 -interline-spacing 12 \
        -annotate +200+400 "$(prose "$variant" | fold -s -w 92)" \
        \( -size 1500x950 -seed "$variant" plasma:steelblue-orange -blur 0x2 \) \
           -geometry +525+1150 -composite \
        -annotate +200+2350 "$(prose "$((variant + 10))" | fold -s -w 92)" \
        -type TrueColor -depth 8 -density 300 -units PixelsPerInch -compress None \
        "$work/plain$variant.tif"
    tiffcp -c packbits -r 64 "$work/plain$variant.tif" "$work/page$variant.tif"
done

i=1
while [ "$i" -le "$count" ]; do
    cp "$work/page$(((i - 1) % 4 + 1)).tif" "$out/$(printf 'img_%03d.tif' "$i")"
    i=$((i + 1))
done
echo "$count pages in $out"
