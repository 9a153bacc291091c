# Shows an interactive session as it looks at a console: each line the
# user types appears after the prompt that reads it.
#
#   awk -v input=FILE -f echo_input.awk OUTPUT
#
# OUTPUT is what the viewer printed with FILE as its standard input.  The
# viewer reads a request line at "Please enter your request: " and the
# just-created answer line at "(Y/N)? ", but only one character at the
# deletion question: the rest of that line, its newline at least, is the
# next request, which the user does not type again.
BEGIN {
  prompt[1] = "Please enter your request: "
  prompt[2] = "delete this record?(y/n): "
  prompt[3] = "(Y/N)? "
  n = 0
  while ((getline line < input) > 0) typed[++n] = line
  RS = "\001"  # the whole output is one record
  next_line = 1
  leftover = ""
}
{
  text = $0
  out = ""
  while (1) {
    p = first_prompt(text)
    if (p == 0) break
    out = out substr(text, 1, p_end)
    text = substr(text, p_end + 1)
    answer_prompt(p)
  }
  printf "%s", out text
}
# Finds the earliest prompt in s: 1 request, 2 deletion question,
# 3 just-created question (0 none); p_end is where it ends.
function first_prompt(s,    i, best, kind, k) {
  best = 0; kind = 0
  for (k = 1; k <= 3; k++) {
    i = index(s, prompt[k])
    if (i > 0 && (best == 0 || i < best)) { best = i; kind = k }
  }
  if (kind > 0) p_end = best + length(prompt[kind]) - 1
  return kind
}
function take_line() {
  if (next_line > n) return 0
  out = out typed[next_line] "\n"
  current = typed[next_line++]
  return 1
}
function answer_prompt(kind) {
  if (kind == 2) {
    if (leftover != "") { leftover = substr(leftover, 2); return }
    if (take_line()) leftover = substr(current, 2) "\n"
    return
  }
  if (kind == 1 && leftover != "") { leftover = ""; return }
  take_line()
}
