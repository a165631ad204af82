// Helpers of the framework file tests: a private temporary folder per test,
// raw looks at the disk that bypass CFile, and a catcher for the framework's
// thrown CException pointers.
#pragma once

#include <Tolm/File.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace filestest {

struct Caught {
    Tolm::CException::Kind kind;
    std::string message;
    int systemError;
};

// Runs f; returns what it threw as a CException*, or nothing.
template <class F>
std::optional<Caught> Catch(F&& f) {
    try {
        f();
    } catch (Tolm::CException* error) {
        Caught caught{error->GetKind(), error->GetMessage(), error->GetSystemError()};
        error->Delete();
        return caught;
    }
    return std::nullopt;
}

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A fresh folder under the system's temporary folder, removed with its files.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolm-files-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
        folder_ = pattern;
    }
    void TearDown() override {
        const std::string command = "rm -rf '" + folder_ + "'";
        EXPECT_EQ(0, std::system(command.c_str()));
    }

    std::string PathOf(const std::string& name) const { return folder_ + "/" + name; }
    static Tolm::CUnicodeString U(const std::string& utf8) { return Tolm::CUnicodeString::FromUtf8(utf8); }

    static long long FileLength(const std::string& path) {
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) return -1;
        return status.st_size;
    }
    static std::vector<unsigned char> Contents(const std::string& path) {
        std::vector<unsigned char> bytes(static_cast<std::size_t>(std::max(0LL, FileLength(path))));
        std::FILE* in = std::fopen(path.c_str(), "rb");
        if (in == nullptr) return {};
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
        std::fclose(in);
        return bytes;
    }
    static void Put(const std::string& path, const std::vector<unsigned char>& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    std::string folder_;
};

}  // namespace filestest
