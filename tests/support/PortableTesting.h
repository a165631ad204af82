// What tests need from the system beyond the standard library, on POSIX and
// on Windows alike: a fresh private folder, its removal whatever the length of
// the paths inside, and changes to the environment.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace GearsetTesting {

// The variable that names the folder for temporary files.
#ifdef _WIN32
inline constexpr const char* kTemporaryFolderVariable = "TMP";
#else
inline constexpr const char* kTemporaryFolderVariable = "TMPDIR";
#endif

// A new, empty folder named prefix-XXXXXX under the system's temporary
// folder; empty when none could be made.
inline std::string MakeTemporaryFolder(const std::string& prefix) {
    const std::filesystem::path parent = std::filesystem::temp_directory_path();
#ifdef _WIN32
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path folder = parent / (prefix + "-" + std::to_string(seed() % 1000000));
        std::error_code error;
        if (std::filesystem::create_directory(folder, error)) return folder.string();
    }
    return {};
#else
    std::string pattern = (parent / (prefix + "-XXXXXX")).string();
    return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
#endif
}

// Removes the folder and everything in it, quietly; a link is removed, not
// followed. On Windows through the long-path form: the standard library's
// remove_all there fails on a path longer than 260 characters.
void RemoveTree(const std::filesystem::path& folder);

inline void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnvironment(const char* name) {
#ifdef _WIN32
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

}  // namespace GearsetTesting

// Skips the rest of a test on Windows, saying why.
#ifdef _WIN32
#define GEARSET_SKIP_ON_WINDOWS(reason) GTEST_SKIP() << (reason)
#else
#define GEARSET_SKIP_ON_WINDOWS(reason) static_cast<void>(0)
#endif
