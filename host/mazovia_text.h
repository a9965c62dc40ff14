// The Mazovia code page, the host's Polish text encoding.
//
// Bytes 0x00-0x7F are ASCII; bytes 0x80-0xFF are code page 437 with eighteen
// positions given to the Polish letters. The plug-in's fixed texts are written
// readably in UTF-8 in the source and become Mazovia bytes at compile time
// through the _mz literal below, so a character the code page lacks is a
// compile error, not a wrong byte at run time. The tables themselves
// (kUpperHalf, kToWindows1250) are generated from the code page listing
// host/mazovia.txt into host/mazovia_tables.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/mazovia_tables.h"

namespace mazovia {

// The code point of a Mazovia byte.
constexpr char32_t ToCodePoint(unsigned char byte) {
    return byte < 0x80 ? byte : kUpperHalf[byte - 0x80];
}

// The Windows-1250 byte of a Mazovia byte; '?' where Windows-1250 lacks the
// character.
constexpr unsigned char ToWindows1250(unsigned char byte) {
    return byte < 0x80 ? byte : kToWindows1250[byte - 0x80];
}

// The Mazovia byte of a code point, or -1 when the code page lacks it.
constexpr int FromCodePoint(char32_t c) {
    if (c < 0x80)
        return static_cast<int>(c);
    for (int i = 0; i < 128; ++i)
        if (kUpperHalf[i] == c)
            return 0x80 + i;
    return -1;
}

// A UTF-8 string literal as a template argument.
template <size_t N>
struct Utf8Literal {
    char bytes[N];
    consteval Utf8Literal(const char (&s)[N]) {
        for (size_t i = 0; i < N; ++i)
            bytes[i] = s[i];
    }
};

// Called where a literal cannot be encoded. Neither is constexpr (nor
// defined): reaching one makes the literal fail to compile, with the
// function's name saying why.
void MalformedUtf8();
void CharacterNotInTheMazoviaCodePage();

// Decodes one UTF-8 sequence at position i, advancing i. Only ever evaluated
// inside Encode and EncodedLength, which are consteval: constexpr itself, as a
// consteval call that advances its caller's i is no constant expression of
// its own to every compiler (clang 14 refuses it).
template <size_t N>
constexpr char32_t DecodeUtf8(const Utf8Literal<N>& s, size_t& i) {
    const auto lead = static_cast<unsigned char>(s.bytes[i++]);
    if (lead < 0x80)
        return lead;
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0)
        MalformedUtf8();
    char32_t c = lead & (0x3F >> extra);
    while (extra-- > 0) {
        const auto next = static_cast<unsigned char>(s.bytes[i++]);
        if ((next & 0xC0) != 0x80)
            MalformedUtf8();
        c = (c << 6) | (next & 0x3F);
    }
    return c;
}

template <size_t N>
consteval size_t EncodedLength(const Utf8Literal<N>& s) {
    size_t i = 0, length = 0;
    while (i + 1 < N) {
        DecodeUtf8(s, i);
        ++length;
    }
    return length;
}

// A zero-terminated Mazovia text of Length bytes.
template <size_t Length>
struct Text {
    char bytes[Length + 1];
    constexpr const char* c_str() const { return bytes; }
    constexpr operator const char*() const { return bytes; }
    static constexpr size_t size() { return Length; }
};

template <Utf8Literal S>
consteval auto Encode() {
    Text<EncodedLength(S)> out{};
    size_t i = 0, o = 0;
    while (i + 1 < sizeof(S.bytes)) {
        const int b = FromCodePoint(DecodeUtf8(S, i));
        if (b < 0)
            CharacterNotInTheMazoviaCodePage();
        out.bytes[o++] = static_cast<char>(b);
    }
    out.bytes[o] = 0;
    return out;
}

template <Utf8Literal S>
inline constexpr auto kEncoded = Encode<S>();

}  // namespace mazovia

// "Błąd"_mz is the Mazovia text of "Błąd", with static storage.
template <mazovia::Utf8Literal S>
consteval const auto& operator""_mz() {
    return mazovia::kEncoded<S>;
}
