// The texts the plug-in composes for its own files (the call trace's lines,
// the comparison journal's records) and the paths its messages name, built
// piece by piece in a buffer of the
// caller's: always zero-terminated and never beyond the buffer. What does not
// fit is left out, and the builder remembers that something was.
#pragma once

#include <cstddef>
#include <cstdint>

struct TextBuilder {
    char* text;
    size_t size;  // the buffer's, its terminator's byte included
    size_t length = 0;
    bool cut = false;  // something did not fit

    constexpr TextBuilder(char* buffer, size_t buffer_size) : text(buffer), size(buffer_size) {
        if (size > 0)
            text[0] = 0;
    }

    // As printf formats it. Only integers and texts: no locale changes how
    // the C runtime writes those, where it would a floating-point number.
    void Add(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AddByte(char byte);
    // A code point in UTF-8.
    void AddUtf8(char32_t c);
    // A zero-terminated UTF-16 text in UTF-8, a surrogate pair as its one
    // character, a surrogate alone as U+FFFD.
    void AddUtf16(const wchar_t* text);
};

// How a Mazovia text is written: as the trace shows it (UTF-8, with a quote
// and a backslash escaped by a backslash, a line feed as \n and any other
// control byte as \xNN) or as a journal cell holds it (Windows-1250, a quote
// doubled, a control byte as a space).
enum class MazoviaStyle : uint8_t { kTrace, kJournalCell };

// Writes a Mazovia text, read up to its terminator and no further than limit
// bytes; returns the number of bytes read.
size_t AddMazovia(TextBuilder& out, const char* text, size_t limit, MazoviaStyle style);

// Writes a zero-terminated UTF-16 text in Mazovia, for a message to the host:
// a character the code page lacks, or a control character, as '?'.
void AddUtf16AsMazovia(TextBuilder& out, const wchar_t* text);
