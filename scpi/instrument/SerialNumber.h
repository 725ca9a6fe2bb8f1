#pragma once

#include <string>
#include <string_view>

// The instrument's serial number: unique to the computer and the same at
// every start, yet telling nothing of the machine id it comes from (the
// first 12 hex digits of a SHA-256 of it, salted with the program's name).
class SerialNumber {
public:
    // From a machine id's text (its trailing newline ignored).
    static std::string FromMachineId(std::string_view machineId);
    // From the file that holds this computer's id; "" when it cannot be read.
    static std::string OfThisComputer(const char* machineIdFile = "/etc/machine-id");
    // Whether a serial given by hand fits *IDN? and the TXT records:
    // 1 to 32 printable characters, no comma, quote or space.
    static bool Acceptable(std::string_view serial);
    // SHA-256 of `bytes`, in lower-case hex.
    static std::string Sha256Hex(std::string_view bytes);
};
