// Byte instruments: ordering of byte arrays, forward and backward search of a
// byte pattern in a buffer, and copying of one framework file into another.
//
// The functions keep no state and own nothing: buffers, arrays and files stay
// the caller's. Any thread may call them at once; CopyStream moves the
// positions of both files, which nobody else may use while it runs.
//
// An empty pattern, or files of different lengths after a copy, is a broken
// precondition reported through the framework's internal-error report
// (Tolm/Error.h); should the report return, the scans answer -1 without
// reading the buffer and the copy stays as written.
#pragma once

#include <Korvan/ByteArray.h>
#include <Korvan/Export.h>

#include <Tolm/Array.h>
#include <Tolm/File.h>
#include <Tolm/String.h>

namespace Korvan {

// Orders two byte arrays by their first differing byte, compared unsigned;
// when one is a prefix of the other, the answer is the difference of the
// counts (not clamped):
//   {1, 2} vs {1, 2, 3}   -> -1
//   {1, 2, 3, 4} vs {1, 2} -> 2
//   {1} vs {2, 0, 0}      -> -1
//   {0x80} vs {0x7F}      -> 1
KORVAN_API int Compare(const CByteArray& left, const CByteArray& right);

// Both scans take time linear in the bytes searched plus the pattern's length,
// whatever the data (a long run of zeros around one other byte included), and
// allocate nothing.

// Offset of the first occurrence of pattern that lies wholly within bytes
// 0 .. length - 1 of buffer, or -1. Reads no byte at or beyond length.
//   ScanTo("abcabc", 6, "bc") -> 1
//   ScanTo("abcabc", 2, "bc") -> -1   (the match would end at byte 2)
// A pattern longer than length gives -1 without reading the buffer.
KORVAN_API int ScanTo(const char* buffer, int length, const Tolm::CString& pattern);

// Offset of the last occurrence of pattern that lies wholly within bytes
// 0 .. position of buffer (position is inclusive: to search n bytes, pass
// n - 1), or -1.
//   ScanBackTo("abcabc", 5, "bc") -> 4
//   ScanBackTo("abcabc", 4, "bc") -> 1
//   ScanBackTo("abx", 2, "ab")    -> 0
// A negative position gives -1 without reading the buffer.
KORVAN_API int ScanBackTo(const char* buffer, int position, const Tolm::CString& pattern);

// Copies the whole of source over the start of destination in blocks of 4096
// bytes, then reports a broken precondition if the two lengths differ (for
// instance when destination was longer: its tail stays). Both files are left
// positioned at the number of bytes copied. Framework failures pass through;
// destination then keeps what was written so far. Lengths are 64-bit.
KORVAN_API void CopyStream(Tolm::CBaseFile& source, Tolm::CBaseFile& destination);

}  // namespace Korvan
