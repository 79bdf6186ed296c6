#ifndef KIVO_HOST_WEB_SNAPSHOT_H
#define KIVO_HOST_WEB_SNAPSHOT_H

#include <string>

namespace kivo::web {

// Renders a canvas (ROOT JSON as published to the display) to a 1600 x 800 PNG or SVG
// file, chosen by the extension of out_path, with web/render.mjs under Node.js (JSROOT).
// The file is replaced atomically. The renderer stays running for the next
// snapshot; should it fail or end, a renderer of its own draws this one. On
// failure returns false and error, one line
// "OUT_PATH: reason", says why (unknown extension, node or the npm packages missing,
// directory not writable, canvas not drawable).
bool render_snapshot(const std::string& canvas_json, const std::string& out_path,
                     std::string& error);

// Starts the renderer that render_snapshot keeps running between snapshots,
// so that Node.js and JSROOT are loaded and warm by the first one; nothing
// when it runs or the tools are missing. Returns at once.
void prepare_snapshot_renderer();

// What can be told before rendering: empty when out_path has a .png or .svg
// extension, lies in an existing directory and the tools to render it are
// installed; otherwise "OUT_PATH: reason".
std::string snapshot_problem(const std::string& out_path);

}  // namespace kivo::web

#endif
