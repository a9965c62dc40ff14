// The stand-in host's own conversion of its Mazovia texts to Windows-1250, for
// HostConvertText.
#pragma once

#include <cstdint>

namespace veldan {

uint8_t MazoviaToWindows1250(uint8_t byte);

}  // namespace veldan
