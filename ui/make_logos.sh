#!/bin/sh
# make_logos.sh - draws the logo bitmaps of the brand banner (40x48, 24-bit BMP).
# The .bmp files are committed, so a build never needs ImageMagick; run this
# only after changing a design:  ui/make_logos.sh [output folder]
set -eu
out=${1:-$(dirname "$0")}
W=40
H=48

# Brand 2, on the blue banner: a sensor head sending three wave fronts to
# the right. The fronts are rings cut in half: open arcs come out closed by a
# chord in some ImageMagick releases.
B=#0080FF
convert -size ${W}x${H} xc:"$B" -stroke none \
    -fill white -draw "circle 7,24 7,1" \
    -fill "$B" -draw "circle 7,24 7,5" \
    -fill white -draw "circle 7,24 7,8" \
    -fill "$B" -draw "circle 7,24 7,12" \
    -fill white -draw "circle 7,24 7,15" \
    -fill "$B" -draw "circle 7,24 7,19" \
    -draw "rectangle 0,0 9,47" \
    -fill white -draw "roundrectangle 1,16 7,32 2,2" \
    -type TrueColor "BMP3:$out/logo_brand2.bmp"

# Brand 3, on white: a grey hexagon with a measuring dot.
convert -size ${W}x${H} xc:white \
    -fill none -stroke '#606060' -strokewidth 3 \
    -draw "polygon 20,6 37,15 37,33 20,42 3,33 3,15" \
    -fill '#0080FF' -stroke none -draw "circle 20,24 20,18" \
    -type TrueColor "BMP3:$out/logo_brand3.bmp"

# Brand 4, on the blue banner: one period of a signal inside a ring.
convert -size ${W}x${H} xc:'#0080FF' \
    -fill none -stroke white -strokewidth 3 -draw "circle 20,24 20,5" \
    -strokewidth 2 \
    -draw "bezier 6,24 11,8 15,8 20,24" \
    -draw "bezier 20,24 25,40 29,40 34,24" \
    -type TrueColor "BMP3:$out/logo_brand4.bmp"

# Brand 6, on white: rising level bars under a threshold line.
convert -size ${W}x${H} xc:white \
    -fill '#004080' -stroke none \
    -draw "rectangle 5,32 11,42" \
    -draw "rectangle 14,24 20,42" \
    -draw "rectangle 23,16 29,42" \
    -fill '#0080FF' -draw "rectangle 32,8 36,42" \
    -fill none -stroke '#808080' -strokewidth 1 -draw "line 2,12 38,12" \
    -type TrueColor "BMP3:$out/logo_brand6.bmp"
