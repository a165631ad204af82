#include <Tolm/Error.h>

#include <Tolm/Memory.h>
#include <Tolm/Module.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

using Tolm::CException;
using TolmTest::ReportRecorder;

namespace {

bool reportBrokenPrecondition(int line) {
    return Tolm::GenerateInternalError(Tolm::ieBrokenPrecondition, u"", u"", "Src\\FileDataStorage", line, 0);
}

// Closes any static part a failed assertion left open.
class StaticPart : public ::testing::Test {
protected:
    void TearDown() override {
        while (Tolm::IsInsideStaticPart()) Tolm::EndStaticPart();
    }
};

TEST(Memory, BlocksAreUniqueAndNeverNull) {
    void* a = Tolm::doAlloc(0);
    void* b = Tolm::doAlloc(0);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    Tolm::doFree(a);
    Tolm::doFree(b);
    Tolm::doFree(nullptr);
    auto* bytes = static_cast<unsigned char*>(Tolm::doAlloc(100));
    std::memset(bytes, 0xAB, 100);
    Tolm::doFree(bytes);
}

#if defined(__SANITIZE_ADDRESS__)
#define TOLM_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOLM_TEST_UNDER_ASAN 1
#endif
#endif

TEST(Memory, ExhaustionThrowsAMemoryError) {
#ifdef TOLM_TEST_UNDER_ASAN
    GTEST_SKIP() << "the address sanitizer ends the process on an impossible allocation";
#endif
    try {
        void* block = Tolm::doAlloc(static_cast<std::size_t>(-1) / 2);
        Tolm::doFree(block);
        GTEST_SKIP() << "the system granted the block";
    } catch (CException* error) {
        EXPECT_EQ(CException::Kind::memory, error->GetKind());
        EXPECT_NE(std::string(error->GetMessage()).find("bytes"), std::string::npos);
        error->Delete();
    }
}

TEST(Exception, ThrowHelpersCarryKindMessageAndSystemError) {
    struct Case {
        void (*raise)();
        CException::Kind kind;
        const char* message;
        int systemError;
    };
    const Case cases[] = {
        {[] { Tolm::ThrowFileError("cannot open '/x'", ENOENT); }, CException::Kind::file, "cannot open '/x'",
         ENOENT},
        {[] { Tolm::ThrowArchiveError("truncated archive"); }, CException::Kind::archive, "truncated archive",
         0},
        {[] { Tolm::ThrowArgumentError("bad size"); }, CException::Kind::argument, "bad size", 0},
    };
    for (const Case& c : cases) {
        try {
            c.raise();
            FAIL() << "no throw";
        } catch (CException* error) {
            EXPECT_EQ(c.kind, error->GetKind());
            EXPECT_STREQ(c.message, error->GetMessage());
            EXPECT_EQ(c.systemError, error->GetSystemError());
            error->Delete();
        }
    }
}

TEST_F(StaticPart, ReportOutsideThrowsWithFileAndLine) {
    try {
        reportBrokenPrecondition(123);
        FAIL() << "no throw";
    } catch (CException* error) {
        EXPECT_EQ(CException::Kind::internal, error->GetKind());
        EXPECT_STREQ("internal error at Src\\FileDataStorage:123", error->GetMessage());
        error->Delete();
    }
}

TEST_F(StaticPart, ReportInsideIsRecordedAndReturnsFalse) {
    Tolm::BeginStaticPart();
    EXPECT_TRUE(Tolm::IsInsideStaticPart());
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(reportBrokenPrecondition(45));
    const std::string written = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(written.find("Src\\FileDataStorage:45"), std::string::npos) << written;
    Tolm::EndStaticPart();
    EXPECT_FALSE(Tolm::IsInsideStaticPart());
    EXPECT_TRUE(Tolm::HasStaticPartError());

    // The next outermost static part starts clean.
    Tolm::BeginStaticPart();
    EXPECT_FALSE(Tolm::HasStaticPartError());
    Tolm::EndStaticPart();
    EXPECT_FALSE(Tolm::HasStaticPartError());
}

TEST_F(StaticPart, NestedPartsShareOneFlagUntilTheOutermostReopens) {
    Tolm::BeginStaticPart();
    Tolm::BeginStaticPart();
    ::testing::internal::CaptureStderr();
    reportBrokenPrecondition(1);
    ::testing::internal::GetCapturedStderr();
    Tolm::EndStaticPart();
    EXPECT_TRUE(Tolm::IsInsideStaticPart());
    Tolm::BeginStaticPart();  // an inner part does not clear the flag
    Tolm::EndStaticPart();
    Tolm::EndStaticPart();
    EXPECT_TRUE(Tolm::HasStaticPartError());
}

TEST_F(StaticPart, HandlerSeesEveryReportAndTheFlagStillRecords) {
    ReportRecorder recorder;
    EXPECT_FALSE(reportBrokenPrecondition(7));  // outside: no throw with a handler
    Tolm::BeginStaticPart();
    Tolm::GenerateInternalError(Tolm::ieBrokenPrecondition, u"text", u"detail", "Src\\FolderWorker", 9, 5);
    Tolm::EndStaticPart();
    ASSERT_EQ(2, recorder.count());
    const Tolm::InternalErrorReport& first = TolmTest::ReportRecorder::reports()[0];
    EXPECT_FALSE(first.insideStaticPart);
    EXPECT_EQ(7, first.line);
    const Tolm::InternalErrorReport& second = recorder.last();
    EXPECT_TRUE(second.insideStaticPart);
    EXPECT_EQ("Src\\FolderWorker", second.file);
    EXPECT_EQ("text", second.text);
    EXPECT_EQ("detail", second.detail);
    EXPECT_EQ(9, second.line);
    EXPECT_EQ(5u, second.code);
    EXPECT_TRUE(Tolm::HasStaticPartError());
}

TEST_F(StaticPart, HandlerIsRestoredAndMayThrow) {
    const auto throwing = [](const Tolm::InternalErrorReport& report) -> bool {
        throw new CException(CException::Kind::argument, "handled " + report.file);
    };
    const Tolm::InternalErrorHandler before = Tolm::SetInternalErrorHandler(throwing);
    EXPECT_EQ(nullptr, before);
    try {
        reportBrokenPrecondition(1);
        FAIL() << "no throw";
    } catch (CException* error) {
        EXPECT_EQ(CException::Kind::argument, error->GetKind());
        error->Delete();
    }
    EXPECT_EQ(+throwing, Tolm::SetInternalErrorHandler(nullptr));
}

TEST_F(StaticPart, StaticPartBelongsToItsThread) {
    Tolm::BeginStaticPart();
    bool insideElsewhere = true;
    bool thrownElsewhere = false;
    std::thread other([&] {
        insideElsewhere = Tolm::IsInsideStaticPart();
        try {
            reportBrokenPrecondition(2);
        } catch (CException* error) {
            thrownElsewhere = true;
            error->Delete();
        }
    });
    other.join();
    Tolm::EndStaticPart();
    EXPECT_FALSE(insideElsewhere);
    EXPECT_TRUE(thrownElsewhere);
    EXPECT_FALSE(Tolm::HasStaticPartError());
}

TEST_F(StaticPart, UnbalancedEndIsReported) {
    ReportRecorder recorder;
    Tolm::EndStaticPart();
    EXPECT_EQ(1, recorder.count());
    EXPECT_FALSE(Tolm::IsInsideStaticPart());
}

// --- Module lists and seams ---

std::vector<std::string> calls;
void observe(const char* call, HINSTANCE) { calls.emplace_back(call); }
int initCalls = 0;
int termCalls = 0;

class Modules : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        initCalls = 0;
        termCalls = 0;
        Tolm::SetModuleCallObserver(&observe);
    }
    void TearDown() override {
        Tolm::SetModuleCallObserver(nullptr);
        Tolm::SetTolmworksVersionForTesting(0);
    }
    HINSTANCE handle(std::uintptr_t value) { return reinterpret_cast<HINSTANCE>(value); }
};

