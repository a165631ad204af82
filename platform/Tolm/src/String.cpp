#include <Tolm/String.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "Internal.h"

namespace Tolm {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendCodePoint(CUnicodeString::Storage& units, std::uint32_t codePoint) {
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        units.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
        units.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
        units.push_back(static_cast<char16_t>(codePoint));
    }
}

void appendUtf8(std::string& bytes, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        bytes.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        bytes.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        bytes.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        bytes.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        bytes.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        bytes.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        bytes.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        bytes.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        bytes.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        bytes.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

bool isBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t' || unit == u'\r' || unit == u'\n' || unit == u'\v' ||
           unit == u'\f' || unit == 0x00A0;
}

// The digit's value in any radix up to 36, or 36 for a unit that is no digit.
int digitValue(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') return unit - u'0';
    if (unit >= u'a' && unit <= u'z') return unit - u'a' + 10;
    if (unit >= u'A' && unit <= u'Z') return unit - u'A' + 10;
    return 36;
}

int clampFrom(int from) { return from < 0 ? 0 : from; }

}  // namespace

// --- CUnicodeSet ---

CUnicodeSet::CUnicodeSet(const char16_t* units) {
    if (!units) return;
    for (; *units; ++units) members_.set(*units);
}

void CUnicodeSet::Add(char16_t unit) { members_.set(unit); }

void CUnicodeSet::AddRange(char16_t first, char16_t last) {
    for (std::uint32_t unit = first; unit <= last; ++unit) members_.set(unit);
}

bool CUnicodeSet::Contains(char16_t unit) const noexcept { return members_.test(unit); }

// --- CUnicodeString ---

CUnicodeString::CUnicodeString(const char16_t* text) {
    if (text) units_.assign(text);
}

CUnicodeString::CUnicodeString(const char16_t* text, int count) {
    if (text && count > 0) units_.assign(text, static_cast<std::size_t>(count));
}

CUnicodeString::CUnicodeString(std::u16string_view text) : units_(text.data(), text.size()) {}

// Decodes with the "maximal subpart" rule: each maximal prefix of a valid
// sequence that cannot be completed becomes one U+FFFD, and decoding resumes at
// the byte that broke it. Overlong forms, surrogates and values past U+10FFFF
// are never valid.
CUnicodeString CUnicodeString::FromUtf8(std::string_view utf8) {
    CUnicodeString result;
    Storage& units = result.units_;
    units.reserve(utf8.size());
    std::size_t at = 0;
    const std::size_t size = utf8.size();
    while (at < size) {
        const auto lead = static_cast<unsigned char>(utf8[at]);
        if (lead < 0x80) {
            units.push_back(lead);
            ++at;
            continue;
        }
        int trailing = 0;
        std::uint32_t codePoint = 0;
        unsigned char low = 0x80, high = 0xBF;  // range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            trailing = 1;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trailing = 2;
            codePoint = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trailing = 3;
            codePoint = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            units.push_back(kReplacement);
            ++at;
            continue;
        }
        ++at;
        bool complete = true;
        for (int i = 0; i < trailing; ++i) {
            if (at >= size) {
                complete = false;
                break;
            }
            const auto next = static_cast<unsigned char>(utf8[at]);
            if (next < (i == 0 ? low : 0x80) || next > (i == 0 ? high : 0xBF)) {
                complete = false;
                break;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
            ++at;
        }
        if (complete)
            appendCodePoint(units, codePoint);
        else
            units.push_back(kReplacement);
    }
    return result;
}

std::string CUnicodeString::ToUtf8() const {
    std::string bytes;
    bytes.reserve(units_.size());
    const std::size_t size = units_.size();
    for (std::size_t at = 0; at < size; ++at) {
        std::uint32_t unit = units_[at];
        if (isHighSurrogate(unit) && at + 1 < size && isLowSurrogate(units_[at + 1])) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (units_[at + 1] - 0xDC00);
            ++at;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            unit = kReplacement;
        }
        appendUtf8(bytes, unit);
    }
    return bytes;
}

