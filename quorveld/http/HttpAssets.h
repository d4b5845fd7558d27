// The page's files, built into the program from quorveld/http/web/ (see
// web/embed.cmake): nothing is read from the file system at run time.
#ifndef QUORVELD_HTTP_ASSETS_H
#define QUORVELD_HTTP_ASSETS_H

#include <string_view>

namespace qd {

struct WebAsset {
    std::string_view path;        // "/index.html", "/app.js"
    std::string_view contentType; // "text/html; charset=utf-8"
    std::string_view body;
};

// The file of that path, or null.
const WebAsset *findWebAsset(std::string_view path);

} // namespace qd

#endif
