# Doxygen's input filter for the public headers: reads a header and writes it
# with its comments as Doxygen comments, so the headers keep the plain "//"
# comments of the rest of the tree and the reference is built from exactly
# what a reader of the header sees.
#
# - The comment block that opens the file describes the file ("//! @file");
#   every header is marked as a documented file, so that its declarations
#   are checked even when it has no such block.
# - A comment block directly above a declaration documents it ("///"); a
#   block followed by a blank line, a preprocessor line or a closing brace
#   is a remark and stays a plain comment.
# - A comment block above a run of declarations with no blank line between
#   them documents each of them (a Doxygen member group).
# - A comment behind a declaration on its line documents it ("///<").
# - Separator lines ("// ----") are dropped.
# - In documentation text, characters that Doxygen reads as commands or
#   markup (\ @ < > & % # $) are escaped, so "\d\", "<not open>" and "$RECEIVE"
#   reach the page as written. Text in `backquotes` or "double quotes" is
#   left as it is (Doxygen shows it as written).
# - Lines indented past the comment's own blank (aligned tables, parameter
#   lists) are kept as preformatted text.
# - A line that begins with \see or \copydoc is Doxygen's own command and
#   passes unescaped, so an entry point links the procedure that holds its
#   contract; the procedure names on it (upper case with an underscore,
#   MEM_ALLOC) become explicit references, since words are not linked on
#   their own (AUTOLINK_SUPPORT is off).
#
# Usage: awk -f doc_comments.awk HEADER

function escape(text,    out, i, c, code, quoted) {
  out = ""
  code = 0
  quoted = 0
  for (i = 1; i <= length(text); i++) {
    c = substr(text, i, 1)
    if (c == "`" && !quoted) code = !code
    else if (c == "\"" && !code) quoted = !quoted
    else if (!code && !quoted && index("\\@<>&%#$", c) > 0) out = out "\\"
    out = out c
  }
  return out
}

# Writes one line of documentation text. Lines indented past the comment's
# own blank (aligned tables, parameter lists) are kept as they stand, as a
# preformatted block; other text is escaped and flows.
function doc_line(prefix, text) {
  if (text ~ /^\\(see|copydoc) /) {
    if (verbatim) print prefix
    verbatim = 0
    blank_before = 0
    if (text ~ /^\\see /) gsub(/[A-Z][A-Z0-9]*_[A-Z0-9_]*/, "\\ref &", text)
    print prefix " " text
    return
  }
  if (text ~ /^[ \t]/) {
    if (!verbatim && !blank_before) print prefix
    print prefix "    " text
    verbatim = 1
    blank_before = 0
    return
  }
  if (verbatim && text != "") print prefix
  verbatim = 0
  blank_before = text == ""
  print prefix (text == "" ? "" : " " escape(text))
}

function is_comment(line) { return line ~ /^[ \t]*\/\// }

function is_blank(line) { return line ~ /^[ \t]*$/ }

# Lines that end a run of declarations: a blank line, a comment, a
# preprocessor line, a closing brace.
function ends_run(line) {
  return is_blank(line) || is_comment(line) || line ~ /^[ \t]*#/ || line ~ /^[ \t]*}/
}

function comment_text(line) {
  sub(/^[ \t]*\/\/ ?/, "", line)
  return line
}

function indent_of(line) {
  match(line, /^[ \t]*/)
  return substr(line, 1, RLENGTH)
}

function code_of(line) {
  sub(/[ \t]*\/\/.*/, "", line)
  return line
}

# A line of code, with a comment behind a declaration made its documentation,
# unless the line opens or closes a scope or is a preprocessor line.
function code_line(line,    code, rest, spaces) {
  if (line !~ /^[ \t]*#/ && line !~ /^[ \t]*}/ && line !~ /{[ \t]*\/\// &&
      match(line, /[;,][ \t]*\/\/ ?/)) {
    code = substr(line, 1, RSTART)
    rest = substr(line, RSTART + 1)
    spaces = rest
    sub(/\/\/.*/, "", spaces)
    sub(/^[ \t]*\/\/ ?/, "", rest)
    return code spaces "///< " escape(rest)
  }
  return line
}

{ lines[++n] = $0 }

END {
  i = 1
  # The comment block that opens the file describes the file. A file is
  # always marked as documented, so that Doxygen checks its declarations
  # even when the file lacks that block.
  print "//! @file"
  verbatim = 0
  blank_before = 1
  for (; i <= n && is_comment(lines[i]); i++) doc_line("//!", comment_text(lines[i]))
  while (i <= n) {
    if (!is_comment(lines[i])) {
      print code_line(lines[i++])
      continue
    }
    first = i
    while (i <= n && is_comment(lines[i])) i++
    doc = i <= n && !ends_run(lines[i])
    verbatim = 0
    blank_before = 1
    for (k = first; k < i; k++) {
      if (lines[k] ~ /^[ \t]*\/\/ ?-+[ \t]*$/) continue
      if (doc) doc_line(indent_of(lines[k]) "///", comment_text(lines[k]))
      else print lines[k]
    }
    if (!doc) continue
    # The run of declarations the block stands above: more than one makes a
    # group that shares the block.
    last = i
    declarations = 0
    scope = 0
    while (last <= n && !ends_run(lines[last])) {
      code = code_of(lines[last])
      if (code ~ /;[ \t]*$/) declarations++
      if (code ~ /{[ \t]*$/) scope = 1
      last++
    }
    group = declarations > 1 && !scope
    if (group) print indent_of(lines[i]) "///@{"
    for (; i < last; i++) print code_line(lines[i])
    if (group) print indent_of(lines[i - 1]) "///@}"
  }
}