CUnicodeString CUnicodeString::FromWide(const wchar_t* text) {
    CUnicodeString result;
    if (!text) return result;
    if constexpr (sizeof(wchar_t) == 2) {
        for (; *text; ++text) result.units_.push_back(static_cast<char16_t>(*text));
    } else {
        for (; *text; ++text) {
            const auto codePoint = static_cast<std::uint32_t>(*text);
            if (codePoint > 0x10FFFF || isHighSurrogate(codePoint) || isLowSurrogate(codePoint))
                result.units_.push_back(kReplacement);
            else
                appendCodePoint(result.units_, codePoint);
        }
    }
    return result;
}

char16_t CUnicodeString::GetAt(int index) const {
    if (index < 0 || index >= GetLength()) {
        TOLM_REPORT_INTERNAL(u"string index out of range",
                             UnicodeStr(index) + u" of " + UnicodeStr(GetLength()));
        return 0;
    }
    return units_[static_cast<std::size_t>(index)];
}

CUnicodeString CUnicodeString::Mid(int first, int count) const {
    const int length = GetLength();
    first = clampFrom(first);
    if (count <= 0 || first >= length) return {};
    count = std::min(count, length - first);
    return CUnicodeString(units_.data() + first, count);
}

CUnicodeString CUnicodeString::Mid(int first) const {
    first = clampFrom(first);
    return Mid(first, GetLength() - std::min(first, GetLength()));
}

CUnicodeString CUnicodeString::Left(int count) const { return Mid(0, count); }

CUnicodeString CUnicodeString::Right(int count) const {
    const int length = GetLength();
    if (count <= 0) return {};
    if (count >= length) return *this;
    return Mid(length - count, count);
}

