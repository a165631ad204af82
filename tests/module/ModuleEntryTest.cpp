// The module frame's entry points and load sequence, called directly with
// made-up module handles: what no loader can produce (a second handle, thread
// notifications, reports that throw).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CallLog.h"
#include "ModuleFrame.h"

namespace {

namespace Frame = Korvan::ModuleFrame;
using ModuleTests::CallLog;
using ModuleTests::ReportOutcome;
using Calls = std::vector<std::string>;

const Calls kUnloadCalls = {"BeginStaticPart", "UnregisterModule", "RemoveResourceModule", "EndStaticPart"};

HINSTANCE fakeHandle(int n) {
    static char handles[4];
    return &handles[n];
}

class ModuleEntryTest : public testing::Test {
protected:
    void SetUp() override { Frame::ForgetModuleInstanceForTesting(); }
    void TearDown() override {
        Frame::ForgetModuleInstanceForTesting();
        EXPECT_FALSE(Tolm::IsInsideStaticPart()) << "the test left a static part open";
    }
};

TEST_F(ModuleEntryTest, ThreadNotificationsCallNothing) {
    using Entry = int (*)(HINSTANCE, DWORD, void*);
    CallLog log;
    for (const Entry entry : {&Frame::EarlyHook, &Frame::MainEntry}) {
        for (const DWORD reason : {Frame::kThreadAttach, Frame::kThreadDetach}) {
            EXPECT_NE(0, entry(fakeHandle(0), reason, nullptr)) << "reason " << reason;
        }
    }
    EXPECT_TRUE(log.Calls().empty());
}

TEST_F(ModuleEntryTest, AccessorFallsBackToTheMainExecutable) {
    static const char anchorInExecutable = 0;
    Dl_info info{};
    ASSERT_NE(0, dladdr(&anchorInExecutable, &info));

    EXPECT_EQ(info.dli_fbase, Frame::GetModuleInstance());
    EXPECT_EQ(info.dli_fbase, Frame::GetMainExecutableHandle());
}

TEST_F(ModuleEntryTest, LoadAndUnloadPassTheGivenHandle) {
    CallLog log;
    const HINSTANCE handle = fakeHandle(1);

    ASSERT_TRUE(Frame::RunLoad(handle));
    EXPECT_EQ(handle, Frame::GetModuleInstance());
    EXPECT_TRUE(Tolm::IsModuleRegistered(handle));
    Frame::RunUnload(handle);

    Calls expected = {"BeginStaticPart",     "AddNotUnloadingResourceModule",
                      "GetTolmworksVersion", "RegisterModule",
                      "EndStaticPart",       "HasStaticPartError"};
    expected.insert(expected.end(), kUnloadCalls.begin(), kUnloadCalls.end());
    EXPECT_EQ(expected, log.Calls());
    EXPECT_EQ(std::vector<HINSTANCE>(4, handle), log.ModulesPassed());
    EXPECT_FALSE(Tolm::IsModuleRegistered(handle));
    EXPECT_FALSE(Tolm::IsResourceModule(handle));
}

// Rows: what the early hook sees at its second load, and whether it reports.
struct SecondLoadCase {
    const char* name;
    int firstHandle;
    int secondHandle;
    size_t reports;
};

class SecondLoadTest : public ModuleEntryTest, public testing::WithParamInterface<SecondLoadCase> {};

TEST_P(SecondLoadTest, ReportsOnlyADifferentHandleAndStoresTheNewOne) {
    const SecondLoadCase& row = GetParam();
    for (const ReportOutcome outcome : {ReportOutcome::returns, ReportOutcome::throws}) {
        SCOPED_TRACE(outcome == ReportOutcome::throws ? "report throws" : "report returns");
        Frame::ForgetModuleInstanceForTesting();
        Frame::EarlyHook(fakeHandle(row.firstHandle), Frame::kProcessAttach, nullptr);
        Frame::EarlyHook(fakeHandle(row.firstHandle), Frame::kProcessDetach, nullptr);
        CallLog log(outcome);

        EXPECT_NE(0, Frame::EarlyHook(fakeHandle(row.secondHandle), Frame::kProcessAttach, nullptr));

        const auto reports = log.Reports();
        ASSERT_EQ(row.reports, reports.size());
        for (const auto& report : reports) EXPECT_EQ("module\\ModuleFrame", report.file);
        EXPECT_EQ("BeginStaticPart", log.Calls().back()) << "loading goes on after the report";
        EXPECT_EQ(fakeHandle(row.secondHandle), Frame::GetModuleInstance());
        Frame::EarlyHook(fakeHandle(row.secondHandle), Frame::kProcessDetach, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Handles, SecondLoadTest,
                         testing::Values(SecondLoadCase{"SameHandle", 1, 1, 0},
                                         SecondLoadCase{"DifferentHandle", 1, 2, 1}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(ModuleEntryTest, ThrowingReportOutsideTheStaticPartDoesNotStopTheLoad) {
    Frame::EarlyHook(fakeHandle(1), Frame::kProcessAttach, nullptr);
    Frame::EarlyHook(fakeHandle(1), Frame::kProcessDetach, nullptr);
    CallLog log(ReportOutcome::throws);
    const HINSTANCE handle = fakeHandle(2);

    EXPECT_TRUE(Frame::RunLoad(handle));

    EXPECT_EQ((Calls{"report", "BeginStaticPart", "AddNotUnloadingResourceModule", "GetTolmworksVersion",
                     "RegisterModule", "EndStaticPart", "HasStaticPartError"}),
              log.Calls());
    EXPECT_TRUE(Tolm::IsModuleRegistered(handle));
    Frame::RunUnload(handle);
}

TEST_F(ModuleEntryTest, StaticPartErrorUndoesTheLoadWhetherTheReportReturnsOrThrows) {
    const HINSTANCE handle = fakeHandle(1);
    for (const ReportOutcome outcome : {ReportOutcome::returns, ReportOutcome::throws}) {
        SCOPED_TRACE(outcome == ReportOutcome::throws ? "report throws" : "report returns");
        CallLog log(outcome);
        Tolm::SetTolmworksVersionForTesting(Frame::kRequiredTolmworksVersion + 1);

        EXPECT_FALSE(Frame::RunLoad(handle));

        Calls expected = {"BeginStaticPart",     "AddNotUnloadingResourceModule",
                          "GetTolmworksVersion", "report",
                          "RegisterModule",      "EndStaticPart",
                          "HasStaticPartError"};
        expected.insert(expected.end(), kUnloadCalls.begin(), kUnloadCalls.end());
        EXPECT_EQ(expected, log.Calls());
        EXPECT_FALSE(Tolm::IsModuleRegistered(handle));
        EXPECT_FALSE(Tolm::IsResourceModule(handle));
    }
}

}  // namespace
