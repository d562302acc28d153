#include "platform/device_monitor.h"

#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace selvane {

struct DeviceMonitor::Impl {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~Impl() {
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
  }
};

namespace {

// udevd re-broadcasts the kernel's events once it has processed them; without
// it only the kernel's raw events exist.
bool UdevdRuns() { return ::access("/run/udev/control", F_OK) == 0; }

}  // namespace

DeviceMonitor::DeviceMonitor() : impl_(std::make_unique<Impl>()) {
  impl_->context = udev_new();
  if (!impl_->context) {
    error_ = "libudev is not available";
    impl_.reset();
    return;
  }
  impl_->monitor = udev_monitor_new_from_netlink(impl_->context, UdevdRuns() ? "udev" : "kernel");
  if (!impl_->monitor) {
    error_ = "cannot listen for device events";
    impl_.reset();
    return;
  }
  if (udev_monitor_filter_add_match_subsystem_devtype(impl_->monitor, "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(impl_->monitor) < 0) {
    error_ = std::string("cannot listen for device events: ") + std::strerror(errno);
    impl_.reset();
    return;
  }
}

DeviceMonitor::~DeviceMonitor() = default;

bool DeviceMonitor::IsActive() const { return impl_ != nullptr; }

int DeviceMonitor::fd() const { return impl_ ? udev_monitor_get_fd(impl_->monitor) : -1; }

std::vector<DeviceEvent> DeviceMonitor::Poll(int timeoutMs) {
  std::vector<DeviceEvent> events;
  if (!impl_) return events;
  pollfd waiter{fd(), POLLIN, 0};
  int timeout = timeoutMs;
  while (::poll(&waiter, 1, timeout) > 0 && (waiter.revents & POLLIN)) {
    timeout = 0;  // once something arrived, take what is queued and return
    udev_device* device = udev_monitor_receive_device(impl_->monitor);
    if (!device) continue;
    const char* action = udev_device_get_action(device);
    const char* name = udev_device_get_sysname(device);
    const char* type = udev_device_get_devtype(device);
    // The kernel's own events are not filtered by the socket; check here.
    const char* subsystem = udev_device_get_subsystem(device);
    if (action && name && subsystem && std::strcmp(subsystem, "block") == 0) {
      DeviceEvent event;
      event.name = name;
      event.isDisk = type && std::strcmp(type, "disk") == 0;
      bool report = true;
      if (std::strcmp(action, "add") == 0)
        event.change = DeviceChange::Added;
      else if (std::strcmp(action, "remove") == 0)
        event.change = DeviceChange::Removed;
      else if (std::strcmp(action, "change") == 0 && event.isDisk)
        event.change = DeviceChange::MediumChanged;
      else
        report = false;
      if (report) events.push_back(std::move(event));
    }
    udev_device_unref(device);
  }
  return events;
}

}  // namespace selvane
