#!/usr/bin/env bash
# Renders the committed artwork in images/src into the PNG, ICO and GIF files that res.qrc embeds.
# Needs rsvg-convert (librsvg2-bin) and ImageMagick; run it after editing an SVG and commit the output.
set -euo pipefail
cd "$(dirname "$0")/.."
src=images/src
for svg in "$src"/*.svg; do
    name=$(basename "$svg" .svg)
    case "$name" in
        icon) rsvg-convert -w 256 -h 256 "$svg" -o images/icon.png ;;
        aboutIcon) rsvg-convert -w 54 -h 54 "$svg" -o images/aboutIcon.png ;;
        *) rsvg-convert "$svg" -o "images/$name.png" ;;
    esac
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in 16 32 48 256; do rsvg-convert -w $s -h $s "$src/icon.svg" -o "$tmp/icon-$s.png"; done
# Uncompressed: a PNG entry would make Qt offer it to every image plugin installed, loading them all.
convert "$tmp"/icon-16.png "$tmp"/icon-32.png "$tmp"/icon-48.png "$tmp"/icon-256.png -compress None images/icon.ico
# The icon theme's usual sizes, installed by packaging/.
mkdir -p packaging/icons
for s in 16 22 24 32 48 64 128 256; do rsvg-convert -w $s -h $s "$src/icon.svg" -o "packaging/icons/$s.png"; done

# Loading spinner: twelve frames of a rotating arc.
mkdir -p videos
for i in $(seq 0 11); do
    angle=$((i * 30))
    cat > "$tmp/spin.svg" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">
  <circle cx="24" cy="24" r="18" fill="none" stroke="#dedede" stroke-width="5"/>
  <path d="M24 6 A18 18 0 0 1 42 24" fill="none" stroke="#8a5cff" stroke-width="5" stroke-linecap="round"
        transform="rotate($angle 24 24)"/>
</svg>
SVG
    rsvg-convert -b white "$tmp/spin.svg" -o "$tmp/frame-$(printf %02d "$i").png"
done
convert -delay 8 -loop 0 "$tmp"/frame-*.png videos/loading.gif
