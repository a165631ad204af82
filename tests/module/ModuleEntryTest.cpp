// The module frame's entry points called directly with made-up handles: what
// no loader can produce (a second handle, thread notifications, reports that
// throw).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "CallLog.h"
#include "ModuleFrame.h"

namespace {

namespace Frame = Korvan::ModuleFrame;
using namespace ModuleTests;

Tolm::HINSTANCE fakeHandle(int n) {
    static char handles[3];
    return reinterpret_cast<Tolm::HINSTANCE>(&handles[n]);
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
    CallLog log;
    for (const auto entry : {&Frame::EarlyHook, &Frame::MainEntry})
        for (const Tolm::DWORD reason : {Frame::kThreadAttach, Frame::kThreadDetach})
            EXPECT_NE(0, entry(fakeHandle(0), reason, nullptr)) << "reason " << reason;
    EXPECT_TRUE(CallLog::calls.empty());
}

TEST_F(ModuleEntryTest, AccessorFallsBackToTheMainExecutable) {
#ifdef _WIN32
    EXPECT_EQ(GetModuleHandleW(nullptr), Frame::GetModuleInstance());
#else
    static const char anchorInExecutable = 0;
    Dl_info info{};
    ASSERT_NE(0, dladdr(&anchorInExecutable, &info));
    EXPECT_EQ(info.dli_fbase, Frame::GetModuleInstance());
#endif
}

// Only a different handle is reported, once and first; the load goes on and
// keeps the new handle whether the report returns or throws.
TEST_F(ModuleEntryTest, SecondLoadReportsOnlyADifferentHandle) {
    for (const int second : {1, 2}) {
        for (const bool throws : {false, true}) {
            SCOPED_TRACE(testing::Message() << "handle " << second << (throws ? ", report throws" : ""));
            Frame::ForgetModuleInstanceForTesting();
            ASSERT_TRUE(Frame::RunLoad(fakeHandle(1)));
            Frame::RunUnload(fakeHandle(1));
            CallLog log(throws);
            const Tolm::HINSTANCE handle = fakeHandle(second);

            EXPECT_TRUE(Frame::RunLoad(handle));

            Calls expected = kLoadCalls;
            if (second != 1) expected.insert(expected.begin(), "report");
            EXPECT_EQ(expected, CallLog::calls);
            for (const auto& report : CallLog::reports) EXPECT_EQ("module\\ModuleFrame", report.file);
            EXPECT_EQ(handle, Frame::GetModuleInstance());
            EXPECT_TRUE(Tolm::IsModuleRegistered(handle));
            Frame::RunUnload(handle);
        }
    }
}

TEST_F(ModuleEntryTest, StaticPartErrorUndoesTheLoadWhetherTheReportReturnsOrThrows) {
    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "report throws" : "report returns");
        CallLog log(throws);
        Tolm::SetTolmworksVersionForTesting(Frame::kRequiredTolmworksVersion + 1);

        EXPECT_FALSE(Frame::RunLoad(fakeHandle(1)));

        EXPECT_EQ(failedLoadCalls(), CallLog::calls);
        EXPECT_FALSE(Tolm::IsModuleRegistered(fakeHandle(1)));
        EXPECT_FALSE(Tolm::IsResourceModule(fakeHandle(1)));
    }
}

TEST_F(ModuleEntryTest, AStepThatThrowsUndoesTheLoad) {
    for (const char* step : {"AddNotUnloadingResourceModule", "GetTolmworksVersion", "RegisterModule"}) {
        SCOPED_TRACE(step);
        CallLog log;
        CallLog::failingCall = step;
        testing::internal::CaptureStderr();  // where the module frame writes the failure

        EXPECT_FALSE(Frame::RunLoad(fakeHandle(1)));

        EXPECT_NE(testing::internal::GetCapturedStderr().find("refused"), std::string::npos);
        EXPECT_FALSE(Tolm::IsModuleRegistered(fakeHandle(1)));
        EXPECT_FALSE(Tolm::IsResourceModule(fakeHandle(1)));
        EXPECT_EQ(CallLog::calls.back(), "EndStaticPart");  // U3 ran
    }
}

}  // namespace
