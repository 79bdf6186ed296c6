// The monitor library loaded with dlopen: its entry points pinit and
// process_event, resolved by name, and the few globals the host reads.
#ifndef KIVO_HOST_MONITOR_PLUGIN_H
#define KIVO_HOST_MONITOR_PLUGIN_H

#include <memory>
#include <string>

class Event;

namespace kivo::host {

class MonitorPlugin {
 public:
  // Loads `path` (its static initialisation registers the monitor's commands);
  // null with a one-line `error` when it cannot be loaded or lacks an entry point.
  static std::unique_ptr<MonitorPlugin> load(const std::string& path, std::string& error);
  ~MonitorPlugin();
  MonitorPlugin(const MonitorPlugin&) = delete;
  MonitorPlugin& operator=(const MonitorPlugin&) = delete;

  int pinit() const { return pinit_(); }
  int process_event(Event* event) const { return process_event_(event); }
  // Address of the global `name` (unmangled, as a C++ global variable's
  // symbol is), or null when the library has none.
  void* global(const char* name) const;
  const std::string& path() const { return path_; }

 private:
  MonitorPlugin(std::string path, void* handle);

  std::string path_;
  void* handle_;
  int (*pinit_)() = nullptr;
  int (*process_event_)(Event*) = nullptr;
};

// The monitor library installed beside the running executable: ../lib/libkivo_monitor.so.
std::string default_plugin_path();

}  // namespace kivo::host

#endif
