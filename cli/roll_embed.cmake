# Turns the roll's page (roll_page.html) into a C++ raw string literal that roll_html.cpp
# includes: cmake -DINPUT=roll_page.html -DOUTPUT=roll_page.inc -P roll_embed.cmake
file(READ "${INPUT}" page)
string(FIND "${page}" ")ROLLPAGE\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} holds the literal's end mark )ROLLPAGE\"")
endif()
file(WRITE "${OUTPUT}.tmp" "// Made from roll_page.html by roll_embed.cmake.\nR\"ROLLPAGE(${page})ROLLPAGE\"\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
