# Turns the page's files into a C++ source, so that the program serves them
# from memory: cmake -DOUTPUT=FILE.cpp -DDIR=web -DFILES=index.html,app.js -P embed.cmake
set(types_html "text/html; charset=utf-8")
set(types_js "text/javascript; charset=utf-8")
set(types_css "text/css; charset=utf-8")
set(types_svg "image/svg+xml")

string(REPLACE "," ";" FILES "${FILES}")
set(arrays "")
set(table "")
set(n 0)
foreach(file IN LISTS FILES)
  file(READ "${DIR}/${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(REGEX REPLACE "(('\\\\x..',){16})" "\\1\n" bytes "${bytes}")
  get_filename_component(ext "${file}" LAST_EXT)
  string(SUBSTRING "${ext}" 1 -1 ext)
  if(NOT DEFINED types_${ext})
    message(FATAL_ERROR "embed.cmake: no content type for ${file}")
  endif()
  string(APPEND arrays "const char file${n}[] = {\n${bytes}};\n")
  string(APPEND table "    {\"/${file}\", \"${types_${ext}}\", {file${n}, ${size}}},\n")
  math(EXPR n "${n} + 1")
endforeach()

file(WRITE "${OUTPUT}.tmp" "// Made by quorveld/http/web/embed.cmake from quorveld/http/web/: do not edit.
#include \"HttpAssets.h\"

namespace qd {

namespace {

${arrays}
const WebAsset assets[] = {
${table}};

} // namespace

const WebAsset *findWebAsset(std::string_view path)
{
    for (const WebAsset &asset : assets)
        if (asset.path == path)
            return &asset;
    return nullptr;
}

} // namespace qd
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
