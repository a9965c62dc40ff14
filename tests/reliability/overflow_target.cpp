// Built with the plug-in's stack protection: a function that copies as much
// as it is told into a buffer of 16 bytes, so that a test can damage its
// canary on purpose.
#include "overflow_target.h"

#include <cstring>

int CopyIntoSmallBuffer(const char* text, size_t length) {
    char buffer[16];
    memcpy(buffer, text, length);
    return Consume(buffer);
}
