#include <Unicode/Unicode.h>

#include <array>

namespace Unicode {
namespace {

// The digit zero of every run of ten decimal digits (general category Nd) in
// the Basic Multilingual Plane; each run is zero..zero+9. Supplementary-plane
// digits cannot be members: the set holds single UTF-16 code units.
constexpr std::array<char16_t, 37> kDigitZeros = {
    0x0030,  // ASCII
    0x0660,  // Arabic-Indic
    0x06F0,  // Extended Arabic-Indic
    0x07C0,  // NKo
    0x0966,  // Devanagari
    0x09E6,  // Bengali
    0x0A66,  // Gurmukhi
    0x0AE6,  // Gujarati
    0x0B66,  // Oriya
    0x0BE6,  // Tamil
    0x0C66,  // Telugu
    0x0CE6,  // Kannada
    0x0D66,  // Malayalam
    0x0DE6,  // Sinhala Lith
    0x0E50,  // Thai
    0x0ED0,  // Lao
    0x0F20,  // Tibetan
    0x1040,  // Myanmar
    0x1090,  // Myanmar Shan
    0x17E0,  // Khmer
    0x1810,  // Mongolian
    0x1946,  // Limbu
    0x19D0,  // New Tai Lue
    0x1A80,  // Tai Tham Hora
    0x1A90,  // Tai Tham Tham
    0x1B50,  // Balinese
    0x1BB0,  // Sundanese
    0x1C40,  // Lepcha
    0x1C50,  // Ol Chiki
    0xA620,  // Vai
    0xA8D0,  // Saurashtra
    0xA900,  // Kayah Li
    0xA9D0,  // Javanese
    0xA9F0,  // Myanmar Tai Laing
    0xAA50,  // Cham
    0xABF0,  // Meetei Mayek
    0xFF10,  // Fullwidth
};

Tolm::CUnicodeSet buildDigits() {
    Tolm::CUnicodeSet digits;
    for (const char16_t zero : kDigitZeros) digits.AddRange(zero, static_cast<char16_t>(zero + 9));
    return digits;
}

}  // namespace

const Tolm::CUnicodeSet& GetDigits() {
    // Built on first use; the language guarantees one thread builds it while
    // others wait. The set lives in static storage and needs no teardown.
    static const Tolm::CUnicodeSet digits = buildDigits();
    return digits;
}

}  // namespace Unicode
