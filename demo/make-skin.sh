#!/usr/bin/env bash
# Draws the demo skin: the 33 PNG files that launcher-pack stores, plain
# coloured shapes with a short label, at the sizes that demo/positions.json
# gives their controls.
# Usage: demo/make-skin.sh OUTPUT_FOLDER
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 OUTPUT_FOLDER" >&2
  exit 2
fi
out="$1"
mkdir -p "$out"
command -v convert >/dev/null || { echo "make-skin: ImageMagick's convert is missing (scripts/setup installs it)" >&2; exit 1; }

# A font with the Chinese characters of the labels.
font="$(fc-match -f '%{file}' 'WenQuanYi Zen Hei' 2>/dev/null || true)"
[ -n "$font" ] && [ -f "$font" ] || font=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
[ -f "$font" ] || { echo "make-skin: no WenQuanYi Zen Hei font (fonts-wqy-zenhei)" >&2; exit 1; }

# Without the creation time in the files, the same skin packs to the same bytes.
png=(-define "png:exclude-chunks=date,time")

# shape NAME WIDTH HEIGHT FILL BORDER TEXT_COLOUR POINT_SIZE LABEL
# A rounded rectangle with a centred label, on a transparent ground.
shape() {
  local name=$1 w=$2 h=$3 fill=$4 border=$5 ink=$6 size=$7 label=$8
  local r=$(( (h < w ? h : w) / 5 ))
  convert -size "${w}x${h}" xc:none \
    -fill "$fill" -stroke "$border" -strokewidth 2 \
    -draw "roundrectangle 1,1 $((w - 2)),$((h - 2)) $r,$r" \
    -stroke none -fill "$ink" -font "$font" -pointsize "$size" -gravity center -annotate +0+0 "$label" \
    "${png[@]}" "PNG32:$out/$name.png"
}

# bar NAME COLOUR_TOP COLOUR_BOTTOM: a progress bar image of 839 x 19.
bar() {
  convert -size 839x19 "gradient:$2-$3" "${png[@]}" "PNG32:$out/$1.png"
}

# The window background, 1002 x 642: a dark gradient with faint frames where
# the news panel and the status area lie.
convert -size 1002x642 gradient:'#2b4a6f-#0c1520' \
  -fill none -stroke '#5c7ea3' -strokewidth 1 \
  -draw 'rectangle 39,109 660,530' -draw 'rectangle 79,540 925,628' \
  -stroke none -fill '#8fb3d9' -font "$font" -pointsize 14 -gravity southeast -annotate +12+6 'Quellan demo skin' \
  "${png[@]}" "PNG32:$out/background.png"

# Link buttons, 110 x 35: normal, active (hover) and down.
link_button() {
  local key=$1 label=$2
  shape "btn_${key}_normal" 110 35 '#3a6ea5' '#9cc3ea' white 16 "$label"
  shape "btn_${key}_active" 110 35 '#4f8cc9' '#d6e9fb' white 16 "$label"
  shape "btn_${key}_down" 110 35 '#284d74' '#9cc3ea' '#d0d0d0' 16 "$label"
}
link_button cz 充值
link_button gw 官网
link_button lt 论坛
link_button zc 注册

# Start button, 266 x 86.
shape btn_start_normal 266 86 '#d2691e' '#ffd08a' white 30 开始游戏
shape btn_start_active 266 86 '#f08030' '#fff0c8' white 30 开始游戏
shape btn_start_down 266 86 '#a04c10' '#ffd08a' '#e0e0e0' 30 开始游戏
shape btn_start_disable 266 86 '#6b6b6b' '#9a9a9a' '#b8b8b8' 30 开始游戏

# Selection buttons of the server picker, 35 x 40.
shape cb_normal 35 40 '#3a6ea5' '#9cc3ea' white 18 选
shape cb_active 35 40 '#4f8cc9' '#d6e9fb' white 18 选
shape cb_down 35 40 '#284d74' '#9cc3ea' '#d0d0d0' 18 选

# Close and minimise, 40 x 40.
shape close_normal 40 40 '#8b2323' '#e08080' white 22 ×
shape close_active 40 40 '#c03030' '#ffb0b0' white 22 ×
shape close_down 40 40 '#601818' '#e08080' '#d0d0d0' 22 ×
shape min_normal 40 40 '#3a6ea5' '#9cc3ea' white 22 －
shape min_active 40 40 '#4f8cc9' '#d6e9fb' white 22 －
shape min_down 40 40 '#284d74' '#9cc3ea' '#d0d0d0' 22 －

# Login panel 302 x 412 and slogan 300 x 60.
convert -size 302x412 xc:none -fill '#101c2ae0' -stroke '#5c7ea3' -strokewidth 2 \
  -draw 'roundrectangle 1,1 300,410 12,12' \
  -stroke none -fill '#ffd08a' -font "$font" -pointsize 20 -gravity north -annotate +0+18 选择服务器 \
  "${png[@]}" "PNG32:$out/frm_login.png"
shape pic_slogan 300 60 '#00000000' '#00000000' '#ffd08a' 34 '奎兰 Quellan'

# Progress bars: the empty track and the fill.
bar Progress_bk '#1a2633' '#2a3a4c'
bar Progress_all '#7fd35a' '#3c8f22'

# Server picker rows, 243 x 32 (the pop-up's item size), and the mark of a
# recommended server.
shape server_bk_active 243 32 '#4f8cc9' '#d6e9fb' white 1 ' '
shape server_bk_normal 243 32 '#1b2c3f' '#3a5878' white 1 ' '
shape server_new 40 32 '#d42a2a' '#ffb0b0' white 16 新

count=$(find "$out" -maxdepth 1 -name "*.png" | wc -l)
echo "make-skin: $count images in $out"
