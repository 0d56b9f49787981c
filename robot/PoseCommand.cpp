#include "PoseCommand.h"

#include <cstdio>

namespace kobito {

std::string FormatValue3(int32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%3.3d", static_cast<int>(value));
    return buf;
}

std::string BuildPoseCommand(const std::array<int32_t, 16>& values) {
    std::string cmd = "#P";
    for (int i = 0; i < 12; ++i) {
        char servo[8];
        std::snprintf(servo, sizeof servo, "S%2.2dA", i);
        cmd += servo;
        cmd += FormatValue3(values[static_cast<size_t>(i)]);
    }
    static constexpr char eyeAndTime[] = {'R', 'G', 'B', 'T'};
    for (int i = 0; i < 4; ++i) {
        cmd += eyeAndTime[i];
        cmd += FormatValue3(values[static_cast<size_t>(12 + i)]);
    }
    return cmd;
}

} // namespace kobito
