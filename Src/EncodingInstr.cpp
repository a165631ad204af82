#include <Korvan/EncodingInstr.h>

#include "Report.h"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace Korvan {
namespace {

constexpr unsigned char kMarkHigh = 0xFE;
constexpr unsigned char kMarkLow = 0xFF;
// Any of these bits set puts a unit outside the single-byte form.
constexpr char16_t kAboveSingleByte = 0xFF80;

// A zero byte or unit would end the string early in many readers: it is read
// as a space.
inline char16_t readableUnit(unsigned value) { return value == 0 ? u' ' : static_cast<char16_t>(value); }

}  // namespace

bool IsReallyUnicode(const Tolm::CUnicodeString& text) {
    const std::u16string_view units = text.View();
    std::size_t at = 0;
    // Blocks of sixteen units OR-ed together: branch-free inside, so the
    // compiler can test a block in a few vector instructions.
    constexpr std::size_t kBlock = 16;
    for (; at + kBlock <= units.size(); at += kBlock) {
        char16_t any = 0;
        for (std::size_t i = 0; i < kBlock; ++i) any = static_cast<char16_t>(any | units[at + i]);
        if ((any & kAboveSingleByte) != 0) return true;
    }
    for (; at < units.size(); ++at) {
        if ((units[at] & kAboveSingleByte) != 0) return true;
    }
    return false;
}

bool UnicodeStringToBytes(const Tolm::CUnicodeString& text, bool forceUnicode, CByteArray& output) {
    output.SetSize(0);
    const std::u16string_view units = text.View();
    if (units.empty()) return false;

    if (!forceUnicode && !IsReallyUnicode(text)) {
        output.SetSize(static_cast<int>(units.size()));
        unsigned char* out = output.GetData();
        for (const char16_t unit : units) *out++ = static_cast<unsigned char>(unit);
        return false;
    }

    // The array counts in int: a text of more than about 2^30 units has no
    // UTF-16BE form that fits it.
    const std::int64_t byteCount = 2 + 2 * static_cast<std::int64_t>(units.size());
    if (byteCount > std::numeric_limits<int>::max()) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return false;
    }
    output.SetSize(static_cast<int>(byteCount));
    unsigned char* out = output.GetData();
    *out++ = kMarkHigh;
    *out++ = kMarkLow;
    for (const char16_t unit : units) {
        *out++ = static_cast<unsigned char>(unit >> 8);
        *out++ = static_cast<unsigned char>(unit & 0xFF);
    }
    return true;
}

Tolm::CUnicodeString BytesToUnicodeString(const CByteArray& bytes) {
    Tolm::CUnicodeString text;
    const int count = bytes.GetSize();
    if (count == 0) return text;
    const unsigned char* in = bytes.GetData();
    if (count == 1) {
        const char16_t unit = readableUnit(in[0]);
        return Tolm::CUnicodeString(&unit, 1);
    }
    if (count < 2) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return text;
    }

    // Sized once to the longest possible result, filled in place, then cut
    // to what was produced.
    text.SetBufferLength(count);
    char16_t* out = text.GetBuffer();
    int produced = 0;
    if (in[0] == kMarkHigh && in[1] == kMarkLow) {
        // Pairs from byte 2 on, high byte first; a trailing odd byte is dropped.
        for (int i = 2; i < count - 1; i += 2)
            out[produced++] = readableUnit((unsigned{in[i]} << 8) | in[i + 1]);
    } else {
        for (int i = 0; i < count; ++i) out[produced++] = readableUnit(in[i]);
    }
    text.ReleaseBuffer(produced);
    return text;
}

}  // namespace Korvan
