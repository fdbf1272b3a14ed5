# Turns a program's --help text into a manual page (man(7) macros).
#
# The help text's layout: a first line "Usage: NAME ARGS"; a description up
# to the first blank line or heading; headings at the left margin ending in
# ":"; entries indented by two spaces, "TAG  description" (the TAG starts
# with "-" or is one word, then two or more spaces), the description going
# on in lines indented by eight or more; text indented by two spaces; and
# examples indented by four.
#
# Variables: name (the program), section, version, summary (the NAME line).

function roff(text) {
    gsub(/\\/, "\\e", text)
    gsub(/-/, "\\-", text)
    if (text ~ /^[.']/)
        text = "\\&" text
    return text
}

function trim(text) {
    sub(/^ +/, "", text)
    sub(/ +$/, "", text)
    return text
}

function literal(on) {
    if (on && !inExample) print ".PP\n.nf\n.RS 4"
    if (!on && inExample) print ".RE\n.fi"
    inExample = on
}

BEGIN {
    printf ".TH %s %s \"\" \"%s %s\" \"User Commands\"\n", toupper(name), section, name, version
    printf ".SH NAME\n%s \\- %s\n", name, roff(summary)
    state = "start"
}

NR == 1 && tolower($0) ~ /^usage: / {
    sub(/^[Uu]sage: +/, "")
    print ".SH SYNOPSIS"
    print ".B " roff($1)
    $1 = ""
    if (trim($0) != "") print roff(trim($0))
    print ".SH DESCRIPTION"
    state = "description"
    next
}

/^ *$/ {
    inText = 0
    literal(0)
    if (state == "description") state = "body"
    inEntry = 0
    next
}

/^[^ ].*:$/ {
    inText = 0
    literal(0)
    heading = $0
    sub(/:$/, "", heading)
    print ".SH \"" toupper(roff(heading)) "\""
    state = "body"
    inEntry = 0
    next
}

# An entry: "  TAG  description" or a tag alone.
/^  [^ ]/ && ($0 ~ /^  -/ || $0 ~ /^  [^ ]+(  |$)/) {
    inText = 0
    literal(0)
    if (state == "description") {
        print ".SH OPTIONS"
        state = "body"
    }
    line = substr($0, 3)
    gap = index(line, "  ")
    tag = gap ? substr(line, 1, gap - 1) : line
    print ".TP"
    print ".B " roff(trim(tag))
    if (gap) print roff(trim(substr(line, gap)))
    inEntry = 1
    next
}

/^        / && inEntry {
    print roff(trim($0))
    next
}

/^    / {
    inText = 0
    literal(1)
    print roff(substr($0, 5))
    next
}

{
    literal(0)
    if (!inText && state != "description") print ".PP"
    inEntry = 0
    print roff(trim($0))
    inText = 1
    next
}

END { literal(0) }
