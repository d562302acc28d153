// Tells when block devices arrive, go away or change their medium (a card put
// into a reader). The disk list rebuilds itself from these reports; waiting
// for a burst of them to settle is the caller's business.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace selvane {

enum class DeviceChange { Added, Removed, MediumChanged };

struct DeviceEvent {
  DeviceChange change = DeviceChange::Added;
  std::string name;     // kernel name: "sdb", "sdb1", "mmcblk0p1"
  bool isDisk = false;  // a whole disk rather than a partition
};

// Listens on the "block" subsystem through libudev: to udevd's reports when
// udevd runs, else to the kernel's own. A monitor that cannot start is
// inactive: it reports nothing and says why.
class DeviceMonitor {
 public:
  DeviceMonitor();
  ~DeviceMonitor();
  DeviceMonitor(const DeviceMonitor&) = delete;
  DeviceMonitor& operator=(const DeviceMonitor&) = delete;

  bool IsActive() const;
  // Why the monitor is inactive; empty when it is active.
  const std::string& error() const { return error_; }
  // Descriptor that becomes readable when events wait (for a poll loop or a
  // socket notifier); -1 when inactive.
  int fd() const;
  // Waits up to timeoutMs (0: not at all) for events and returns every event
  // that has arrived, in order.
  std::vector<DeviceEvent> Poll(int timeoutMs = 0);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string error_;
};

}  // namespace selvane
