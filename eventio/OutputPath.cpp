#include "OutputPath.h"

#include <sys/stat.h>

namespace kivo::eventio {

bool replaceable_by_rename(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return true;
  return S_ISREG(info.st_mode);
}

}  // namespace kivo::eventio
