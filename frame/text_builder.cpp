#include "frame/text_builder.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/mazovia_text.h"

bool TextBuilder::Room(size_t more) {
    if (length < size && more < size - length)
        return true;
    if (first_size == 0)
        return false;
    size_t capacity = size != 0 ? size : first_size;
    while (capacity - 1 < length + more) {
        if (capacity > SIZE_MAX / 2) {
            cut = true;
            return false;
        }
        capacity *= 2;
    }
    char* const grown = static_cast<char*>(std::realloc(text, capacity));
    if (grown == nullptr) {
        cut = true;
        return false;
    }
    text = grown;
    size = capacity;
    text[length] = 0;
    return true;
}

void TextBuilder::Add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    for (;;) {
        const size_t room = size > length ? size - length : 0;
        va_list copy;
        va_copy(copy, args);
        const int written = room > 0 ? std::vsnprintf(text + length, room, format, copy)
                                     : std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (written < 0)
            break;
        if (static_cast<size_t>(written) < room) {
            length += static_cast<size_t>(written);
            break;
        }
        // The growing form makes room and writes it again; a buffer of the
        // caller's keeps what fitted.
        if (first_size != 0 && Room(static_cast<size_t>(written)))
            continue;
        cut = true;
        if (room > 0)
            length = size - 1;
        break;
    }
    va_end(args);
}

void TextBuilder::AddBytes(const char* bytes, size_t count) {
    if (count == 0)
        return;
    if (!Room(count)) {
        cut = true;
        // A record that could not grow is incomplete whatever follows; a
        // buffer of the caller's keeps what fits.
        count = first_size == 0 && size > length + 1 ? size - 1 - length : 0;
        if (count == 0)
            return;
    }
    std::memcpy(text + length, bytes, count);
    length += count;
    text[length] = 0;
}

void TextBuilder::AddByte(char byte) {
    AddBytes(&byte, 1);
}

void TextBuilder::AddText(const char* piece, size_t limit) {
    size_t count = 0;
    while (count < limit && piece[count] != 0)
        ++count;
    AddBytes(piece, count);
}

void TextBuilder::AddPattern(const char* pattern, const char* value, size_t limit) {
    const char* const mark = std::strstr(pattern, "%s");
    if (mark == nullptr) {
        AddText(pattern, SIZE_MAX);
        return;
    }
    AddBytes(pattern, static_cast<size_t>(mark - pattern));
    AddText(value, limit);
    AddText(mark + 2, SIZE_MAX);
}

void TextBuilder::AddHex(uint32_t value, int digits) {
    char hex[8];
    if (digits > 8)
        digits = 8;
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        hex[i] = "0123456789ABCDEF"[value & 15];
    AddBytes(hex, static_cast<size_t>(digits));
}

void TextBuilder::AddDecimal(uint32_t value, int least_digits) {
    char decimal[12];
    int at = sizeof decimal;
    do {
        decimal[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (at > 0 && (value != 0 || static_cast<int>(sizeof decimal) - at < least_digits));
    AddBytes(decimal + at, sizeof decimal - static_cast<size_t>(at));
}

void TextBuilder::Insert(size_t at, const char* bytes, size_t count) {
    if (at > length || count == 0)
        return;
    if (!Room(count)) {
        cut = true;
        return;
    }
    std::memmove(text + at + count, text + at, length - at);
    std::memcpy(text + at, bytes, count);
    length += count;
    text[length] = 0;
}

void TextBuilder::Truncate(size_t earlier) {
    if (earlier >= length)
        return;
    length = earlier;
    text[length] = 0;
}

void TextBuilder::Clear() {
    length = 0;
    cut = false;
    if (size > 0)
        text[0] = 0;
}

void TextBuilder::Release() {
    if (first_size != 0) {
        std::free(text);
        text = nullptr;
        size = 0;
    }
    Clear();
}

void TextBuilder::AddUtf8(char32_t c) {
    if (c < 0x80) {
        AddByte(static_cast<char>(c));
    } else if (c < 0x800) {
        Add("%c%c", 0xC0 | (c >> 6), 0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        Add("%c%c%c", 0xE0 | (c >> 12), 0x80 | ((c >> 6) & 0x3F), 0x80 | (c & 0x3F));
    } else {
        Add("%c%c%c%c", 0xF0 | (c >> 18), 0x80 | ((c >> 12) & 0x3F), 0x80 | ((c >> 6) & 0x3F),
            0x80 | (c & 0x3F));
    }
}

namespace {

// The next character of a UTF-16 text, at moved past it: a surrogate pair is
// its one character; a surrogate without its pair (a system path may hold
// one) has no form in UTF-8 or Mazovia, and the replacement character stands
// for it.
char32_t NextCodePoint(const wchar_t*& at) {
    const char32_t c = static_cast<char16_t>(*at++);
    if (c >= 0xD800 && c < 0xDC00 && *at >= 0xDC00 && *at < 0xE000)
        return 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(*at++) - 0xDC00);
    return c >= 0xD800 && c < 0xE000 ? 0xFFFD : c;
}

}  // namespace

void TextBuilder::AddUtf16(const wchar_t* wide) {
    for (const wchar_t* at = wide; *at != 0;)
        AddUtf8(NextCodePoint(at));
}

size_t AddMazovia(TextBuilder& out, const char* text, size_t limit, MazoviaStyle style) {
    size_t i = 0;
    for (; i < limit && text[i] != 0; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool control = byte < 0x20 || byte == 0x7F;
        if (style == MazoviaStyle::kJournalCell) {
            const unsigned char cell = control ? ' ' : mazovia::ToWindows1250(byte);
            if (cell == '"')
                out.AddByte('"');
            out.AddByte(static_cast<char>(cell));
        } else if (byte == '"' || byte == '\\') {
            out.Add("\\%c", byte);
        } else if (byte == '\n') {
            out.Add("\\n");
        } else if (control) {
            out.Add("\\x%02X", byte);
        } else {
            out.AddUtf8(mazovia::ToCodePoint(byte));
        }
    }
    return i;
}

void AddUtf16AsMazovia(TextBuilder& out, const wchar_t* text) {
    for (const wchar_t* at = text; *at != 0;) {
        // A character beyond the 16 bits, or one Mazovia lacks, is one '?'.
        const char32_t c = NextCodePoint(at);
        const int byte = c < 0x20 || c == 0x7F ? -1 : mazovia::FromCodePoint(c);
        out.AddByte(byte < 0 ? '?' : static_cast<char>(byte));
    }
}
