#include <Tolm/Error.h>

#include <Tolm/Module.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "GearsetTesting.h"

using GearsetTest::Catch;
using GearsetTest::ReportRecorder;
using Tolm::CException;

namespace {

bool reportBrokenPrecondition(int line) {
    return Tolm::GenerateInternalError(Tolm::ieBrokenPrecondition, u"", u"", "Src\\FileDataStorage", line, 0);
}

TEST(StaticPart, ReportInsideIsRecordedUntilTheOutermostPartReopens) {
    Tolm::BeginStaticPart();
    Tolm::BeginStaticPart();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reportBrokenPrecondition(45));
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, written.find("Src\\FileDataStorage:45")) << written;
    Tolm::EndStaticPart();
    Tolm::BeginStaticPart();  // an inner part keeps the flag
    Tolm::EndStaticPart();
    Tolm::EndStaticPart();
    EXPECT_FALSE(Tolm::IsInsideStaticPart());
    EXPECT_TRUE(Tolm::HasStaticPartError());
    Tolm::BeginStaticPart();
    EXPECT_FALSE(Tolm::HasStaticPartError());
    Tolm::EndStaticPart();

    ReportRecorder recorder;
    Tolm::EndStaticPart();  // unbalanced
    EXPECT_EQ(1, recorder.Count());
    EXPECT_FALSE(Tolm::IsInsideStaticPart());
}

// A host that watches reports with a handler must still see a failed load fail.
TEST(StaticPart, HandlerSeesEveryReportAndTheFlagStillRecords) {
    ReportRecorder recorder;
    EXPECT_FALSE(reportBrokenPrecondition(7));  // outside: no throw with a handler
    Tolm::BeginStaticPart();
    Tolm::GenerateInternalError(Tolm::ieBrokenPrecondition, u"text", u"detail", "Src\\FolderWorker", 9, 5);
    Tolm::EndStaticPart();
    ASSERT_EQ(2, recorder.Count());
    EXPECT_FALSE(recorder.Reports()[0].insideStaticPart);
    const Tolm::InternalErrorReport& second = recorder.Last();
    EXPECT_TRUE(second.insideStaticPart && second.file == "Src\\FolderWorker" && second.line == 9);
    EXPECT_EQ("detail", second.detail);
    EXPECT_TRUE(Tolm::HasStaticPartError());
}

// Outside a static part a report throws with file and line, and a report on
// another thread is no failure of this thread's static part.
TEST(StaticPart, StaticPartBelongsToItsThread) {
    Tolm::BeginStaticPart();
    bool insideElsewhere = true;
    GearsetTest::Caught thrownElsewhere;
    std::thread([&] {
        insideElsewhere = Tolm::IsInsideStaticPart();
        thrownElsewhere = Catch([] { reportBrokenPrecondition(123); });
    }).join();
    Tolm::EndStaticPart();
    EXPECT_FALSE(insideElsewhere);
    EXPECT_EQ(CException::Kind::internal, thrownElsewhere.kind);
    EXPECT_EQ("internal error at Src\\FileDataStorage:123", thrownElsewhere.message);
    EXPECT_FALSE(Tolm::HasStaticPartError());
}

}  // namespace
