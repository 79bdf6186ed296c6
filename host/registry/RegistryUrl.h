// Where the run registry lives, as --registry names it: a file path for an
// SQLite registry, or a postgresql:// (postgres://) URL for a PostgreSQL
// server, read by libpq itself. A password written in the URL is never shown:
// every message about the registry goes through masked().
#ifndef KIVO_HOST_REGISTRY_REGISTRY_URL_H
#define KIVO_HOST_REGISTRY_REGISTRY_URL_H

#include <string>
#include <vector>

namespace kivo::registry {

enum class Engine { sqlite, postgresql };

struct RegistryUrl {
  Engine engine = Engine::sqlite;
  std::string location;  // the file path, or the URL as given
  std::string shown;     // for messages: the path, or the URL with its password masked
  std::vector<std::string> secrets;  // texts of the password that messages must not show
};

// Empty, or why `text` names no registry (the text shown masked).
std::string parse_registry_url(const std::string& text, RegistryUrl& url);

// `message` with every password of `url` replaced by "***".
std::string masked(const RegistryUrl& url, std::string message);

// The registry of an archive: DIR/registry.sqlite.
RegistryUrl archive_registry(const std::string& archive_directory);

}  // namespace kivo::registry

#endif
