#include "Progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace gearset {
namespace {

std::string drawn(bool enabled, void (*work)(ProgressMeter&)) {
    std::FILE* stream = std::tmpfile();
    {
        ProgressMeter meter("copy", 3 << 20, ProgressMeter::Unit::bytes, enabled, stream);
        work(meter);
    }
    std::rewind(stream);
    std::string text;
    for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) text += static_cast<char>(c);
    std::fclose(stream);
    return text;
}

TEST(ProgressTest, DescribesPercentAndAmountInAReadableUnit) {
    using Unit = ProgressMeter::Unit;
    EXPECT_EQ(ProgressMeter::Describe("copy", 512, 2048, Unit::bytes), "copy: 25% (0.5 of 2.0 KiB)");
    EXPECT_EQ(ProgressMeter::Describe("copy", 5, 1000, Unit::bytes), "copy: 0% (5 of 1000 bytes)");
    EXPECT_EQ(ProgressMeter::Describe("scan", 1 << 29, std::int64_t{3} << 30, Unit::bytes),
              "scan: 16% (0.5 of 3.0 GiB)");
    EXPECT_EQ(ProgressMeter::Describe("write", 700, 10000, Unit::records),
              "write: 7% (700 of 10000 records)");
    EXPECT_EQ(ProgressMeter::Describe("free", 0, 0, Unit::records), "free: 100% (0 of 0 records)");
}

TEST(ProgressTest, DrawsOneRewrittenLineAndErasesItOnlyWhenEnabled) {
    const auto work = [](ProgressMeter& meter) {
        meter.Update(1 << 20);
        meter.Update(2 << 20);  // within the redraw interval: not drawn
    };
    EXPECT_EQ(drawn(true, work), "\rcopy: 33% (1.0 of 3.0 MiB)\x1b[K\r\x1b[K");
    EXPECT_EQ(drawn(false, work), "");
    EXPECT_EQ(drawn(true, [](ProgressMeter&) {}), "");  // nothing drawn, nothing to erase
}

}  // namespace
}  // namespace gearset
