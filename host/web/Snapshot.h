#ifndef KIVO_HOST_WEB_SNAPSHOT_H
#define KIVO_HOST_WEB_SNAPSHOT_H

#include <string>

namespace kivo::web {

// Renders a canvas (ROOT JSON as published to the display) to a 1600 x 800 PNG or SVG
// file, chosen by the extension of out_path, with web/render.mjs under Node.js (JSROOT).
// The file is replaced atomically. On failure returns false and error, one line
// "OUT_PATH: reason", says why (unknown extension, node or the npm packages missing,
// directory not writable, canvas not drawable).
bool render_snapshot(const std::string& canvas_json, const std::string& out_path,
                     std::string& error);

// What can be told before rendering: empty when out_path has a .png or .svg
// extension, lies in an existing directory and the tools to render it are
// installed; otherwise "OUT_PATH: reason".
std::string snapshot_problem(const std::string& out_path);

}  // namespace kivo::web

#endif