TEST_F(Modules, LoadAndUnloadAreObservedInOrder) {
    const HINSTANCE module = handle(0x1000);
    Tolm::BeginStaticPart();
    Tolm::AddNotUnloadingResourceModule(module);
    EXPECT_EQ(Tolm::kTolmworksVersion, Tolm::GetTolmworksVersion());
    Tolm::RegisterModule(
        module, [] { ++initCalls; }, [] { ++termCalls; });
    Tolm::EndStaticPart();
    EXPECT_FALSE(Tolm::HasStaticPartError());
    EXPECT_TRUE(Tolm::IsModuleRegistered(module));
    EXPECT_TRUE(Tolm::IsResourceModule(module));
    EXPECT_EQ(1, initCalls);

    Tolm::BeginStaticPart();
    Tolm::UnregisterModule(module);
    Tolm::RemoveResourceModule(module);
    Tolm::EndStaticPart();
    EXPECT_FALSE(Tolm::IsModuleRegistered(module));
    EXPECT_FALSE(Tolm::IsResourceModule(module));
    EXPECT_EQ(1, termCalls);

    const std::vector<std::string> expected = {"BeginStaticPart",      "AddNotUnloadingResourceModule",
                                               "GetTolmworksVersion",  "RegisterModule",
                                               "EndStaticPart",        "HasStaticPartError",
                                               "BeginStaticPart",      "UnregisterModule",
                                               "RemoveResourceModule", "EndStaticPart"};
    EXPECT_EQ(expected, calls);
}

TEST_F(Modules, ResourceModulesAreCountedAndUnknownRemovalsHarmless) {
    const HINSTANCE module = handle(0x2000);
    Tolm::AddNotUnloadingResourceModule(module);
    Tolm::AddNotUnloadingResourceModule(module);
    Tolm::RemoveResourceModule(module);
    EXPECT_TRUE(Tolm::IsResourceModule(module));
    Tolm::RemoveResourceModule(module);
    EXPECT_FALSE(Tolm::IsResourceModule(module));
    Tolm::RemoveResourceModule(module);
    Tolm::UnregisterModule(handle(0x3000));
    EXPECT_FALSE(Tolm::IsModuleRegistered(handle(0x3000)));
}

TEST_F(Modules, VersionSeamAndRestore) {
    Tolm::SetTolmworksVersionForTesting(12013);
    EXPECT_EQ(12013, Tolm::GetTolmworksVersion());
    Tolm::SetTolmworksVersionForTesting(0);
    EXPECT_EQ(12014, Tolm::GetTolmworksVersion());
    EXPECT_EQ(&observe, Tolm::SetModuleCallObserver(&observe));
}

}  // namespace
