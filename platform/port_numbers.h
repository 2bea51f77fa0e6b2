#pragma once
// How the console numbers ports: one block of 32 per kind of tty, then the virtual ports.
// The port list gives ports these numbers and opening a port number leads back to the node.

namespace ports {

inline constexpr int kPortsPerKind = 32;        // ttyS0-31, ttyUSB0-31, ttyACM0-31
inline constexpr int kFirstUartPort = 1;        // ttyS<n>   -> COM1 + n
inline constexpr int kFirstUsbSerialPort = 33;  // ttyUSB<n> -> COM33 + n
inline constexpr int kFirstAcmPort = 65;        // ttyACM<n> -> COM65 + n
inline constexpr int kFirstVirtualPort = 97;    // links COM97 .. COM127 in the ports folder
inline constexpr int kLastVirtualPort = 127;

}  // namespace ports
