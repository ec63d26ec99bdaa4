# Writes OUTPUT, a C++ source holding the files of PAGE_DIR as PageAssets(),
# so the monitor reads no file at run time. Run with cmake -P.
set(delimiter "kestrune_page")
set(body "")
# embed(url file type): appends one entry to body.
function(embed url file type)
  file(READ "${PAGE_DIR}/${file}" content)
  string(FIND "${content}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${PAGE_DIR}/${file} contains the raw-string delimiter ')${delimiter}\"'")
  endif()
  set(body "${body}      {\"${url}\", \"${type}; charset=utf-8\", R\"${delimiter}(${content})${delimiter}\"},\n"
    PARENT_SCOPE)
endfunction()
embed("/" index.html text/html)
embed("/app.js" app.js text/javascript)
embed("/style.css" style.css text/css)
file(WRITE "${OUTPUT}.tmp" "// Generated from ${PAGE_DIR} by cmake/embed_page.cmake; do not edit.
#include \"page_assets.hpp\"

namespace kestrune {
namespace monitor {

const std::vector<PageAsset>& PageAssets() {
  static const std::vector<PageAsset> assets = {
${body}  };
  return assets;
}

}  // namespace monitor
}  // namespace kestrune
")
# Only a changed page rebuilds the program.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
