# Adjusts the parser that bison generated, so that its trace and messages
# read as the fingerprint compiler documents them:
#   - each scanner call is announced as "Reading a token: ", and the token
#     read is reported on the same line;
#   - the end of the input is named "$end" and an unknown token "$undefined",
#     in the trace and in syntax error messages alike.
# Every replaced text must be found exactly once, so that a change in the
# generator stops the build instead of changing the output unnoticed.
#
# Usage: cmake -DIN=<generated parser> -DOUT=<adjusted parser> -P tirvo_parser_fixup.cmake

file(READ "${IN}" text)

function(replace_once from to)
  string(FIND "${text}" "${from}" first)
  string(FIND "${text}" "${from}" last REVERSE)
  if(first EQUAL -1 OR NOT first EQUAL last)
    message(FATAL_ERROR "tirvo_parser_fixup: expected exactly one occurrence of ${from} in ${IN}")
  endif()
  string(REPLACE "${from}" "${to}" text "${text}")
  set(text "${text}" PARENT_SCOPE)
endfunction()

replace_once([[YYDPRINTF ((stderr, "Reading a token\n"));]]
             [[YYDPRINTF ((stderr, "Reading a token: "));]])
replace_once([["\"end of file\"", "error", "\"invalid token\"",]]
             [["$end", "error", "$undefined",]])

# The generator's own line directives name the intermediate file.
string(REPLACE "${IN}" "${OUT}" text "${text}")

file(WRITE "${OUT}.tmp" "${text}")
file(RENAME "${OUT}.tmp" "${OUT}")
