// A function compiled with -fstack-protector-strong, as the plug-in is.
#pragma once

#include <cstddef>

// Copies length bytes of text into a local buffer of 16 bytes.
int CopyIntoSmallBuffer(const char* text, size_t length);

// Reads the buffer, so the copy cannot be optimised away; defined elsewhere.
int Consume(const char* buffer);
