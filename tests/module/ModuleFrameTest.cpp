// Loads and unloads the real Korvan.Gearset library with dlopen and dlclose
// (LoadLibraryW and FreeLibrary on Windows) and checks, through the framework's seams, which framework calls
// the loader binding makes and in what order. This executable does not link the library.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/auxv.h>
#endif

#include "CallLog.h"

namespace {

using namespace ModuleTests;

#ifdef _WIN32

// The loader's own handles; the library is found beside this program.
class ModuleFrameTest : public testing::Test {
protected:
    void TearDown() override {
        if (library_ != nullptr) FreeLibrary(library_);
        Tolm::SetTolmworksVersionForTesting(0);
    }
    void Load() {
        library_ = LoadLibraryW(kLibrary);
        ASSERT_NE(nullptr, library_) << "error " << GetLastError();
    }
    void Unload() {
        ASSERT_TRUE(FreeLibrary(library_)) << "error " << GetLastError();
        library_ = nullptr;
    }
    static bool IsMapped() { return GetModuleHandleW(kLibrary) != nullptr; }
    Tolm::HINSTANCE LibraryHandle() const { return library_; }
    static Tolm::HINSTANCE ExecutableHandle() { return GetModuleHandleW(nullptr); }

    static constexpr const wchar_t* kLibrary = GEARSET_LIBRARY_NAME;
    HMODULE library_ = nullptr;
};

#else

Tolm::HINSTANCE baseOf(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
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
        if (again != nullptr) dlclose(again);
        return again != nullptr;
    }
    // The handle the library registers under, found as a host would: the base
    // address of the exported marker.
    Tolm::HINSTANCE LibraryHandle() const {
        const void* marker = dlsym(library_, "__TolmbaseUsed");
        return marker != nullptr ? baseOf(marker) : nullptr;
    }
    static Tolm::HINSTANCE ExecutableHandle() {
        return baseOf(reinterpret_cast<const void*>(getauxval(AT_PHDR)));
    }

    void* library_ = nullptr;
};

#endif

TEST_F(ModuleFrameTest, LoadAndUnloadCallTheFrameworkInOrderWithTheLibrarysOwnHandle) {
    CallLog log;
    for (const char* round : {"first load", "reload"}) {  // a reload must not see the earlier handle
        SCOPED_TRACE(round);
        CallLog::Clear();
        ASSERT_NO_FATAL_FAILURE(Load());
        const Tolm::HINSTANCE handle = LibraryHandle();
        ASSERT_NE(nullptr, handle);
        EXPECT_NE(ExecutableHandle(), handle)
            << "the library must register its own handle, not the executable's";
        EXPECT_EQ(kLoadCalls, CallLog::calls);
        EXPECT_TRUE(Tolm::IsModuleRegistered(handle));
        EXPECT_TRUE(Tolm::IsResourceModule(handle));

        ASSERT_NO_FATAL_FAILURE(Unload());

        EXPECT_EQ(joined(kLoadCalls, kUnloadCalls), CallLog::calls);
        EXPECT_EQ(std::vector<Tolm::HINSTANCE>(4, handle), CallLog::modules);
        EXPECT_FALSE(Tolm::IsModuleRegistered(handle));
        EXPECT_FALSE(Tolm::IsResourceModule(handle));
        EXPECT_FALSE(Tolm::IsInsideStaticPart());
        EXPECT_FALSE(IsMapped()) << "dlclose left the library loaded";
    }
}

#ifdef _WIN32

// On Windows a load can fail: DllMain refuses the attach after undoing it, and
// LoadLibraryW fails with the loader's "initialization failed".
TEST_F(ModuleFrameTest, OtherFrameworkVersionFailsTheLoadAfterUndoingIt) {
    Tolm::SetTolmworksVersionForTesting(12013);
    CallLog log;
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryW(kLibrary));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), GetLastError());

    ASSERT_EQ(failedLoadCalls(), CallLog::calls);
    EXPECT_EQ("module\\ModuleFrame", CallLog::reports.at(0).file);
    EXPECT_TRUE(CallLog::reports.at(0).insideStaticPart);
    ASSERT_FALSE(CallLog::modules.empty());
    EXPECT_FALSE(Tolm::IsModuleRegistered(CallLog::modules.front())) << "nothing stays registered";
    EXPECT_FALSE(Tolm::IsResourceModule(CallLog::modules.front()));
    EXPECT_FALSE(Tolm::IsInsideStaticPart());
    EXPECT_FALSE(IsMapped());

    // The framework's right version loads again, in the full order.
    Tolm::SetTolmworksVersionForTesting(0);
    CallLog::Clear();
    ASSERT_NO_FATAL_FAILURE(Load());
    EXPECT_EQ(kLoadCalls, CallLog::calls);
}

#else

TEST_F(ModuleFrameTest, OtherFrameworkVersionIsReportedOnceAndTheLoadIsUndone) {
    Tolm::SetTolmworksVersionForTesting(12013);
    // With the framework's defaults (no handler) the report is written out and
    // the process goes on.
    ASSERT_NO_FATAL_FAILURE(Load());  // a constructor function cannot fail dlopen
    EXPECT_FALSE(Tolm::IsModuleRegistered(LibraryHandle()));
    ASSERT_NO_FATAL_FAILURE(Unload());

    CallLog log;
    ASSERT_NO_FATAL_FAILURE(Load());

    ASSERT_EQ(failedLoadCalls(), CallLog::calls);
    EXPECT_EQ("module\\ModuleFrame", CallLog::reports.at(0).file);
    EXPECT_TRUE(CallLog::reports.at(0).insideStaticPart);
    EXPECT_FALSE(Tolm::IsModuleRegistered(LibraryHandle())) << "how a host tells that the load failed";
    EXPECT_FALSE(Tolm::IsResourceModule(LibraryHandle()));
    EXPECT_FALSE(Tolm::IsInsideStaticPart());

    CallLog::Clear();
    ASSERT_NO_FATAL_FAILURE(Unload());
    EXPECT_TRUE(CallLog::calls.empty()) << "a failed load was already undone";
    EXPECT_FALSE(IsMapped());
}

#endif

}  // namespace
