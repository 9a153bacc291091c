# Turns the medians of jbbbench run into the benchmark's tables (markdown).
# Input: index.tsv (size, index entries, index bytes), then the summary of
# jbbbench run (case, samples, median_ms, min_ms, max_ms, anon_median_kb,
# anon_max_kb, maxrss_median_kb, cpu_median_ms).  Variables: label, sizes, finds.
# Ratios are median(case) / median(cat of the same file); "added" times are
# the difference of two sessions' medians; wine figures are net of wine's
# own start (the program run without an argument).
BEGIN { FS = "\t"; split(sizes, size, " "); first = size[1] }
FNR == NR { indexBytes[$1] = $3; next }
FNR == 1 { next }
{
  med[$1] = $3; lo[$1] = $4; hi[$1] = $5
  anon[$1] = $6; anonMax[$1] = $7; rss[$1] = $8; cpu[$1] = $9; rounds = $2
}
# "" stands for a figure not measured (a case left out with --only/--skip).
function ms(v) { return v == "" ? "-" : v < 100 ? sprintf("%.1f", v) : sprintf("%.0f", v) }
function ratio(a, b) { return a != "" && b != "" && b > 0 ? sprintf("%.2f", a / b) : "-" }
function mb(kb) { return sprintf("%.1f", kb / 1024) }
function has(c) { return c in med }
function spread(c) { return ms(lo[c]) "-" ms(hi[c]) }
function row(what, linuxMs, catMs, goal, winMs, winGoal, range, cpuMs, catCpuMs) {
  printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", what, ms(linuxMs) (linuxMs == "" ? "" : range),
    ratio(linuxMs, catMs), ms(cpuMs), ratio(cpuMs, catCpuMs), goal, ms(winMs), ratio(winMs, linuxMs), winGoal
}
# row() for a case c of size n, its times against cat of the same file.
function caseRow(what, c, n, goal, winMs, winGoal) {
  if (!has(c) && winMs == "") return
  if (!has(c)) { row(what, "", med["cat." n], goal, winMs, winGoal, "", "", ""); return }
  row(what, med[c], med["cat." n], goal, winMs, winGoal, " (" spread(c) ")", cpu[c], cpu["cat." n])
}
function wineNet(c) { return has("windows." c) && has("wine.start") ? med["windows." c] - med["wine.start"] : "" }
function wineAdded(a, b) { return has("windows." a) && has("windows." b) ? med["windows." a] - med["windows." b] : "" }
function diff(m, a, b) { return has(a) && has(b) ? m[a] - m[b] : "" }
# A row of the time one session adds over another (a over b), for case
# kinds a and b of size n.
function addedRow(what, a, b, n, goal,   la, lb, w) {
  la = "linux." a "." n; lb = "linux." b "." n
  w = wineAdded(a "." n, b "." n)
  if (!(has(la) && has(lb)) && w == "") return
  row(what, diff(med, la, lb), med["cat." n], goal, w, "<= 1.5", "", diff(cpu, la, lb), cpu["cat." n])
}
function memRow(c, n, net,   a, amax) {
  if (!has(c)) return
  a = anon[c] - net; amax = anonMax[c] - net
  bound = indexBytes[n] / 1024 + 4096
  printf "| %s | %s | %s | %s | %s | %s | %s |\n", c, mb(a), mb(amax), mb(rss[c]), mb(indexBytes[n] / 1024),
    mb(bound), amax <= bound ? "yes" : "no"
}
# jbbtool's runs against the viewer's count run of the same database, on
# each build (wine: both net of wine's start).
function toolRow(what, k, n,   c, w, wc) {
  c = "tool." k "." n
  w = has("wintool." k "." n) && has("wine.start") ? med["wintool." k "." n] - med["wine.start"] : ""
  wc = wineNet("count." n)
  if (!has(c) && w == "") return
  printf "| %s | %s | %s | %s | %s | <= 5 | %s | %s | <= 5 |\n", what, has(c) ? ms(med[c]) " (" spread(c) ")" : "-",
    ratio(med[c], med["linux.count." n]), ms(cpu[c]), ratio(cpu[c], cpu["linux.count." n]), ms(w), ratio(w, wc)
}
function toolTable(n) {
  if (!has("tool.verify." n) && !has("wintool.verify." n)) return
  print ""
  printf "jbbtool on the %s-entry database, against the viewer's count run of it (output to /dev/null):\n\n", n
  print "| run | Linux ms | / count run | CPU ms | CPU / count run | goal | wine net ms | / wine count run | goal |"
  print "|---|---|---|---|---|---|---|---|---|"
  toolRow("verify", "verify", n)
  toolRow("dump (text)", "dump", n)
  toolRow("dump --format csv", "dumpcsv", n)
  toolRow("dump --format json", "dumpjson", n)
}
END {
  printf "### %s\n\n", label
  printf "Medians of %d rounds, ms (the range of the rounds in brackets); ratio = median / median of cat of the same file;\n", rounds
  print "CPU = user + system time of the command itself (wine's server not included).\n"
  print "| run | Linux ms | ratio | CPU ms | CPU ratio | goal | wine net ms | wine / Linux | goal |"
  print "|---|---|---|---|---|---|---|---|---|"
  f = first
  caseRow("cat of the file, " f " entries", "cat." f, f, "", "", "")
  if (has("wine.start"))
    printf "| wine start (the program without an argument) | - | - | - | - | | %s (%s) | - | |\n", ms(med["wine.start"]),
      spread("wine.start")
  caseRow("count run, " f " entries", "linux.count." f, f, "<= 3", wineNet("count." f), "<= 1.5")
  for (i = 2; i in size; i++) {
    n = size[i]
    caseRow("cat of the file, " n " entries", "cat." n, n, "", "", "")
    caseRow("count run, " n " entries", "linux.count." n, n, "", wineNet("count." n), "<= 1.5")
    w = wineNet("count." n); w0 = wineNet("count." f)
    if (has("linux.count." n) && has("linux.count." f)) printf "| count run, %s / %s entries | - | %s | - | %s | <= 10.5 | - | %s | |\n", n, f,
      ratio(med["linux.count." n], med["linux.count." f]), ratio(cpu["linux.count." n], cpu["linux.count." f]),
      w == "" ? "-" : ratio(w, w0) " (wine)"
  }
  addedRow(finds " random Finds, added to one Find", "finds", "find1", f, "<= 2")
  addedRow("List of all entries, added to a session with no request", "list", "session", f, "<= 30")
  toolTable(f)
  print ""
  print "Peak private memory (RssAnon polled; wine rows net of the wine start's own) against the index array + 4 MB, in MB:"
  print ""
  print "| case | anon peak (median) | anon peak (max) | maxrss (median) | index array | bound | within |"
  print "|---|---|---|---|---|---|---|"
  for (i = 1; i in size; i++) {
    n = size[i]
    split("count session find1 finds list", kinds, " ")
    for (k = 1; k in kinds; k++) memRow("linux." kinds[k] "." n, n, 0)
    for (k = 1; k in kinds; k++) memRow("windows." kinds[k] "." n, n, has("wine.start") ? anon["wine.start"] : 0)
  }
}
