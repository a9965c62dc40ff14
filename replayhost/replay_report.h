// How the replay shows what it found: numbers as the trace writes them, the
// name of an operation's parameter, and bytes side by side.
#pragma once

#include <cstdint>
#include <string>

namespace replay {

std::string Hex(uint32_t value);          // 8 digits
std::string Sequence(uint32_t sequence);  // 6 digits, as the trace numbers calls

// " (name)" of parameter index in a parameter list as written, "" past its end.
std::string ParameterName(const char* parameters, int index);

// The rows of 8 bytes in which recorded and seen differ (at most 12), each
// as hex and as text (Mazovia shown in UTF-8), recorded on the left.
std::string SideBySide(const uint8_t* recorded, const uint8_t* seen, uint32_t size);

}  // namespace replay
