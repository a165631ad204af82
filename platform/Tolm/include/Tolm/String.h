// Text of the framework.
//
// CUnicodeString is a counted sequence of UTF-16 code units (char16_t on every
// platform) with value semantics. Indexes and counts are in code units; a
// surrogate pair is two units and nothing here combines or splits it. Memory
// comes from doAlloc; short strings live inside the object.
//
// CString is a counted sequence of bytes, also with value semantics; it may
// hold any byte, zero included.
//
// CUnicodeSet is a set of code units, built from the units of a string:
// CUnicodeSet(u"+-").
//
// Objects are not shared between threads without external synchronisation;
// distinct objects may be used on distinct threads at once.
#pragma once

#include <Tolm/Memory.h>

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace Tolm {

class TOLM_API CUnicodeSet {
public:
    CUnicodeSet() = default;
    CUnicodeSet(const char16_t* units);  // every unit of the zero-terminated text
    void Add(char16_t unit);
    void AddRange(char16_t first, char16_t last);  // inclusive
    bool Contains(char16_t unit) const noexcept;

private:
    std::bitset<65536> members_;
};

class TOLM_API CUnicodeString {
public:
    using Storage = std::basic_string<char16_t, std::char_traits<char16_t>, CAllocator<char16_t>>;

    CUnicodeString() = default;
    CUnicodeString(const char16_t* text);             // zero-terminated; null gives empty
    CUnicodeString(const char16_t* text, int count);  // count units, zeros included
    CUnicodeString(std::u16string_view text);

    // UTF-8 conversions. Malformed UTF-8 sequences become U+FFFD; unpaired
    // surrogates are written as U+FFFD.
    static CUnicodeString FromUtf8(std::string_view utf8);
    std::string ToUtf8() const;
    // Text from a wide literal (wchar_t is 32-bit on POSIX, 16-bit on Windows).
    static CUnicodeString FromWide(const wchar_t* text);

    int GetLength() const noexcept { return static_cast<int>(units_.size()); }
    bool IsEmpty() const noexcept { return units_.empty(); }
    // A zero-terminated view of the units.
    const char16_t* GetString() const noexcept { return units_.c_str(); }
    std::u16string_view View() const noexcept { return {units_.data(), units_.size()}; }
    // Unit at index; an index outside 0..GetLength()-1 is an internal error.
    char16_t GetAt(int index) const;
    char16_t operator[](int index) const { return GetAt(index); }
    void Empty() noexcept { units_.clear(); }

    // Substrings. Out-of-range arguments are clamped: a negative first counts
    // as 0, a count running past the end stops at the end, a negative count
    // gives the empty string.
    CUnicodeString Mid(int first, int count) const;
    CUnicodeString Mid(int first) const;
    CUnicodeString Left(int count) const;
    CUnicodeString Right(int count) const;

    // True only when the whole text is a whole number in the radix (2..36): an
    // optional sign '+' or '-' then at least one digit, nothing else (no
    // blanks), and the value fits an int. Otherwise false and value unchanged.
    bool Value(int& value, int radix = 10) const;

    // Removes blanks (space, tab, CR, LF, VT, FF, U+00A0) from both ends.
    CUnicodeString& Trim();
    // Upper-cases ASCII letters a..z and Latin-1 letters; other units stay.
    CUnicodeString& MakeUpper();

    // Index of the first unit at or after from that belongs to the set, or -1.
    int FindOneOf(const CUnicodeSet& set, int from = 0) const;
    // Index of the first occurrence of text at or after from, or -1.
    int Find(const CUnicodeString& text, int from = 0) const;
    // Replaces every occurrence of oldText (non-empty) left to right; returns
    // how many were replaced.
    int ReplaceAll(const CUnicodeString& oldText, const CUnicodeString& newText);
    // How many units from `from` on belong to the set (stops at the first that
    // does not).
    int SpanIncludingLength(const CUnicodeSet& set, int from = 0) const;

    CUnicodeString& operator+=(const CUnicodeString& other);
    CUnicodeString& operator+=(const char16_t* other);
    CUnicodeString& operator+=(char16_t unit);
    friend bool operator==(const CUnicodeString& a, const CUnicodeString& b) noexcept {
        return a.units_ == b.units_;
    }
    friend bool operator==(const CUnicodeString& a, const char16_t* b) noexcept {
        return a.View() == std::u16string_view(b ? b : u"");
    }

    // Direct access to the units, as a classic buffer protocol:
    //   SetBufferLength(n) makes room for n units (content up to the old length
    //   kept, the rest zero) and GetBuffer() gives a writable pointer to them;
    //   ReleaseBuffer(-1) then sets the length to the units before the first
    //   zero unit (or n when there is none), ReleaseBuffer(k) to k.
    void SetBufferLength(int count);
    char16_t* GetBuffer();
    void ReleaseBuffer(int newLength = -1);

private:
    Storage units_;
};

TOLM_API CUnicodeString operator+(const CUnicodeString& a, const CUnicodeString& b);
TOLM_API CUnicodeString operator+(const char16_t* a, const CUnicodeString& b);
TOLM_API CUnicodeString operator+(const CUnicodeString& a, const char16_t* b);

// The number written in the radix (2..36), lower-case digits, '-' in front of
// a negative number: UnicodeStr(-42) is u"-42".
TOLM_API CUnicodeString UnicodeStr(int value, int radix = 10);

class TOLM_API CString {
public:
    using Storage = std::basic_string<char, std::char_traits<char>, CAllocator<char>>;

    CString() = default;
    CString(const char* text);              // zero-terminated; null gives empty
    CString(const char* bytes, int count);  // count bytes, zeros included
    CString(std::string_view bytes);

    int GetLength() const noexcept { return static_cast<int>(bytes_.size()); }
    bool IsEmpty() const noexcept { return bytes_.empty(); }
    const char* GetString() const noexcept { return bytes_.c_str(); }
    std::string_view View() const noexcept { return {bytes_.data(), bytes_.size()}; }
    char operator[](int index) const;  // outside 0..GetLength()-1: internal error

    friend bool operator==(const CString& a, const CString& b) noexcept { return a.bytes_ == b.bytes_; }

private:
    Storage bytes_;
};

}  // namespace Tolm
