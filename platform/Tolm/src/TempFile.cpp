#include <Tolm/File.h>

#include "FileSupport.h"
#include "SystemPort.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>

namespace Tolm {

namespace {

constexpr int kNameAttempts = 100;
constexpr char kNameAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kRandomChars = 6;

// Six characters from 62: unpredictable enough that another user cannot
// place a file there first; O_EXCL makes any collision harmless anyway.
std::string randomPart() {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t seed = std::random_device{}();
    seed = (seed << 32) ^ std::random_device{}();
    seed ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    seed ^= counter.fetch_add(0x9E3779B97F4A7C15ull, std::memory_order_relaxed);
    // splitmix64 finaliser, so that neighbouring seeds give unrelated names
    seed = (seed ^ (seed >> 30)) * 0xBF58476D1CE4E5B9ull;
    seed = (seed ^ (seed >> 27)) * 0x94D049BB133111EBull;
    seed ^= seed >> 31;
    std::string part;
    for (int i = 0; i < kRandomChars; ++i) {
        part += kNameAlphabet[seed % (sizeof kNameAlphabet - 1)];
        seed /= sizeof kNameAlphabet - 1;
    }
    return part;
}

// A name piece must stay a piece: no separator, no zero, no "..".
void checkNamePart(const std::string& part, const char* what) {
    if (part.find('/') != std::string::npos || part.find('\\') != std::string::npos ||
        part.find('\0') != std::string::npos || part == "..") {
        ThrowArgumentError(std::string("temporary file ") + what + " '" + part +
                           "' may not contain '/', '\\' or NUL");
    }
}

// The temporary files created and not yet deleted, by native name.
std::mutex createdFilesMutex;
std::map<std::string, detail::CreatedTempFile>& createdFiles() {
    static auto* files = new std::map<std::string, detail::CreatedTempFile>;  // outlives static teardown
    return *files;
}

void forgetCreated(const std::string& native) {
    const std::lock_guard lock(createdFilesMutex);
    createdFiles().erase(native);
}

// A virus scanner or an indexer that opens a new file may hold it so that
// removing it is refused for a moment (Windows); such a refusal is tried
// again a few times, waiting longer each time.
constexpr int kRemoveAttempts = 5;
constexpr int kFirstRemovePauseMilliseconds = 10;

bool isRefusal(int error) { return error == EACCES || error == EBUSY; }

int removeRetrying(const std::string& native) {
    detail::SystemPort& port = detail::systemPort();
    int error = port.remove(native);
    for (int attempt = 1, pause = kFirstRemovePauseMilliseconds;
         attempt < kRemoveAttempts && isRefusal(error); ++attempt, pause *= 2) {
        port.pause(pause);
        error = port.remove(native);
    }
    return error;
}

}  // namespace

bool detail::findCreatedTempFile(const std::string& native, CreatedTempFile& identity) {
    const std::lock_guard lock(createdFilesMutex);
    const auto found = createdFiles().find(native);
    if (found == createdFiles().end()) return false;
    identity = found->second;
    return true;
}

namespace TempFile {

CUnicodeString New(const CUnicodeString& prefix, const CUnicodeString& extension) {
    return NewIn(CUnicodeString::FromUtf8(detail::systemPort().temporaryFolder()), prefix, extension);
}

CUnicodeString NewIn(const CUnicodeString& directoryPath, const CUnicodeString& prefix,
                     const CUnicodeString& extension) {
    const std::string prefixText = prefix.ToUtf8();
    const std::string extensionText = extension.ToUtf8();
    checkNamePart(prefixText, "prefix");
    checkNamePart(extensionText, "extension");
    detail::SystemPort& port = detail::systemPort();
    const detail::PathGrammar& paths = port.paths();
    const char separator = static_cast<char>(paths.separator());
    std::string directory = ToNativePath(directoryPath);
    if (directory.empty()) directory.assign(1, '.');  // not = ".": GCC 12 warns of a false overlap
    while (directory.size() > 1 && paths.isSeparator(static_cast<unsigned char>(directory.back())))
        directory.pop_back();
    int lastError = EEXIST;
    std::string path;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        path = directory + separator + prefixText + "-" + randomPart();
        if (!extensionText.empty()) path += "." + extensionText;
        detail::SystemOpenRequest request;
        request.read = request.write = request.create = request.exclusive = request.ownerOnly = true;
        int error = 0;
        if (std::unique_ptr<detail::SystemFile> file = port.open(path, request, error)) {
            detail::SystemFileStatus status;
            const int statusError = file->status(status);
            file->close();
            if (statusError != 0) {
                port.remove(path);
                detail::throwSystemFileError("cannot identify the temporary file '" + path + "'",
                                             statusError);
            }
            {
                const std::lock_guard lock(createdFilesMutex);
                createdFiles()[path] = {status.device, status.inode};
            }
            return CUnicodeString::FromUtf8(path);
        }
        lastError = error;
        if (lastError != EEXIST) break;
    }
    detail::throwSystemFileError(
        "cannot create a temporary file in '" + directory + "' (last tried '" + path + "')", lastError);
}

void Delete(const CUnicodeString& path) {
    const std::string native = ToNativePath(path);
    forgetCreated(native);
    if (const int error = removeRetrying(native); error != 0) {
        detail::throwSystemFileError("cannot delete " + detail::quotedPath(path), error);
    }
}

void Rename(const CUnicodeString& path, const CUnicodeString& newPath) {
    const std::string native = ToNativePath(path);
    if (const int error = detail::systemPort().rename(native, ToNativePath(newPath)); error != 0) {
        detail::throwSystemFileError(
            "cannot rename " + detail::quotedPath(path) + " to " + detail::quotedPath(newPath), error);
    }
    forgetCreated(native);
}

bool RemoveName(const CUnicodeString& path) {
    const std::string native = ToNativePath(path);
    const int error = removeRetrying(native);
    if (isRefusal(error)) return false;  // the name stays until Delete
    if (error != 0)
        detail::throwSystemFileError("cannot remove the name of " + detail::quotedPath(path), error);
    forgetCreated(native);
    return true;
}

}  // namespace TempFile

}  // namespace Tolm
