#pragma once

#include <QString>

namespace Sockprobe {

// This computer's own address as the listener sees it: the first IPv4
// address of the first interface that is up and not loopback, else
// "127.0.0.1".
QString LocalIPAddress();

}  // namespace Sockprobe
