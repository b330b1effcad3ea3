// Pseudo-terminal pair (Windows): there are none; tests that need one skip.
#include "platform/pseudo_terminal.h"

namespace platform {

PseudoTerminal::~PseudoTerminal() = default;

bool PseudoTerminal::open() { return false; }

uint32_t PseudoTerminal::readFar(uint8_t*, uint32_t, uint32_t) { return 0; }

bool PseudoTerminal::writeFar(const uint8_t*, uint32_t) { return false; }

void PseudoTerminal::closeFar() {}

bool PseudoTerminal::nearSettings(SerialLineSettings&) const { return false; }

bool PseudoTerminal::setNearFlowControl(bool, bool) { return false; }

bool PseudoTerminal::markNearExclusive() { return false; }

}  // namespace platform
