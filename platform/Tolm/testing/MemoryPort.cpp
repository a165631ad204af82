#include "MemoryPort.h"

#include <Tolm/String.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Tolm::testing {

namespace {

// Windows' limit on a path that is not in the long form, its terminating
// zero included.
constexpr std::size_t kMaxOrdinaryPath = 260;
// 2024-01-02 03:04:05 UTC, in 100-ns ticks since 1601.
constexpr std::int64_t kDefaultNow = std::int64_t{133'486'550'450'000'000};

}  // namespace

class MemoryPort::File final : public detail::SystemFile {
public:
    File(MemoryPort& port, std::shared_ptr<Node> node) : port_(port), node_(std::move(node)) {
        ++node_->handles;
    }
    ~File() override {
        if (isOpen_) port_.closed(node_);
    }

    std::int64_t readAt(void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        if (port_.fails(error)) return -1;
        const auto size = static_cast<std::int64_t>(node_->bytes.size());
        const std::int64_t n = offset >= size ? 0 : std::min(count, size - offset);
        if (n > 0) std::memcpy(bytes, node_->bytes.data() + offset, static_cast<std::size_t>(n));
        return n;
    }
    std::int64_t writeAt(const void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        if (port_.fails(error)) return -1;
        if (!fits(offset + count)) {
            error = ENOSPC;
            return -1;
        }
        Bytes& data = node_->bytes;
        if (data.size() < static_cast<std::size_t>(offset + count))
            data.resize(static_cast<std::size_t>(offset + count));
        std::memcpy(data.data() + offset, bytes, static_cast<std::size_t>(count));
        return count;
    }
    int setLength(std::int64_t length) override {
        int error = 0;
        if (port_.fails(error)) return error;
        Bytes& data = node_->bytes;
        if (node_->mappedViews > 0 && static_cast<std::size_t>(length) < data.size())
            return EBUSY;  // Windows cuts no file under a view (and nor do these)
        if (!fits(length)) return ENOSPC;
        data.resize(static_cast<std::size_t>(length));
        return 0;
    }
    int status(detail::SystemFileStatus& status) override {
        int error = 0;
        if (port_.fails(error)) return error;
        status.isRegular = true;
        status.hasName = hasName();
        status.device = 1;
        status.inode = reinterpret_cast<std::uintptr_t>(node_.get());
        status.length = static_cast<std::int64_t>(node_->bytes.size());
        return 0;
    }
    int close() override {
        int error = 0;
        port_.fails(error);
        isOpen_ = false;
        port_.closed(node_);
        return error;
    }
    const unsigned char* mapView(std::int64_t offset, std::int64_t count) override {
        const auto size = static_cast<std::int64_t>(node_->bytes.size());
        if (hasName() || offset + count > kViewRoom) return nullptr;
        if (port_.rules_ == kWindowsRules && offset + count > size) return nullptr;  // never past the end
        node_->bytes.reserve(static_cast<std::size_t>(kViewRoom));
        ++node_->mappedViews;
        return node_->bytes.data() + offset;
    }
    void unmapView(const unsigned char*, std::int64_t) override { --node_->mappedViews; }
    std::int64_t viewAlignment() const override { return port_.rules_ == kWindowsRules ? 65536 : 4096; }

private:
    bool hasName() const { return node_->hasName && !port_.nameless_; }
    // Bytes of a file that offers views stay within their reserved room.
    bool fits(std::int64_t length) const {
        return !node_->mappedViews || static_cast<std::size_t>(length) <= node_->bytes.capacity();
    }

