// The stand-in host's own conversions of its Mazovia texts: to Windows-1250 for
// HostConvertText, and to and from UTF-8 for the document file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veldan {

uint8_t MazoviaToWindows1250(uint8_t byte);

// Mazovia bytes (up to the first zero or n bytes) as UTF-8.
std::string MazoviaToUtf8(const char* text, size_t n);

// UTF-8 as Mazovia bytes. False with a reason in error for malformed UTF-8 or a
// character that the code page lacks.
bool Utf8ToMazovia(const std::string& utf8, std::string& mazovia, std::string& error);

}  // namespace veldan
