# Writes a C++ source holding files as byte arrays and a table of them, for
# find_web_file(). Run as a script: cmake -DOUTPUT=x.cpp
# -DENTRIES=PATH|TYPE|FILE[|inline],... -P embed_files.cmake, where "inline"
# marks a file whose own script stands inside it.
string(REPLACE "," ";" entries "${ENTRIES}")
set(arrays "")
set(table "")
set(index 0)
foreach(entry IN LISTS entries)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 path)
  list(GET parts 1 type)
  list(GET parts 2 file)
  list(LENGTH parts count)
  set(inline false)
  if(count GREATER 3)
    set(inline true)
  endif()
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char file${index}[] = {${bytes}0};\n")
  string(APPEND table "    {\"${path}\", \"${type}; charset=utf-8\", file${index}, ${size}, ${inline}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Generated from the files named in CMakeLists.txt; do not edit.
#include \"web/web_files.h\"

namespace {
${arrays}
const WebFile files[] = {
${table}};
} // namespace

const WebFile *find_web_file(std::string_view path) {
  for (const WebFile &file : files) {
    if (path == file.path) {
      return &file;
    }
  }
  return nullptr;
}
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
