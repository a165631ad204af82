// Fuzzes the PDF and ISO date reader, and checks that every date the writers
// produce reads back as the same time.
//
// Input: the whole input is read as a date twice, once with every byte a
// Latin-1 code unit and once as UTF-8. Its first 12 bytes (zero-padded) also
// choose the fields of a time and a zone offset for the round trip. The zone
// is fixed for the duration of each input, so results never depend on the
// machine's zone.
//
// Reports of broken preconditions throw and are not caught: the reader is
// documented never to fail, so any report is a finding.
#include "FuzzSupport.h"

#include <Korvan/PdfDateFormats.h>
#include <Tolm/String.h>
#include <Tolm/Time.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

int pick(const std::uint8_t* bytes, int index, int low, int high) {
    const unsigned value = bytes[index] | (static_cast<unsigned>(bytes[index + 1]) << 8);
    return low + static_cast<int>(value % static_cast<unsigned>(high - low + 1));
}

// Years below 1970 read back as 1970 and the writers give at least four
// digits, so round trips are promised for 1970..9999 only.
void checkRoundTrip(const std::uint8_t* data, std::size_t size) {
    std::uint8_t fields[12] = {};
    for (std::size_t i = 0; i < sizeof fields && i < size; ++i) fields[i] = data[i];
    const int offset = pick(fields, 0, -14 * 60, 14 * 60);
    const Tolm::CFixedLocalZoneOffset zone(offset);
    const Tolm::CTime time(pick(fields, 2, 1970, 9999), fields[4] % 12 + 1, fields[5] % 31 + 1,
                           fields[6] % 24, fields[7] % 60, fields[8] % 60);

    const Tolm::CUnicodeString docInfo = Korvan::ConvertTimeToDocInfoFormat(time);
    const Tolm::CTime fromDocInfo = Korvan::ConvertTimeStringToTime(docInfo);
    FUZZ_CHECK(fromDocInfo == time, "zone %d: '%s' read back as tick %lld, wrote tick %lld", offset,
               docInfo.ToUtf8().c_str(), static_cast<long long>(fromDocInfo.GetTicks()),
               static_cast<long long>(time.GetTicks()));

    const Tolm::CUnicodeString iso = Korvan::ConvertTimeToISOFormat(time);
    const Tolm::CTime fromIso = Korvan::ConvertTimeStringToTime(iso);
    FUZZ_CHECK(fromIso == time, "zone %d: '%s' read back as tick %lld, wrote tick %lld", offset,
               iso.ToUtf8().c_str(), static_cast<long long>(fromIso.GetTicks()),
               static_cast<long long>(time.GetTicks()));
}

void readBoth(const std::uint8_t* data, std::size_t size) {
    const Tolm::CFixedLocalZoneOffset zone(3 * 60);
    std::u16string latin1(size, u'\0');
    for (std::size_t i = 0; i < size; ++i) latin1[i] = data[i];
    Korvan::ConvertTimeStringToTime(Tolm::CUnicodeString(std::u16string_view(latin1)));
    Korvan::ConvertTimeStringToTime(
        Tolm::CUnicodeString::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::ThrowingReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;  // dates are short; longer inputs only slow the search
    readBoth(data, size);
    checkRoundTrip(data, size);
    return 0;
}
