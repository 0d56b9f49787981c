#pragma once
#include <string>
#include <vector>

namespace kobito {

// The machine's serial ports in the system's order. Windows: the port names
// of the registry's serial-port map (COM3 ...). Linux: the tty devices with
// real hardware behind them, in natural name order (/dev/ttyACM0,
// /dev/ttyS0, /dev/ttyUSB0 ...), without the legacy ttyS ports that have no
// UART behind them.
std::vector<std::string> SerialPortNames();

// Natural order: digit runs compare by value ("ttyS2" before "ttyS10").
bool NaturalLess(const std::string& a, const std::string& b);

} // namespace kobito
