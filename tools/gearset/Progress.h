// Progress of long work on the tool's stderr, for a person at a terminal.
//
// A meter draws one line that it rewrites in place ("copy: 41% (1.2 of 2.9 GiB)")
// at most a few times a second, and erases it when done. A meter made with
// `enabled` false draws nothing, so callers need not test: the tool enables
// meters only when stderr is a terminal, and output that scripts read stays
// clean.
//
//     ProgressMeter meter("scan", fileBytes, ProgressMeter::Unit::bytes, IsTerminal(stderr));
//     meter.Update(doneBytes);  // as often as convenient
//     meter.Finish();           // also done by the destructor
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace gearset {

class ProgressMeter {
public:
    enum class Unit { bytes, records };

    ProgressMeter(std::string label, std::int64_t total, Unit unit, bool enabled, std::FILE* stream = stderr);
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    void Update(std::int64_t done);
    void Finish();

    // The line for `done` of `total`, without control characters:
    // "copy: 41% (1.2 of 2.9 GiB)", "write: 7% (700 of 10000 records)".
    static std::string Describe(const std::string& label, std::int64_t done, std::int64_t total, Unit unit);

private:
    std::string label_;
    std::int64_t total_;
    Unit unit_;
    bool enabled_;
    std::FILE* stream_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace gearset
