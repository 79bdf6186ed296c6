// The monitor library loaded with dlopen: every symbol of the host-to-monitor
// contract (monitor_plugin.h), resolved by name and typed as declared there.
#ifndef KIVO_HOST_MONITOR_PLUGIN_H
#define KIVO_HOST_MONITOR_PLUGIN_H

#include <memory>
#include <string>

#include "monitor_plugin.h"

namespace kivo::host {

class MonitorPlugin {
 public:
  // Loads `path` (its static initialisation registers the monitor's commands);
  // null with a one-line `error` when it cannot be loaded or lacks symbols of
  // the contract, naming every one it lacks.
  static std::unique_ptr<MonitorPlugin> load(const std::string& path, std::string& error);
  ~MonitorPlugin();
  MonitorPlugin(const MonitorPlugin&) = delete;
  MonitorPlugin& operator=(const MonitorPlugin&) = delete;

  int pinit() const { return symbols_.pinit(); }
  int process_event(Event* event) const { return symbols_.process_event(event); }
  // Every symbol of the contract, none null.
  const MonitorSymbols& symbols() const { return symbols_; }
  // The address of the contract's symbol `name` (as for_each_monitor_symbol
  // names it), or null for a name outside the contract.
  void* symbol(const char* name) const;
  const std::string& path() const { return path_; }

 private:
  MonitorPlugin(std::string path, void* handle);

  std::string path_;
  void* handle_;
  MonitorSymbols symbols_;
};

// The monitor library installed beside the running executable: ../lib/libkivo_monitor.so.
std::string default_plugin_path();

}  // namespace kivo::host

#endif
