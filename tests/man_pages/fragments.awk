# Reads string literals, one per line (from string_literals.awk), and prints the fixed texts
# of the messages among them: each literal is cut at its conversions (%s, %d, %.3f, ...) and
# its line ends, and every piece of two words or more is printed with its blanks squeezed.
{
    s = $0
    gsub(/%[-+ #0]*[0-9*]*(\.[0-9*]+)?(hh|h|ll|l|z|j|t|L)?[diouxXcsfeEgGp]/, "\001", s)
    gsub(/\\[nrt]/, "\001", s)
    gsub(/%%/, "%", s)
    count = split(s, pieces, "\001")
    for (k = 1; k <= count; k++) {
        p = pieces[k]
        gsub(/[ \t]+/, " ", p)
        sub(/^ /, "", p)
        sub(/ $/, "", p)
        if (length(p) >= 8 && index(p, " ") > 0) print p
    }
}
