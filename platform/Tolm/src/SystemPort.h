// The framework's one port to the operating system. Every operation the
// framework asks of the system goes through the port in force: opening a
// file, removing, renaming, making and asking for folders, the temporary
// folder, the clock, the zone offset, the text of an error, and the rules by
// which paths are read. Each system has one binding (PosixPort.cpp,
// WindowsPort.cpp), picked by the build; tests put a port of their own in its
// place whole, or wrap the binding and change one call (PortWrapper), the way
// an Env or a VFS is replaced. Private to Tolmbase; tests reach it through
// the framework's source folder.
//
// Paths reach the port as the framework names them (UTF-8, see ToNativePath);
// the port turns them into what its system takes. Failures are errno values
// (the POSIX meaning, e.g. ENOSPC, on every system); the port keeps what its
// system said of the last failure on the calling thread, so that a message
// can give the system's own code and text (describe).
#pragma once

#include "PathGrammar.h"
#include "SystemFile.h"

#include <Tolm/Types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace Tolm::detail {

// What the system said of a failure: its text, and its own number for it
// where the system numbers its errors otherwise than errno (the Windows error
// code; 0 on POSIX).
struct SystemErrorDescription {
    std::string text;
    long systemCode = 0;
};

class TOLM_API SystemPort {
public:
    SystemPort() = default;
    SystemPort(const SystemPort&) = delete;
    SystemPort& operator=(const SystemPort&) = delete;
    virtual ~SystemPort();

    // How this system reads and joins paths.
    virtual const PathGrammar& paths() const = 0;

    // Opens path; null with error set on failure.
    virtual std::unique_ptr<SystemFile> open(const std::string& path, const SystemOpenRequest& request,
                                             int& error) = 0;
    // 0 or the error. A file that another opener holds open may refuse to go
    // for a while (Windows); callers that must not fail for that retry.
    virtual int remove(const std::string& path) = 0;
    // Replaces a file already named to.
    virtual int rename(const std::string& from, const std::string& to) = 0;
    virtual int makeDirectory(const std::string& path) = 0;
    virtual bool isDirectory(const std::string& path) = 0;
    // The folder for temporary files, without a separator at its end.
    virtual std::string temporaryFolder() = 0;

    // Now, as 100-ns ticks since 1 January 1601 UTC.
    virtual std::int64_t nowUtcTicks() = 0;
    // Seconds east of UTC in the local zone at the UTC instant (seconds since
    // 1970), by the zone's rules for that instant.
    virtual std::int64_t zoneOffsetAtUtc(std::int64_t unixSeconds) = 0;

    // What the system said of error, the last failure on this thread when it
    // was that error, or the system's text for the errno value otherwise.
    virtual SystemErrorDescription describe(int error) = 0;
    // Waits a moment before a retry.
    virtual void pause(int milliseconds) = 0;
    // The handle of the process's main program; null when the system cannot tell.
    virtual HINSTANCE mainProgramHandle() noexcept = 0;
};

// Forwards every call to another port, so that a test overrides only the
// calls it is about.
class TOLM_API PortWrapper : public SystemPort {
public:
    explicit PortWrapper(SystemPort& target) : target_(target) {}
    SystemPort& target() const { return target_; }

    const PathGrammar& paths() const override { return target_.paths(); }
    std::unique_ptr<SystemFile> open(const std::string& path, const SystemOpenRequest& request,
                                     int& error) override {
        return target_.open(path, request, error);
    }
    int remove(const std::string& path) override { return target_.remove(path); }
    int rename(const std::string& from, const std::string& to) override { return target_.rename(from, to); }
    int makeDirectory(const std::string& path) override { return target_.makeDirectory(path); }
    bool isDirectory(const std::string& path) override { return target_.isDirectory(path); }
    std::string temporaryFolder() override { return target_.temporaryFolder(); }
    std::int64_t nowUtcTicks() override { return target_.nowUtcTicks(); }
    std::int64_t zoneOffsetAtUtc(std::int64_t unixSeconds) override {
        return target_.zoneOffsetAtUtc(unixSeconds);
    }
    SystemErrorDescription describe(int error) override { return target_.describe(error); }
    void pause(int milliseconds) override { target_.pause(milliseconds); }
    HINSTANCE mainProgramHandle() noexcept override { return target_.mainProgramHandle(); }

private:
    SystemPort& target_;
};

// The port in force: the binding's, unless a test set another.
TOLM_API SystemPort& systemPort();
// The binding of the system the build is for.
TOLM_API SystemPort& platformPort();
// Puts port in force for every later call of the framework; null restores
// the binding's. Process-wide: set it while no other thread uses the
// framework's files. Files opened before keep the port they came from.
TOLM_API void setSystemPort(SystemPort* port);

}  // namespace Tolm::detail
