// What the project's tests share: a recorder of broken-precondition reports,
// a catcher of framework exceptions, and content that compresses like a PDF.
//
//     GearsetTest::ReportRecorder reports;       // reports return while it lives
//     const auto caught = GearsetTest::Catch([&] { file.Read(nullptr, -1); });
//     EXPECT_EQ(caught.kind, Tolm::CException::Kind::argument);
//     EXPECT_EQ(reports.Count("Src\\BasicTools"), 1);
#pragma once

#include <Tolm/Error.h>
#include <Tolm/String.h>

#include <algorithm>
#include <cstddef>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace Tolm {
// Lets GoogleTest print framework strings in its messages.
inline void PrintTo(const CUnicodeString& text, std::ostream* out) { *out << '"' << text.ToUtf8() << '"'; }
}  // namespace Tolm

namespace GearsetTest {

// Records every broken-precondition report and lets the code after the check
// run, for the life of the object. The handler is process-wide: one recorder
// at a time.
class ReportRecorder {
public:
    ReportRecorder() : previous_(Tolm::SetInternalErrorHandler(&record)) { reports_.clear(); }
    ~ReportRecorder() { Tolm::SetInternalErrorHandler(previous_); }
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    // The reports naming this source file ("Src\\BasicTools", or a framework
    // path), or all of them.
    int Count(const std::string& file = {}) const {
        return static_cast<int>(std::count_if(reports_.begin(), reports_.end(), [&](const auto& report) {
            return file.empty() || report.file == file;
        }));
    }
    const std::vector<Tolm::InternalErrorReport>& Reports() const { return reports_; }
    const Tolm::InternalErrorReport& Last() const { return reports_.back(); }
    // Whether the last report names a source file of the framework itself.
    bool LastFromFramework() const { return Last().file.find("platform/Tolm/src/") != std::string::npos; }

private:
    static bool record(const Tolm::InternalErrorReport& report) {
        reports_.push_back(report);
        return false;
    }
    inline static std::vector<Tolm::InternalErrorReport> reports_;
    Tolm::InternalErrorHandler previous_;
};

// What a call threw as a framework exception; `thrown` false (and a kind no
// test expects) when it threw none.
struct Caught {
    bool thrown = false;
    Tolm::CException::Kind kind = Tolm::CException::Kind::internal;
    std::string message;
    int systemError = 0;
};

template <class Call>
Caught Catch(Call&& call) {
    try {
        call();
    } catch (Tolm::CException* error) {
        Caught caught{true, error->GetKind(), error->GetMessage(), error->GetSystemError()};
        error->Delete();
        return caught;
    }
    return {};
}

// Bytes that do not compress, the same for the same seed.
inline std::vector<unsigned char> RandomBytes(std::size_t count, unsigned seed = 1) {
    std::vector<unsigned char> bytes(count);
    std::mt19937 random(seed);
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
    return bytes;
}

// Bytes that compress like a PDF page: runs of text operators with one
// 256-byte run of random binary in every eight (which one depends on the seed).
inline std::vector<unsigned char> PdfLikeBytes(std::size_t count, unsigned seed = 1) {
    static const std::string kText =
        "BT /F1 12 Tf 72 712 Td (Hello, record store) Tj ET\nq 1 0 0 1 0 0 cm Q\n";
    std::vector<unsigned char> bytes(count);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < count; ++i) {
        const bool text = (i / 256) % 8 != seed % 8;
        bytes[i] =
            text ? static_cast<unsigned char>(kText[i % kText.size()]) : static_cast<unsigned char>(random());
    }
    return bytes;
}

}  // namespace GearsetTest