    MemoryPort& port_;
    std::shared_ptr<Node> node_;
    bool isOpen_ = true;
};

MemoryPort::MemoryPort(Rules rules)
    : rules_(rules),
      nowUtcTicks_(kDefaultNow),
      temporaryFolder_(rules == kWindowsRules ? "C:\\temp" : "/tmp") {
    if (rules_ == kWindowsRules) {
        folders_ = {"\\\\?\\C:\\", "\\\\?\\C:\\work", "\\\\?\\C:\\temp"};
    } else {
        folders_ = {"/", "/work", "/tmp"};
    }
    detail::setSystemPort(this);
}

MemoryPort::~MemoryPort() { detail::setSystemPort(nullptr); }

const detail::PathGrammar& MemoryPort::paths() const {
    return rules_ == kWindowsRules ? detail::windowsPaths() : detail::posixPaths();
}

bool MemoryPort::fails(int& error) {
    if (calls_++ != failAt_) return false;
    failed_ = true;
    error = error_;
    return true;
}

std::string MemoryPort::SystemName(const std::string& path) const {
    if (rules_ != kWindowsRules) return path;
    const CUnicodeString current = CUnicodeString::FromUtf8(CurrentFolder(rules_));
    return CUnicodeString(detail::windowsLongForm(CUnicodeString::FromUtf8(path).View(), current.View()))
        .ToUtf8();
}

// What the binding hands the system, and what the system makes of it.
int MemoryPort::nameOf(const std::string& path, std::string& name) const {
    if (path.empty()) return ENOENT;
    name = SystemName(path);
    if (rules_ != kWindowsRules) return 0;
    if (!name.starts_with("\\\\?\\")) {
        if (name.starts_with("\\\\.\\")) return EACCES;  // no devices here
        // An ordinary path: limited, and its names trimmed.
        if (CUnicodeString::FromUtf8(name).View().size() >= kMaxOrdinaryPath) return ENAMETOOLONG;
    }
    return 0;
}

std::string MemoryPort::parentOf(const std::string& name) const {
    const char separator = rules_ == kWindowsRules ? '\\' : '/';
    const std::size_t end = name.find_last_of(separator);
    if (end == std::string::npos) return {};
    if (rules_ == kWindowsRules && end + 1 == name.find(':') + 2)
        return name.substr(0, end + 1);  // "\\?\C:\"
    return end == 0 ? std::string(1, separator) : name.substr(0, end);
}

std::unique_ptr<detail::SystemFile> MemoryPort::open(const std::string& path,
                                                     const detail::SystemOpenRequest& request, int& error) {
    if (fails(error)) return nullptr;
    std::string name;
    if ((error = nameOf(path, name)) != 0) return nullptr;
    if (folders_.count(name)) {
        error = EISDIR;
        return nullptr;
    }
    auto found = files_.find(name);
    if (found != files_.end() && !found->second->hasName) {
        error = EACCES;  // a delete is pending (Windows)
        return nullptr;
    }
    if (found == files_.end()) {
        if (!request.create) {
            error = ENOENT;
            return nullptr;
        }
        if (rules_ == kWindowsRules && !folders_.count(parentOf(name))) {
            error = ENOENT;
            return nullptr;
        }
        found = files_.emplace(name, std::make_shared<Node>()).first;
        found->second->refusalsLeft = newFileRefusals_;
    } else if (request.create && request.exclusive) {
        error = EEXIST;
        return nullptr;
    }
    if (request.truncate) found->second->bytes.clear();
    return std::make_unique<File>(*this, found->second);
}

int MemoryPort::remove(const std::string& path) {
    int error = 0;
    if (fails(error)) return error;
    std::string name;
    if ((error = nameOf(path, name)) != 0) return error;
    const auto found = files_.find(name);
    if (found == files_.end() || !found->second->hasName) return ENOENT;
    Node& node = *found->second;
    if (node.refusalsLeft != 0) {
        if (node.refusalsLeft > 0) --node.refusalsLeft;
        return EACCES;  // ERROR_SHARING_VIOLATION
    }
    node.hasName = false;
    // Windows keeps the name until the last handle closes; POSIX frees it now.
    if (rules_ != kWindowsRules || node.handles == 0) files_.erase(found);
    return 0;
}

void MemoryPort::closed(const std::shared_ptr<Node>& node) {
    if (--node->handles > 0 || node->hasName) return;
    for (auto it = files_.begin(); it != files_.end(); ++it) {
        if (it->second == node) {
            files_.erase(it);
            return;
        }
    }
}

int MemoryPort::rename(const std::string& from, const std::string& to) {
    int error = 0;
    if (fails(error)) return error;
    std::string fromName, toName;
    if ((error = nameOf(from, fromName)) != 0 || (error = nameOf(to, toName)) != 0) return error;
    const auto found = files_.find(fromName);
    if (found == files_.end() || !found->second->hasName) return ENOENT;
    if (!folders_.count(parentOf(toName)) && rules_ == kWindowsRules) return ENOENT;
    std::shared_ptr<Node> node = found->second;
    files_.erase(found);
    files_[toName] = std::move(node);
    return 0;
}

int MemoryPort::makeDirectory(const std::string& path) {
    int error = 0;
    if (fails(error)) return error;
    std::string name;
    if ((error = nameOf(path, name)) != 0) return error;
    if (folders_.count(name) || files_.count(name)) return EEXIST;
    const std::string parent = parentOf(name);
    if (files_.count(parent)) return ENOTDIR;
    if (!folders_.count(parent)) return ENOENT;
    folders_.insert(name);
    return 0;
}

bool MemoryPort::isDirectory(const std::string& path) {
    std::string name;
    return nameOf(path, name) == 0 && folders_.count(name) != 0;
}

detail::SystemErrorDescription MemoryPort::describe(int error) { return {std::strerror(error)}; }

void MemoryPort::Hold(const std::string& path, int refusals) {
    files_.at(SystemName(path))->refusalsLeft = refusals;
}

MemoryPort::Bytes& MemoryPort::Contents(const std::string& path) {
    auto& node = files_[SystemName(path)];
    if (!node) node = std::make_shared<Node>();
    return node->bytes;
}

bool MemoryPort::Exists(const std::string& path) const {
    const std::string name = SystemName(path);
    return folders_.count(name) != 0 || files_.count(name) != 0;
}

std::set<std::string> MemoryPort::Listing(const std::string& folder) const {
    std::set<std::string> names;
    const std::string name = SystemName(folder);
    const auto add = [&](const std::string& entry) {
        if (entry != name && parentOf(entry) == name)
            names.insert(entry.substr(entry.find_last_of("\\/") + 1));
    };
    for (const auto& [entry, node] : files_) add(entry);
    for (const std::string& entry : folders_) add(entry);
    return names;
}

int MemoryPort::MappedViews() const {
    int views = 0;
    for (const auto& [name, node] : files_) views += node->mappedViews;
    return views;
}

}  // namespace Tolm::testing
