#include "platform/user_folders.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace selvane {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return (value && *value) ? std::string(value) : fallback;
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

}  // namespace

std::string DataFolder() {
  if (const char* dir = std::getenv("SELVANE_DATA_DIR"); dir && *dir) return dir;
  return EnvOr("XDG_STATE_HOME", HomeFolder() + "/.local/state") + "/Selvane";
}

std::string ScanLogRoot() { return DataFolder() + "/ScanLog"; }

std::string ConfigFolder() { return EnvOr("XDG_CONFIG_HOME", HomeFolder() + "/.config") + "/Selvane"; }

std::string SysfsRoot() { return EnvOr("SELVANE_SYSFS_ROOT", "/sys"); }

std::string DevRoot() { return EnvOr("SELVANE_DEV_ROOT", "/dev"); }

}  // namespace selvane
