#!/usr/bin/env bash
# Checks scripts/guide itself on small guides: commands run in order in one
# shell (variables carry from block to block, continuation lines and
# heredocs stay one command), skipped blocks say why, and every way a guide
# can go wrong fails the run with a count that says so: an unmarked block,
# a failing command (nothing after it runs), a mark before another kind of
# block, a support text the code does not have (that check counts as one
# command of the run).
#   guide-runner.sh     (GUIDE_BUILD as for scripts/guide)
set -u
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
export GUIDE_TEST_OUT="$tmp/out"
failures=0

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# run NAME: runs scripts/guide on $tmp/NAME.md; sets status and output.
run() {
  rm -f "$GUIDE_TEST_OUT"
  output="$(bash "$top/scripts/guide" "$tmp/$1.md" 2>&1)"
  status=$?
}

expect_line() {  # case, text
  grep -qF -- "$2" <<<"$output" || fail "$1: no line \"$2\" in:"$'\n'"$output"
}

fence='```'
cat >"$tmp/good.md" <<EOF
# A guide

<!-- guide: run -->
${fence}sh
# a comment is no command
NAME=first
printf '%s\n' "\$NAME" \\
  second >>"\$GUIDE_TEST_OUT"
${fence}

<!-- guide: skip needs a host of its own -->
${fence}sh
echo skipped >>"\$GUIDE_TEST_OUT"
${fence}

A JSON example needs no mark:

${fence}json
{"a": 1}
${fence}

<!-- guide: run -->
${fence}sh
cat >>"\$GUIDE_TEST_OUT" <<'TEXT'
\$NAME stays literal here
TEXT
echo "\$NAME again" >>"\$GUIDE_TEST_OUT"
${fence}

## Support

| status text | meaning |
|---|---|
| \`正在检查更新...\` | the run fetches the manifest |
| \`#100 : \` + error | one attempt failed |
EOF
run good
[ "$status" -eq 0 ] || fail "good: exit $status"$'\n'"$output"
expect_line good "guide: 5 commands ran, 0 failed"
expect_line good "not run here: needs a host of its own"
expected=$'first\nsecond\n$NAME stays literal here\nfirst again'
[ "$(cat "$GUIDE_TEST_OUT" 2>/dev/null)" = "$expected" ] ||
  fail "good: commands wrote \"$(cat "$GUIDE_TEST_OUT" 2>/dev/null)\", not \"$expected\""

cat >"$tmp/unmarked.md" <<EOF
<!-- guide: run -->
${fence}sh
echo marked >>"\$GUIDE_TEST_OUT"
${fence}

${fence}sh
echo unmarked >>"\$GUIDE_TEST_OUT"
${fence}
EOF
run unmarked
[ "$status" -ne 0 ] || fail "unmarked: exit 0"
expect_line unmarked "line 6: \`\`\`sh block without a guide mark"
expect_line unmarked "guide: 0 commands ran, 1 failed"
[ ! -e "$GUIDE_TEST_OUT" ] || fail "unmarked: commands ran although the guide is broken"

cat >"$tmp/failing.md" <<EOF
<!-- guide: run -->
${fence}sh
true
test -e /nonexistent-file-of-the-guide-test
echo after >>"\$GUIDE_TEST_OUT"
${fence}
EOF
run failing
[ "$status" -ne 0 ] || fail "failing: exit 0"
expect_line failing "FAILED with exit code 1 at $tmp/failing.md line 4: test -e /nonexistent-file-of-the-guide-test"
expect_line failing "guide: 3 commands ran, 1 failed"
[ ! -e "$GUIDE_TEST_OUT" ] || fail "failing: a command after the failed one ran"

cat >"$tmp/misplaced.md" <<EOF
<!-- guide: run -->
${fence}json
{"a": 1}
${fence}
EOF
run misplaced
[ "$status" -ne 0 ] || fail "misplaced: exit 0"
expect_line misplaced "line 1: mark before a \`\`\`json block"

cat >"$tmp/stale.md" <<EOF
<!-- guide: run -->
${fence}sh
true
${fence}

## Support

| status text | meaning |
|---|---|
| \`正在检查更新...\` | the run fetches the manifest |
| \`正在检查升级...\` | a text the launcher does not show |
EOF
run stale
[ "$status" -ne 0 ] || fail "stale: exit 0"
expect_line stale "quotes a text the code does not have: '正在检查升级...'"
expect_line stale "guide: 2 commands ran, 1 failed"

if [ "$failures" -eq 0 ]; then
  echo "guide-runner: 5 cases passed"
else
  echo "guide-runner: $failures failed"
  exit 1
fi
