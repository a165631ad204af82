// Fuzzes the decoding of PDF text strings and checks the round trip of text
// through its bytes.
//
// Input: the bytes are decoded as a PDF text string (single bytes, or UTF-16BE
// behind FE FF). The same bytes are then taken as UTF-16BE code units (an odd
// last byte dropped) and, with U+0000 turned into U+0020 as the decoder does,
// written to bytes and read back, once in the shortest form and once forced
// to UTF-16BE; the text must come back unchanged.
//
// Reports of broken preconditions throw and are not caught: these functions
// are documented never to fail, so any report is a finding.
#include "FuzzSupport.h"

#include <Korvan/EncodingInstr.h>
#include <Tolm/String.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void checkRoundTrip(const Tolm::CUnicodeString& text, bool forceUnicode) {
    Korvan::CByteArray bytes;
    const bool wide = Korvan::UnicodeStringToBytes(text, forceUnicode, bytes);
    FUZZ_CHECK(wide == (!text.IsEmpty() && (forceUnicode || Korvan::IsReallyUnicode(text))),
               "length %d, forced %d: wide answer %d", text.GetLength(), forceUnicode, wide);
    const Tolm::CUnicodeString back = Korvan::BytesToUnicodeString(bytes);
    FUZZ_CHECK(back == text, "length %d, forced %d: %d units came back from %d bytes", text.GetLength(),
               forceUnicode, back.GetLength(), bytes.GetSize());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::ThrowingReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16) return 0;
    const int count = static_cast<int>(size);

    Korvan::CByteArray bytes;
    bytes.Append(data, count);
    const Tolm::CUnicodeString decoded = Korvan::BytesToUnicodeString(bytes);
    const bool marked = count >= 2 && data[0] == 0xFE && data[1] == 0xFF;
    FUZZ_CHECK(decoded.GetLength() == (marked ? (count - 2) / 2 : count), "%d bytes gave %d units", count,
               decoded.GetLength());
    for (int i = 0; i < decoded.GetLength(); ++i)
        FUZZ_CHECK(decoded[i] != 0, "U+0000 at %d of %d decoded units", i, decoded.GetLength());
    checkRoundTrip(decoded, false);
    checkRoundTrip(decoded, true);

    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = static_cast<char16_t>(data[2 * i] << 8 | data[2 * i + 1]);
        units[i] = unit == 0 ? u' ' : unit;
    }
    const Tolm::CUnicodeString text{std::u16string_view(units)};
    checkRoundTrip(text, false);
    checkRoundTrip(text, true);
    return 0;
}
