# Writes OUT: each of FILES as a std::string_view named after the file (index.html: kIndexHtml).
set(text "// Generated from tools/board/web; edit those files.\n#include <string_view>\nnamespace board {\n")
foreach(file ${FILES})
  get_filename_component(name ${file} NAME)
  string(REGEX REPLACE "[^A-Za-z0-9]" "_" symbol ${name})
  file(READ ${file} content)
  string(APPEND text "extern const std::string_view kAsset_${symbol};\n"
         "const std::string_view kAsset_${symbol} = R\"asset(${content})asset\";\n")
endforeach()
string(APPEND text "}  // namespace board\n")
file(WRITE ${OUT} "${text}")
