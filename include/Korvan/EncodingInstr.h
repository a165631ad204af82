// PDF text strings: conversion between the framework's UTF-16 strings and the
// bytes of a PDF text string, which are either single bytes or UTF-16BE opened
// by the byte-order mark FE FF.
//
// The library's own single-byte rule replaces the PDFDocEncoding table: text
// whose every code unit is below U+0080 is written one byte per unit;
// anything else is written as UTF-16BE. Read back, every single byte becomes
// the character of the same number (ISO 8859-1 identity). A U+0000 comes back
// as U+0020. Surrogate pairs pass through as two units, never combined.
//
// The functions keep no state; they touch only their arguments and may run on
// any number of threads at once, as long as nobody changes the same string or
// array meanwhile. Results of up to 32 bytes stay inside the array object.
#pragma once

#include <Korvan/ByteArray.h>
#include <Korvan/Export.h>

#include <Tolm/Array.h>
#include <Tolm/String.h>

namespace Korvan {

// True when some code unit is U+0080 or above; false for empty text.
//   u"abc" -> false,  u"caf\u00E9" -> true
KORVAN_API bool IsReallyUnicode(const Tolm::CUnicodeString& text);

// Replaces the content of output (its capacity stays) with the bytes of text;
// answers true when they are the UTF-16BE form with its mark.
//   u"abc", false      -> 61 62 63, false
//   u"abc", true       -> FE FF 00 61 00 62 00 63, true
//   u"\u00E9", false   -> FE FF 00 E9, true
//   u"", either        -> empty, false (never a lone mark)
KORVAN_API bool UnicodeStringToBytes(const Tolm::CUnicodeString& text, bool forceUnicode, CByteArray& output);

// Decodes the bytes of a PDF text string. Never fails: a trailing odd byte of
// the UTF-16BE form is dropped, and a zero byte or unit becomes a space.
//   FE FF 00 41 00  -> u"A"
//   FF FE 41 00     -> u"\u00FF\u00FEA "   (no little-endian mark)
//   41 00 42        -> u"A B"
KORVAN_API Tolm::CUnicodeString BytesToUnicodeString(const CByteArray& bytes);

}  // namespace Korvan
