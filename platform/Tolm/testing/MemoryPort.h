// A whole port to a system in memory, for tests: files and folders, a fixed
// clock and zone, every call counted and any chosen one failed. It keeps the
// POSIX rules or, when asked, Windows' own, which Wine does not enforce:
//   - a path of 260 characters or more is refused unless in the long form
//     "\\?\", and in an ordinary path trailing dots and spaces are trimmed
//     from each name and '/' is '\';
//   - no mapped view reaches past the file's end, and no file is cut while a
//     view of it is mapped;
//   - a file that another opener holds (Hold: a virus scanner, an indexer)
//     refuses to be removed until that opener lets go;
//   - a removed file keeps its name until its last handle closes.
// The port formats paths as its system's binding does, so that the
// framework's calls meet the system's rules exactly as on that system.
//
//     Tolm::testing::MemoryPort port(Tolm::testing::MemoryPort::kWindowsRules);
//     Tolm::CFile file(u"C:\\work\\a.bin", Tolm::CFile::kNewReadWrite);  // through the port
//
// Installs itself as the port in force while it lives. Not thread-safe.
#pragma once

#include "SystemPort.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Tolm::testing {

class MemoryPort final : public detail::SystemPort {
public:
    using Bytes = std::vector<unsigned char>;
    enum Rules { kPosixRules, kWindowsRules };
    // Views of a file reach no further than this many bytes: its bytes are
    // reserved for them, so that they never move while a view is mapped.
    static constexpr std::int64_t kViewRoom = std::int64_t{64} << 20;
    // The folder relative paths start from: "/work" or "C:\work".
    static const char* CurrentFolder(Rules rules) { return rules == kWindowsRules ? "C:\\work" : "/work"; }

    explicit MemoryPort(Rules rules = kPosixRules);
    ~MemoryPort() override;

    // The call numbered callNumber (counting from 0 over the port and every
    // file) fails with error; -1 fails none.
    void FailCall(long callNumber, int error) {
        failAt_ = callNumber;
        error_ = error;
    }
    long Calls() const { return calls_; }
    bool Failed() const { return failed_; }
    // Every file opened from now on has lost its name, and so offers views.
    void Nameless() { nameless_ = true; }
    // Another opener holds the file at path (as the system names it) and
    // refuses its removal for the next `refusals` attempts (-1: until Release).
    void Hold(const std::string& path, int refusals = -1);
    void Release(const std::string& path) { Hold(path, 0); }
    // Every file created from now on is held so, the moment it appears.
    void HoldNewFiles(int refusals) { newFileRefusals_ = refusals; }
    // The file's bytes, by the name the system gives it (SystemName).
    Bytes& Contents(const std::string& path);
    bool Exists(const std::string& path) const;
    // The names of the files and folders directly in folder (a system name).
    std::set<std::string> Listing(const std::string& folder) const;
    // The name the system gives path: under Windows' rules its long form.
    std::string SystemName(const std::string& path) const;
    // Milliseconds waited in pause, and the views mapped now.
    long PausedMilliseconds() const { return pausedMilliseconds_; }
    int MappedViews() const;

    void SetNow(std::int64_t utcTicks) { nowUtcTicks_ = utcTicks; }
    void SetZoneOffset(std::int64_t secondsEast) { zoneOffsetSeconds_ = secondsEast; }
    void SetTemporaryFolder(std::string folder) { temporaryFolder_ = std::move(folder); }

    const detail::PathGrammar& paths() const override;
    std::unique_ptr<detail::SystemFile> open(const std::string& path,
                                             const detail::SystemOpenRequest& request, int& error) override;
    int remove(const std::string& path) override;
    int rename(const std::string& from, const std::string& to) override;
    int makeDirectory(const std::string& path) override;
    bool isDirectory(const std::string& path) override;
    std::string temporaryFolder() override { return temporaryFolder_; }
    std::int64_t nowUtcTicks() override { return nowUtcTicks_; }
    std::int64_t zoneOffsetAtUtc(std::int64_t) override { return zoneOffsetSeconds_; }
    detail::SystemErrorDescription describe(int error) override;
    void pause(int milliseconds) override { pausedMilliseconds_ += milliseconds; }
    // Programs are not this port's business: the system's answer.
    HINSTANCE mainProgramHandle() noexcept override { return detail::platformPort().mainProgramHandle(); }

private:
    class File;
    struct Node {
        Bytes bytes;
        int handles = 0;
        int mappedViews = 0;
        int refusalsLeft = 0;  // of a removal, while another opener holds it; -1 for ever
        bool hasName = true;
    };

    bool fails(int& error);
    // The system's name for path, or an error for a path the system refuses.
    int nameOf(const std::string& path, std::string& name) const;
    std::string parentOf(const std::string& name) const;
    void closed(const std::shared_ptr<Node>& node);

    Rules rules_;
    std::map<std::string, std::shared_ptr<Node>> files_;
    std::set<std::string> folders_;
    long calls_ = 0;
    long failAt_ = -1;
    int error_ = 0;
    bool failed_ = false;
    bool nameless_ = false;
    int newFileRefusals_ = 0;
    long pausedMilliseconds_ = 0;
    std::int64_t nowUtcTicks_;
    std::int64_t zoneOffsetSeconds_ = 0;
    std::string temporaryFolder_;
};

}  // namespace Tolm::testing
