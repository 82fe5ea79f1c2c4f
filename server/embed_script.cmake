# Writes the Transact-SQL script IN into OUT as a C++ string constant.
file(READ ${IN} text)
# A raw string literal cannot hold its own delimiter; the scripts never contain it.
string(FIND "${text}" ")pubs2script\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} contains the raw string delimiter")
endif()
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n#include \"engine/sample_script.h\"\n\nnamespace sampleserver {\nconst char* const kPubs2Script = R\"pubs2script(${text})pubs2script\";\n}\n")
