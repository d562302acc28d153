// Per-user folders and the roots of the system trees the program reads.
#pragma once

#include <string>

namespace selvane {

// Folder that holds the program's state: $SELVANE_DATA_DIR when set, else
// $XDG_STATE_HOME/Selvane (default ~/.local/state/Selvane). Not created here.
std::string DataFolder();

// Folder of the scan logs and the scan history: DataFolder() + "/ScanLog".
std::string ScanLogRoot();

// Folder of the user's settings: $XDG_CONFIG_HOME/Selvane (default ~/.config/Selvane).
std::string ConfigFolder();

// Root of the sysfs tree ($SELVANE_SYSFS_ROOT, default "/sys") and of the device
// nodes ($SELVANE_DEV_ROOT, default "/dev"). Tests point both at fake trees.
std::string SysfsRoot();
std::string DevRoot();

}  // namespace selvane
