# Prints the string literals of C and C++ source files, one per line, as they are written
# (escapes kept), with adjacent literals joined as the compiler joins them. Comments and
# character literals are skipped.
{ text = text $0 "\n" }
END {
    n = length(text)
    i = 1
    joined = ""
    open = 0
    while (i <= n) {
        c = substr(text, i, 1)
        two = substr(text, i, 2)
        if (two == "//") {
            i += index(substr(text, i), "\n")
            continue
        }
        if (two == "/*") {
            i += index(substr(text, i + 2), "*/") + 3
            continue
        }
        if (c == "'") {
            i += (substr(text, i + 1, 1) == "\\") ? 4 : 3
            continue
        }
        if (c == "\"") {
            j = i + 1
            while (j <= n && substr(text, j, 1) != "\"") {
                if (substr(text, j, 1) == "\\") j++
                j++
            }
            joined = joined substr(text, i + 1, j - i - 1)
            open = 1
            i = j + 1
            continue
        }
        if (open && c !~ /[ \t\n]/) {
            print joined
            joined = ""
            open = 0
        }
        i++
    }
    if (open) print joined
}
