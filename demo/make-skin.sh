#!/usr/bin/env bash
# Draws the demo skin: the 33 PNG files that launcher-pack stores, at the
# sizes that demo/positions.json gives their controls: gradient faces with
# Chinese captions, a logo, and button states that differ at a glance.
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

# button NAME WIDTH HEIGHT TOP BOTTOM BORDER INK POINT_SIZE LABEL [TEXT_DROP]
# A rounded button face with a vertical gradient, a border and a centred label
# with a dark shadow; TEXT_DROP moves the label down (the pressed look).
button() {
  local name=$1 w=$2 h=$3 top=$4 bottom=$5 border=$6 ink=$7 size=$8 label=$9 drop=${10:-0}
  local r=$(( (h < w ? h : w) / 5 ))
  convert -size "${w}x${h}" "gradient:${top}-${bottom}" \
    \( -size "${w}x${h}" xc:black -fill white -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) $r,$r" \) \
    -alpha off -compose CopyOpacity -composite -compose over \
    -fill none -stroke "$border" -strokewidth 2 -draw "roundrectangle 1,1 $((w - 2)),$((h - 2)) $r,$r" \
    -stroke none -font "$font" -pointsize "$size" -gravity center \
    -fill '#00000099' -annotate "+1+$((drop + 1))" "$label" \
    -fill "$ink" -annotate "+0+$drop" "$label" \
    "${png[@]}" "PNG32:$out/$name.png"
}

# The four looks of a button: normal, active (hover: lighter, bright rim),
# down (pressed: darker, label lowered) and disable (grey).
states() {  # KEY WIDTH HEIGHT POINT_SIZE LABEL NORMAL_TOP NORMAL_BOTTOM [with-disable]
  local key=$1 w=$2 h=$3 size=$4 label=$5 top=$6 bottom=$7
  button "${key}_normal" "$w" "$h" "$top" "$bottom" '#a8c8e8' white "$size" "$label"
  button "${key}_active" "$w" "$h" '#ffe9a8' '#f0a030' '#fff6d0' '#3a2000' "$size" "$label"
  button "${key}_down" "$w" "$h" '#14283c' '#0a1420' '#5c7ea3' '#c8c8c8' "$size" "$label" 2
  if [ "${8:-}" = with-disable ]; then
    button "${key}_disable" "$w" "$h" '#7a7a7a' '#505050' '#9a9a9a' '#bcbcbc' "$size" "$label"
  fi
}

# bar NAME COLOUR_TOP COLOUR_BOTTOM: a progress bar image of 839 x 19, the
# same in every column, so any length of it looks alike.
bar() {
  convert -size 839x19 "gradient:$2-$3" "${png[@]}" "PNG32:$out/$1.png"
}

# The window background, 1002 x 642: a night-blue gradient, a dark title
# strip with a gold rule, the frames of the news panel and the status area,
# and the launcher's name.
convert -size 1002x642 gradient:'#2d5580-#070c14' \
  -fill '#0a1420c8' -draw 'rectangle 0,0 1001,27' \
  -fill none -stroke '#c8a050' -strokewidth 1 -draw 'line 0,27 1001,27' \
  -stroke '#5c7ea3' -draw 'roundrectangle 38,108 661,531 8,8' -draw 'roundrectangle 78,540 926,628 8,8' \
  -stroke none -fill '#ffd08a' -font "$font" -pointsize 14 -annotate +12+19 '奎兰登录器' \
  -fill '#8fb3d9' -pointsize 13 -gravity southeast -annotate +12+6 'Quellan demo skin' \
  "${png[@]}" "PNG32:$out/background.png"

# Link buttons, 110 x 35.
states btn_cz 110 35 17 充值 '#3f7fc0' '#1d4a78'
states btn_gw 110 35 17 官网 '#3f7fc0' '#1d4a78'
states btn_lt 110 35 17 论坛 '#3f7fc0' '#1d4a78'
states btn_zc 110 35 17 注册 '#3f7fc0' '#1d4a78'

# Start button, 266 x 86, the only one with a disabled look.
states btn_start 266 86 32 开始游戏 '#f09040' '#b04a10' with-disable

# Selection buttons of the server picker, 35 x 40.
states cb 35 40 18 ▼ '#3f7fc0' '#1d4a78'

# Close and minimise, 40 x 40.
states close 40 40 22 × '#c04040' '#701818'
states min 40 40 22 － '#3f7fc0' '#1d4a78'

# Login panel 302 x 412: a translucent dark card with a gold heading.
convert -size 302x412 gradient:'#16263ae8-#0a1220f0' \
  \( -size 302x412 xc:black -fill white -draw 'roundrectangle 0,0 301,411 12,12' \) \
  -alpha off -compose CopyOpacity -composite -compose over \
  -fill none -stroke '#c8a050' -strokewidth 2 -draw 'roundrectangle 1,1 300,410 12,12' \
  -stroke none -fill '#ffd08a' -font "$font" -pointsize 20 -gravity north -annotate +0+16 选择服务器 \
  -fill none -stroke '#c8a05080' -strokewidth 1 -draw 'line 24,50 277,50' \
  "${png[@]}" "PNG32:$out/frm_login.png"

# Slogan 300 x 60: the logo (a gold medallion with the game's initial) and
# the game's name.
convert -size 300x60 xc:none \
  -fill '#00000060' -draw 'circle 31,31 31,4' \
  -fill '#e8b04a' -stroke '#fff0c0' -strokewidth 2 -draw 'circle 30,30 30,4' \
  -fill none -stroke '#8a5a10' -strokewidth 2 -draw 'circle 30,30 30,10' \
  -stroke none -fill '#5a3300' -font "$font" -pointsize 26 -gravity west -annotate +17+0 奎 \
  -fill '#00000099' -pointsize 30 -annotate +67+1 '奎兰' -fill '#ffd08a' -annotate +66+0 '奎兰' \
  -fill '#cfe3f7' -pointsize 18 -annotate +140+4 'QUELLAN' \
  "${png[@]}" "PNG32:$out/pic_slogan.png"

# Progress bars: the empty track and the fill.
bar Progress_bk '#0c141e' '#22303f'
bar Progress_all '#9be86e' '#2f8a1a'

# Server picker rows, 243 x 32 (the pop-up's item size), and the mark of a
# recommended server.
button server_bk_active 243 32 '#ffe9a8' '#f0a030' '#fff6d0' '#3a2000' 1 ' '
button server_bk_normal 243 32 '#1b2c3f' '#0f1a26' '#3a5878' white 1 ' '
button server_new 40 32 '#e04040' '#901818' '#ffb0b0' white 16 新

count=$(find "$out" -maxdepth 1 -name "*.png" | wc -l)
echo "make-skin: $count images in $out"
