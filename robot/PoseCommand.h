#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace kobito {

// "%3.3d": at least three digits, zero-padded; the sign counts apart ("-005").
std::string FormatValue3(int32_t value);

// "#P" + twelve "Snn" "A" fields + R, G, B, T fields.
std::string BuildPoseCommand(const std::array<int32_t, 16>& values);

} // namespace kobito
