// The --device option of corvane-sim:
//   ADDRESS,MODEL[,build=N][,unit=C|F][,port=N][,family=N][,model=N][,flag=N][,name=TEXT]
#pragma once

#include <QString>
#include <optional>

#include "Device.h"

namespace devsim {

// nullopt with *error set when the text is not a valid device.
std::optional<DeviceConfig> parseDeviceOption(const QString& text, quint16 defaultPort,
                                              QString* error);

}  // namespace devsim
