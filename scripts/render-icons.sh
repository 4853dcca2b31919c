#!/bin/sh
# Renders the icon's PNG sizes from resources/icons/quillon.svg (needs librsvg2-bin).
# The PNGs are committed, so a build never needs this.
set -eu
cd "$(dirname "$0")/../resources/icons"
for size in 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" quillon.svg -o "quillon-$size.png"
done
