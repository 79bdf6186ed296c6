#include "MonitorPlugin.h"

#include <dlfcn.h>

#include <filesystem>
#include <utility>

#include "monitor_plugin.h"

namespace kivo::host {

namespace {

template <typename Function>
Function resolve(void* handle, const char* symbol) {
  return reinterpret_cast<Function>(dlsym(handle, symbol));
}

}  // namespace

std::unique_ptr<MonitorPlugin> MonitorPlugin::load(const std::string& path, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    error = "cannot load monitor library " + path + ": " + (reason ? reason : "unknown error");
    return nullptr;
  }
  std::unique_ptr<MonitorPlugin> plugin(new MonitorPlugin(path, handle));
  plugin->pinit_ = resolve<int (*)()>(handle, kPinitSymbol);
  plugin->process_event_ = resolve<int (*)(Event*)>(handle, kProcessEventSymbol);
  if (!plugin->pinit_ || !plugin->process_event_) {
    error = "monitor library " + path + " does not define " +
            (plugin->pinit_ ? "process_event(Event*)" : "pinit()");
    return nullptr;
  }
  return plugin;
}

MonitorPlugin::MonitorPlugin(std::string path, void* handle)
    : path_(std::move(path)), handle_(handle) {}

MonitorPlugin::~MonitorPlugin() { dlclose(handle_); }

void* MonitorPlugin::global(const char* name) const { return dlsym(handle_, name); }

std::string default_plugin_path() {
  std::error_code error;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "libkivo_monitor.so";
  return (executable.parent_path().parent_path() / "lib" / "libkivo_monitor.so").string();
}

}  // namespace kivo::host
