// The document file's texts: UTF-8 in the file, Mazovia bytes in the host's
// records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace document_file {

// A code point as UTF-8, appended to out.
void AppendUtf8(std::string& out, char32_t c);

// Mazovia bytes (up to the first zero or n bytes) as UTF-8.
std::string MazoviaToUtf8(const char* text, size_t n);

// UTF-8 as Mazovia bytes. False for a character that the code page lacks or
// the character 0: its code point in code and the character as UTF-8 in
// character. The text is well-formed UTF-8 (the whole file is checked first).
bool Utf8ToMazovia(const std::string& utf8, std::string& mazovia, uint32_t& code,
                   std::string& character);

// The first byte that breaks UTF-8, or npos.
size_t BadUtf8(const std::string& text);

}  // namespace document_file
