// Copies of host texts that stay inside their buffers.
//
// A host text field is meant to end in a zero byte, but a record read from the
// host's files may fill its field to the last byte. Every text the plug-in takes
// from a record is therefore read no further than the field's documented
// length, and every copy it makes is terminated.
#pragma once

#include <cstddef>
#include <cstring>

// Length of text, reading at most max bytes of it.
inline size_t BoundedLength(const char* text, size_t max) {
    size_t length = 0;
    while (length < max && text[length] != 0)
        ++length;
    return length;
}

// Copies at most max characters of source to dest and terminates the copy;
// dest holds at least max + 1 bytes. Returns the number of characters copied.
inline size_t BoundedCopy(char* dest, const char* source, size_t max) {
    const size_t length = BoundedLength(source, max);
    std::memmove(dest, source, length);
    dest[length] = 0;
    return length;
}
