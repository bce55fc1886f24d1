# The words a boot-table code file puts into flash, one "ADDR WORD" line each (upper-case
# hex, four digits), as targetsim's --flash-out lists them; sort the output to compare.
# Lines: a key line, then blocks of length, address, a skipped line and the words, ended
# by a length of 0. Feed it with the carriage returns taken out.
function hex(s,   i, c, v) { v = 0; s = toupper(s)
  for (i = 1; i <= length(s); i++) { c = index("0123456789ABCDEF", substr(s, i, 1)); if (!c) break; v = v * 16 + c - 1 }
  return v }
{ line[NR] = $1 }
END { at = 2
  for (len = hex(line[at++]); len != 0; len = hex(line[at++])) {
    addr = hex(line[at++]); at++
    for (i = 0; i < len; i++) words[(addr + i) % 65536] = hex(line[at++])
  }
  for (a in words) printf "%04X %04X\n", a, words[a] }
