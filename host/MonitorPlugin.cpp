#include "MonitorPlugin.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <type_traits>
#include <utility>

namespace kivo::host {

namespace {

// A symbol as the C++ source names it: "pinit()" for "_Z5pinitv".
std::string readable(const char* symbol) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : symbol;
  std::free(demangled);
  return name;
}

// Resolves every member of `symbols` in `handle`; the names of those the
// library lacks, joined by ", ".
std::string resolve_all(void* handle, MonitorSymbols& symbols) {
  std::string missing;
  for_each_monitor_symbol(symbols, [&](const char* name, auto& member) {
    member = reinterpret_cast<std::remove_reference_t<decltype(member)>>(dlsym(handle, name));
    if (member) return;
    if (!missing.empty()) missing += ", ";
    missing += readable(name);
  });
  return missing;
}

}  // namespace

std::unique_ptr<MonitorPlugin> MonitorPlugin::load(const std::string& path, std::string& error) {
  // RTLD_NODELETE: the monitor's globals hold its histograms, graphs and
  // canvas for the life of the process, as ROOT keeps a loaded library's;
  // unmapped at exit they would leave those objects unreachable, leaked.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    const char* reason = dlerror();
    error = "cannot load monitor library " + path + ": " + (reason ? reason : "unknown error");
    return nullptr;
  }
  std::unique_ptr<MonitorPlugin> plugin(new MonitorPlugin(path, handle));
  const std::string missing = resolve_all(handle, plugin->symbols_);
  if (!missing.empty()) {
    error = "monitor library " + path + " does not define " + missing;
    return nullptr;
  }
  return plugin;
}

MonitorPlugin::MonitorPlugin(std::string path, void* handle)
    : path_(std::move(path)), handle_(handle) {}

MonitorPlugin::~MonitorPlugin() { dlclose(handle_); }

void* MonitorPlugin::symbol(const char* name) const {
  void* address = nullptr;
  MonitorSymbols symbols = symbols_;
  for_each_monitor_symbol(symbols, [&](const char* symbol_name, auto& member) {
    if (std::strcmp(symbol_name, name) == 0) address = reinterpret_cast<void*>(member);
  });
  return address;
}

std::string default_plugin_path() {
  std::error_code error;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "libkivo_monitor.so";
  return (executable.parent_path().parent_path() / "lib" / "libkivo_monitor.so").string();
}

}  // namespace kivo::host
