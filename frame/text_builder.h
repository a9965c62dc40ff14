// The one way the plug-in composes a text: the call trace's lines, the
// recording's, the comparison journal's records, the refusal report and the
// paths its messages name, built piece by piece, always zero-terminated and
// never beyond the room there is. What does not fit is left out, and the
// builder remembers that something was (cut).
//
// Two forms. A buffer of the caller's, of a size fixed beforehand; or, for a
// record whose length nothing bounds beforehand (a boundary of the
// recording, a comparison's journal record), the growing form: a block of
// the C runtime's heap, first of the size given and doubled whenever a piece
// would not fit, given back by Release. Only there is a text cut short, when
// the heap cannot give more.
//
// Only integers and texts are formatted: no locale changes how the C runtime
// writes those, where it would a floating-point number.
#pragma once

#include <cstddef>
#include <cstdint>

struct TextBuilder {
    char* text;
    size_t size;  // the buffer's, its terminator's byte included
    size_t length = 0;
    bool cut = false;       // something did not fit
    size_t first_size = 0;  // the growing form's first block; 0 for a buffer of the caller's

    constexpr TextBuilder(char* buffer, size_t buffer_size) : text(buffer), size(buffer_size) {
        if (size > 0)
            text[0] = 0;
    }

    // The growing form, empty (text null) until its first piece.
    static constexpr TextBuilder Growing(size_t first_block) {
        TextBuilder growing(nullptr, 0);
        growing.first_size = first_block;
        return growing;
    }

    // As printf formats it.
    void Add(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AddByte(char byte);
    // count bytes as they are.
    void AddBytes(const char* bytes, size_t count);
    // A text up to its terminator, no more than limit bytes of it.
    void AddText(const char* text, size_t limit);
    // A pattern with one "%s", filled with value read as AddText reads it.
    void AddPattern(const char* pattern, const char* value, size_t limit);
    // Upper-case hexadecimal of exactly digits digits (at most 8), and
    // decimal of at least least_digits digits, zeros in front.
    void AddHex(uint32_t value, int digits);
    void AddDecimal(uint32_t value, int least_digits = 1);
    // A code point in UTF-8.
    void AddUtf8(char32_t c);
    // A zero-terminated UTF-16 text in UTF-8, a surrogate pair as its one
    // character, a surrogate alone as U+FFFD.
    void AddUtf16(const wchar_t* text);

    // Whether more bytes fit beside the terminator; the growing form grows
    // first, and says false (cut) only when the heap cannot give the room.
    bool Room(size_t more);
    // count bytes put in at an earlier length, what follows moved behind
    // them; nothing when they do not fit.
    void Insert(size_t at, const char* bytes, size_t count);
    // Back to an earlier length: what was added since is dropped.
    void Truncate(size_t earlier);
    // Empty, for the next text; the growing form keeps its block.
    void Clear();
    // The growing form's block given back; the builder is empty again.
    void Release();
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
