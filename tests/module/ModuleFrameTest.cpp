// Loads and unloads the real Korvan.Gearset library with dlopen and dlclose and
// checks, through the framework's seams, which framework calls the loader
// binding makes and in what order. This executable does not link the library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/auxv.h>

#include <string>
#include <vector>

#include "CallLog.h"

namespace {

using ModuleTests::CallLog;
using Calls = std::vector<std::string>;

const Calls kLoadCalls = {"BeginStaticPart",     "AddNotUnloadingResourceModule",
                          "GetTolmworksVersion", "RegisterModule",
                          "EndStaticPart",       "HasStaticPartError"};
const Calls kUnloadCalls = {"BeginStaticPart", "UnregisterModule", "RemoveResourceModule", "EndStaticPart"};

Calls joined(Calls first, const Calls& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

HINSTANCE baseOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0) return nullptr;
    return info.dli_fbase;
}

class ModuleFrameTest : public testing::Test {
protected:
    void TearDown() override {
        if (library_ != nullptr) dlclose(library_);
        Tolm::SetTolmworksVersionForTesting(0);
    }

    void Load() {
        library_ = dlopen(GEARSET_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, library_) << dlerror();
    }
    void Unload() {
        ASSERT_EQ(0, dlclose(library_)) << dlerror();
        library_ = nullptr;
    }
    static bool IsMapped() {
        void* again = dlopen(GEARSET_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
        if (again == nullptr) return false;
        dlclose(again);
        return true;
    }
    // The handle the library registers under: its base address, found through
    // the exported marker as a host would.
    HINSTANCE LibraryHandle() const {
        const void* marker = dlsym(library_, "__TolmbaseUsed");
        return marker != nullptr ? baseOf(marker) : nullptr;
    }

    void* library_ = nullptr;
};

TEST_F(ModuleFrameTest, LoadRegistersTheLibraryWithoutReport) {
    CallLog log;
    ASSERT_NO_FATAL_FAILURE(Load());

    EXPECT_EQ(kLoadCalls, log.Calls());
    const HINSTANCE handle = LibraryHandle();
    ASSERT_NE(nullptr, handle);
    EXPECT_NE(baseOf(reinterpret_cast<const void*>(getauxval(AT_PHDR))), handle)
        << "the library must register its own handle, not the executable's";
    EXPECT_EQ(std::vector<HINSTANCE>(2, handle), log.ModulesPassed());
    EXPECT_TRUE(Tolm::IsModuleRegistered(handle));
    EXPECT_TRUE(Tolm::IsResourceModule(handle));
    EXPECT_FALSE(Tolm::IsInsideStaticPart());
}

TEST_F(ModuleFrameTest, UnloadWithdrawsTheLibraryInReverseAndUnmapsIt) {
    CallLog log;
    ASSERT_NO_FATAL_FAILURE(Load());
    const HINSTANCE handle = LibraryHandle();
    log.Clear();

    ASSERT_NO_FATAL_FAILURE(Unload());

    EXPECT_EQ(kUnloadCalls, log.Calls());
    EXPECT_EQ(std::vector<HINSTANCE>(2, handle), log.ModulesPassed());
    EXPECT_FALSE(Tolm::IsModuleRegistered(handle));
    EXPECT_FALSE(Tolm::IsResourceModule(handle));
    EXPECT_FALSE(Tolm::IsInsideStaticPart());
    EXPECT_FALSE(IsMapped()) << "dlclose left the library loaded";
}

TEST_F(ModuleFrameTest, LoadAfterUnloadStartsAfresh) {
    CallLog log;
    ASSERT_NO_FATAL_FAILURE(Load());
    ASSERT_NO_FATAL_FAILURE(Unload());
    log.Clear();

    ASSERT_NO_FATAL_FAILURE(Load());

    EXPECT_EQ(kLoadCalls, log.Calls()) << "a reload must not see the handle of the earlier load";
    EXPECT_TRUE(Tolm::IsModuleRegistered(LibraryHandle()));
}

TEST_F(ModuleFrameTest, OtherFrameworkVersionIsReportedOnceAndTheLoadIsUndone) {
    CallLog log;
    Tolm::SetTolmworksVersionForTesting(12013);

    ASSERT_NO_FATAL_FAILURE(Load());  // a constructor function cannot fail dlopen

    const Calls expected = joined({"BeginStaticPart", "AddNotUnloadingResourceModule", "GetTolmworksVersion",
                                   "report", "RegisterModule", "EndStaticPart", "HasStaticPartError"},
                                  kUnloadCalls);
    EXPECT_EQ(expected, log.Calls());
    const auto reports = log.Reports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ("module\\ModuleFrame", reports[0].file);
    EXPECT_TRUE(reports[0].insideStaticPart);
    const HINSTANCE handle = LibraryHandle();
    EXPECT_FALSE(Tolm::IsModuleRegistered(handle)) << "how a host tells that the load failed";
    EXPECT_FALSE(Tolm::IsResourceModule(handle));
    EXPECT_FALSE(Tolm::IsInsideStaticPart());

    log.Clear();
    ASSERT_NO_FATAL_FAILURE(Unload());
    EXPECT_TRUE(log.Calls().empty()) << "a failed load was already undone";
    EXPECT_FALSE(IsMapped());
}

TEST_F(ModuleFrameTest, FailedLoadWithTheFrameworkDefaultsLeavesTheProcessRunning) {
    // No handler: the framework itself records the report and writes it out.
    Tolm::SetTolmworksVersionForTesting(12013);
    ASSERT_NO_FATAL_FAILURE(Load());

    EXPECT_FALSE(Tolm::IsModuleRegistered(LibraryHandle()));
    EXPECT_FALSE(Tolm::IsInsideStaticPart());
}

}  // namespace
