#!/usr/bin/env bash
# Remakes the two PNG icons from their drawings (needs rsvg-convert, librsvg2-bin).
# The 32x32 image is tarvic.svg itself; at 16x16 the full drawing turns to mush, so
# that size comes from tarvic-small.svg, the same picture simplified onto whole
# pixels. Look at the results enlarged before committing them:
#   convert tarvic-16.png -scale 1600% /tmp/16.png
set -euo pipefail
cd "$(dirname "$0")"
rsvg-convert -w 32 -h 32 tarvic.svg -o tarvic-32.png
rsvg-convert -w 16 -h 16 tarvic-small.svg -o tarvic-16.png
