#include <dirent.h>

#include <fstream>
#include <memory>
#include <string>

#include "platform/ModemManager.h"

namespace voltrix {

namespace {

// Closes the directory on every path.
struct DirectoryCloser {
  void operator()(DIR* directory) const { ::closedir(directory); }
};

}  // namespace

bool modemManagerRunning() {
  const std::unique_ptr<DIR, DirectoryCloser> proc(::opendir("/proc"));
  if (!proc) return false;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "ModemManager") return true;
  }
  return false;
}

}  // namespace voltrix