bool CUnicodeString::Value(int& value, int radix) const {
    if (radix < 2 || radix > 36) return false;
    std::size_t at = 0;
    const std::size_t size = units_.size();
    bool negative = false;
    if (at < size && (units_[at] == u'+' || units_[at] == u'-')) {
        negative = units_[at] == u'-';
        ++at;
    }
    if (at == size) return false;
    // Accumulated as a magnitude so that INT_MIN, whose magnitude exceeds
    // INT_MAX, reads back.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<int>::min())
                                        : std::numeric_limits<int>::max();
    std::int64_t magnitude = 0;
    for (; at < size; ++at) {
        const int digit = digitValue(units_[at]);
        if (digit >= radix) return false;
        magnitude = magnitude * radix + digit;
        if (magnitude > limit) return false;
    }
    value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

CUnicodeString& CUnicodeString::Trim() {
    std::size_t end = units_.size();
    while (end > 0 && isBlank(units_[end - 1])) --end;
    std::size_t begin = 0;
    while (begin < end && isBlank(units_[begin])) ++begin;
    units_.erase(end);
    units_.erase(0, begin);
    return *this;
}

CUnicodeString& CUnicodeString::MakeUpper() {
    for (char16_t& unit : units_) {
        if ((unit >= u'a' && unit <= u'z') || (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7))
            unit = static_cast<char16_t>(unit - 0x20);
        else if (unit == 0xFF)
            unit = 0x0178;  // the upper case of y with diaeresis lies outside Latin-1
    }
    return *this;
}

int CUnicodeString::FindOneOf(const CUnicodeSet& set, int from) const {
    const int length = GetLength();
    for (int at = clampFrom(from); at < length; ++at)
        if (set.Contains(units_[static_cast<std::size_t>(at)])) return at;
    return -1;
}

int CUnicodeString::Find(const CUnicodeString& text, int from) const {
    from = clampFrom(from);
    if (from > GetLength()) return -1;
    const std::size_t found =
        units_.find(text.units_.data(), static_cast<std::size_t>(from), text.units_.size());
    return found == Storage::npos ? -1 : static_cast<int>(found);
}

int CUnicodeString::ReplaceAll(const CUnicodeString& oldText, const CUnicodeString& newText) {
    if (oldText.IsEmpty()) return 0;
    // Built anew rather than in place: one pass, and oldText or newText may be
    // this very string.
    Storage result;
    int replaced = 0;
    std::size_t at = 0;
    const std::u16string_view from = oldText.View();
    const std::u16string_view to = newText.View();
    const std::u16string_view self = View();
    for (;;) {
        const std::size_t found = self.find(from, at);
        if (found == std::u16string_view::npos) break;
        result.append(self.data() + at, found - at);
        result.append(to.data(), to.size());
        at = found + from.size();
        ++replaced;
    }
    if (replaced == 0) return 0;
    result.append(self.data() + at, self.size() - at);
    units_.swap(result);
    return replaced;
}

int CUnicodeString::SpanIncludingLength(const CUnicodeSet& set, int from) const {
    const int length = GetLength();
    int at = clampFrom(from);
    const int start = at;
    while (at < length && set.Contains(units_[static_cast<std::size_t>(at)])) ++at;
    return at > start ? at - start : 0;
}

CUnicodeString& CUnicodeString::operator+=(const CUnicodeString& other) {
    units_.append(other.units_);
    return *this;
}

CUnicodeString& CUnicodeString::operator+=(const char16_t* other) {
    if (other) units_.append(other);
    return *this;
}

CUnicodeString& CUnicodeString::operator+=(char16_t unit) {
    units_.push_back(unit);
    return *this;
}

void CUnicodeString::SetBufferLength(int count) {
    units_.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
}

char16_t* CUnicodeString::GetBuffer() { return units_.data(); }

void CUnicodeString::ReleaseBuffer(int newLength) {
    if (newLength < 0) {
        const std::size_t zero = units_.find(char16_t{0});
        if (zero != Storage::npos) units_.resize(zero);
        return;
    }
    // A length past the buffer would expose units never written.
    if (static_cast<std::size_t>(newLength) < units_.size())
        units_.resize(static_cast<std::size_t>(newLength));
}

CUnicodeString operator+(const CUnicodeString& a, const CUnicodeString& b) {
    CUnicodeString result(a);
    result += b;
    return result;
}

CUnicodeString operator+(const char16_t* a, const CUnicodeString& b) {
    CUnicodeString result(a);
    result += b;
    return result;
}

CUnicodeString operator+(const CUnicodeString& a, const char16_t* b) {
    CUnicodeString result(a);
    result += b;
    return result;
}

CUnicodeString UnicodeStr(int value, int radix) {
    if (radix < 2 || radix > 36) radix = 10;
    // The magnitude in 64 bits: -INT_MIN does not fit an int.
    std::int64_t magnitude = value;
    if (magnitude < 0) magnitude = -magnitude;
    char16_t digits[40];
    int count = 0;
    do {
        const int digit = static_cast<int>(magnitude % radix);
        digits[count++] = static_cast<char16_t>(digit < 10 ? u'0' + digit : u'a' + digit - 10);
        magnitude /= radix;
    } while (magnitude > 0);
    if (value < 0) digits[count++] = u'-';
    std::reverse(digits, digits + count);
    return CUnicodeString(digits, count);
}

// --- CString ---

CString::CString(const char* text) {
    if (text) bytes_.assign(text);
}

CString::CString(const char* bytes, int count) {
    if (bytes && count > 0) bytes_.assign(bytes, static_cast<std::size_t>(count));
}

CString::CString(std::string_view bytes) : bytes_(bytes.data(), bytes.size()) {}

char CString::operator[](int index) const {
    if (index < 0 || index >= GetLength()) {
        TOLM_REPORT_INTERNAL(u"byte string index out of range",
                             UnicodeStr(index) + u" of " + UnicodeStr(GetLength()));
        return 0;
    }
    return bytes_[static_cast<std::size_t>(index)];
}

}  // namespace Tolm
