#pragma once

#include <string>

namespace pagewren {

// Something a scanner reported on its own: paper jam, device removed, ... Event is a
// twain::TwnDeviceEvent value; A, B and C carry the event's values where it has any.
struct DeviceEvent {
    int Event = 0;
    std::string DeviceName;
    int A = 0;
    int B = 0;
    int C = 0;
};

} // namespace pagewren
