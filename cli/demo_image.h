// The bundled sample disk image of "selvane demo": where it is (installed
// beside the program, or in the source tree of a build) and unpacking it.
#pragma once

#include <string>

#include "platform/result_codes.h"

namespace selvane::cli {

// Path of demo.img.xz, or "" when it cannot be found.
std::string FindDemoArchive();

// Unpacks an xz file; runs of zeros become holes. kReadFault when the
// archive is damaged.
ResultCode UnpackXz(const std::string& archive, const std::string& target);

}  // namespace selvane::cli
