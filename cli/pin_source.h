// Where `enter-bootload` takes the Installer PIN from; never the command line, where other
// users and shell histories could read it.
#pragma once

#include <string>

// In order: the first line of pinFile (when given), the ZT_PIN environment variable, a prompt
// without echo on a terminal. False, with a message, when none gives a PIN of four digits.
bool readInstallerPin(const std::string& pinFile, std::string& pin, std::string& error);

// What a refused PIN gives, as enter-bootload and upgrade say it: the cause and the risk of a
// lock-out.
std::string refusedPinText();
