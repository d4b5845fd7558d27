// Windows-1252 ("ANSI", Western European) code page: conversion between its
// single bytes and Unicode code points. Shared by every front end of the tool.
#ifndef CHARSET_CP1252_H
#define CHARSET_CP1252_H

#include <string>
#include <string_view>

// The code point of a byte. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) give the C1 control of the same value, so
// that every byte survives a round trip through Unicode.
char32_t Cp1252ToUnicode(unsigned char byte);

// The byte of a code point, or -1 when the code page has none.
int UnicodeToCp1252(char32_t codePoint);

// Whole strings; a code point the code page lacks becomes '?'.
std::u32string Cp1252ToUnicode(std::string_view bytes);
std::string UnicodeToCp1252(std::u32string_view text);

#endif
