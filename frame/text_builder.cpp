#include "frame/text_builder.h"

#include <cstdarg>
#include <cstdio>

#include "host/mazovia_text.h"

void TextBuilder::Add(const char* format, ...) {
    if (length + 1 >= size) {
        cut = cut || size != 0;
        return;
    }
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(text + length, size - length, format, args);
    va_end(args);
    if (written < 0)
        return;
    const size_t room = size - 1 - length;
    if (static_cast<size_t>(written) > room) {
        length += room;
        cut = true;
    } else {
        length += static_cast<size_t>(written);
    }
}

void TextBuilder::AddByte(char byte) {
    if (length + 1 >= size) {
        cut = cut || size != 0;
        return;
    }
    text[length++] = byte;
    text[length] = 0;
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

void TextBuilder::AddUtf16(const wchar_t* wide) {
    for (const wchar_t* at = wide; *at != 0; ++at) {
        char32_t c = static_cast<char16_t>(*at);
        if (c >= 0xD800 && c < 0xDC00 && at[1] >= 0xDC00 && at[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(at[1]) - 0xDC00);
            ++at;
        } else if (c >= 0xD800 && c < 0xE000) {
            // A surrogate without its pair (a system path may hold one) has
            // no form in UTF-8: the replacement character stands for it.
            c = 0xFFFD;
        }
        AddUtf8(c);
    }
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
    for (const wchar_t* at = text; *at != 0; ++at) {
        const char16_t c = static_cast<char16_t>(*at);
        // A character beyond the 16 bits, a surrogate pair, is one '?' too.
        if (c >= 0xD800 && c < 0xDC00 && at[1] >= 0xDC00 && at[1] < 0xE000)
            ++at;
        const int byte = c < 0x20 || c == 0x7F ? -1 : mazovia::FromCodePoint(c);
        out.AddByte(byte < 0 ? '?' : static_cast<char>(byte));
    }
}
