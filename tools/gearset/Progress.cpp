#include "Progress.h"

#include "Output.h"

#include <utility>

namespace gearset {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

std::string bytesText(std::int64_t done, std::int64_t total) {
    static constexpr const char* kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    double scale = 1;
    while (unit < 4 && static_cast<double>(total) >= scale * 1024) {
        scale *= 1024;
        ++unit;
    }
    char text[96];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%lld of %lld bytes", static_cast<long long>(done),
                      static_cast<long long>(total));
    } else {
        std::snprintf(text, sizeof text, "%.1f of %.1f %s", static_cast<double>(done) / scale,
                      static_cast<double>(total) / scale, kUnits[unit]);
    }
    return text;
}

}  // namespace

ProgressMeter::ProgressMeter(std::string label, std::int64_t total, Unit unit, bool enabled,
                             std::FILE* stream)
    : label_(std::move(label)), total_(total), unit_(unit), enabled_(enabled), stream_(stream) {}

ProgressMeter::~ProgressMeter() { Finish(); }

std::string ProgressMeter::Describe(const std::string& label, std::int64_t done, std::int64_t total,
                                    Unit unit) {
    const int percent =
        total > 0 ? static_cast<int>(static_cast<double>(done) * 100.0 / static_cast<double>(total)) : 100;
    std::string amount;
    if (unit == Unit::bytes) {
        amount = bytesText(done, total);
    } else {
        amount = std::to_string(done) + " of " + std::to_string(total) + " records";
    }
    return label + ": " + std::to_string(percent) + "% (" + amount + ")";
}

void ProgressMeter::Update(std::int64_t done) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    drawn_ = true;
    // Carriage return, the line, then erase whatever a longer line left.
    Print(stream_, "\r%s\x1b[K", Describe(label_, done, total_, unit_).c_str());
    std::fflush(stream_);
}

void ProgressMeter::Finish() {
    if (!enabled_ || !drawn_) return;
    Put(stream_, "\r\x1b[K");
    std::fflush(stream_);
    drawn_ = false;
}

}  // namespace gearset
