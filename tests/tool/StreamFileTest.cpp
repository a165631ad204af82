// The framework files over the system's streams, driven by a stream that
// hands out and takes bytes in pieces and refuses on cue, as pipes and full
// disks do.
#include "StreamFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>

namespace gearset {
namespace {

constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();

// Passes at most `piece` bytes a call (0: a stream that takes nothing) and
// refuses once `refuseAt` bytes have passed.
class PiecewiseStream final : public ByteStream {
public:
    PiecewiseStream(std::string input, std::size_t piece, std::size_t refuseAt = kNever)
        : input_(std::move(input)), piece_(piece), refuseAt_(refuseAt) {}

    std::size_t ReadSome(char* buffer, std::size_t size) override {
        const std::size_t got = std::min({size, piece_, input_.size() - read_, left()});
        if (got == 0 && left() == 0) throw StreamRefusal("Broken pipe");
        input_.copy(buffer, got, read_);
        read_ += got;
        return got;
    }
    std::size_t WriteSome(const char* bytes, std::size_t size) override {
        if (left() == 0) throw StreamRefusal("No space left on device");
        const std::size_t put = std::min({size, piece_, left()});
        written_->append(bytes, put);
        return put;
    }

    // What has been written, readable after the stream has gone into a file.
    std::shared_ptr<std::string> Written() const { return written_; }

private:
    std::size_t left() const { return refuseAt_ - std::min(refuseAt_, read_ + written_->size()); }

    std::string input_;
    std::size_t piece_, refuseAt_, read_ = 0;
    std::shared_ptr<std::string> written_ = std::make_shared<std::string>();
};

std::unique_ptr<Tolm::CBaseFile> InputOf(std::string bytes, std::size_t piece,
                                         std::size_t refuseAt = kNever) {
    return MakeSequentialFile("in", std::make_unique<PiecewiseStream>(std::move(bytes), piece, refuseAt));
}

// The ToolFailure's message, "" when the call went through.
std::string FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const ToolFailure& failure) {
        return failure.what();
    }
    return "";
}

std::string Ascending(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7);
    return bytes;
}

TEST(SequentialFileTest, ReadFillsTheBufferAcrossShortPiecesAndComesShortOnlyAtTheEnd) {
    const std::string bytes = Ascending(25);
    for (const std::size_t piece : {1, 3, 10, 64}) {
        const auto file = InputOf(bytes, piece);
        std::string seen;
        for (const int expected : {10, 10, 5, 0}) {
            char buffer[10];
            EXPECT_EQ(file->Read(buffer, 10), expected) << piece;
            seen.append(buffer, static_cast<std::size_t>(expected));
            EXPECT_EQ(file->GetLength(), static_cast<std::int64_t>(seen.size())) << piece;
            EXPECT_EQ(file->GetPosition(), file->GetLength()) << piece;
        }
        EXPECT_EQ(seen, bytes) << piece;
        EXPECT_EQ(file->Read(nullptr, 0), 0);
    }
}

TEST(SequentialOutputTest, WriteHandsOverEveryByteInOrderAcrossShortPieces) {
    const std::string bytes = Ascending(100);
    for (const std::size_t piece : {1, 7, 100}) {
        auto stream = std::make_unique<PiecewiseStream>("", piece);
        const auto written = stream->Written();
        const auto file = MakeSequentialOutput("out", std::move(stream));
        file->Write(bytes.data(), 60);
        file->Write(bytes.data() + 60, 40);
        file->Write(nullptr, 0);
        EXPECT_EQ(*written, bytes) << piece;
        EXPECT_EQ(file->GetLength(), 100) << piece;
        EXPECT_EQ(file->GetPosition(), 100) << piece;
    }
}

// Five bytes have passed; only a seek to where the file stands goes through.
TEST(SequentialFileTest, OnlyTheCurrentPositionCanBeSought) {
    struct Row {
        std::int64_t offset;
        int origin;
        bool allowed;
    };
    const Row rows[] = {
        {5, Tolm::CBaseFile::begin, true},    {0, Tolm::CBaseFile::current, true},
        {0, Tolm::CBaseFile::begin, false},   {6, Tolm::CBaseFile::begin, false},
        {1, Tolm::CBaseFile::current, false}, {-5, Tolm::CBaseFile::current, false},
        {0, Tolm::CBaseFile::end, false},     {-5, Tolm::CBaseFile::end, false},
    };
    for (const Row& row : rows) {
        const auto input = InputOf("0123456789", 4);
        char buffer[5];
        ASSERT_EQ(input->Read(buffer, 5), 5);
        const auto output = MakeSequentialOutput("out", std::make_unique<PiecewiseStream>("", 4));
        output->Write("01234", 5);
        for (const auto& [file, refusal] :
             {std::pair(input.get(), "'in' can be read only from start to end"),
              std::pair(output.get(), "'out' can be written only from start to end")}) {
            std::int64_t at = -1;
            EXPECT_EQ(FailureOf([&, file = file] { at = file->Seek(row.offset, row.origin); }),
                      row.allowed ? "" : refusal)
                << row.offset << " from " << row.origin;
            if (row.allowed) {
                EXPECT_EQ(at, 5);
            }
            EXPECT_EQ(file->GetPosition(), 5);
        }
    }
}

TEST(SequentialFileTest, WhatEachDirectionCannotDoIsRefusedByName) {
    const auto input = InputOf("abc", 8);
    const auto output = MakeSequentialOutput("standard output", std::make_unique<PiecewiseStream>("", 8));
    char buffer[1];
    const std::pair<std::function<void()>, const char*> rows[] = {
        {[&] { input->Write("x", 1); }, "'in' is open for reading only"},
        {[&] { input->SetLength(0); }, "'in' is open for reading only"},
        {[&] { output->Read(buffer, 1); }, "'standard output' cannot be read"},
        {[&] { output->SetLength(0); }, "'standard output' cannot be cut"},
    };
    for (const auto& [call, refusal] : rows) EXPECT_EQ(FailureOf(call), refusal);
    EXPECT_EQ(input->GetFileName(), u"in");
    EXPECT_EQ(output->GetFileName(), u"standard output");
}

TEST(SequentialFileTest, AStreamThatFailsIsNamedWithTheSystemsReason) {
    char buffer[16];
    EXPECT_EQ(FailureOf([&] { InputOf("0123456789", 4, 6)->Read(buffer, 16); }),
              "cannot read 'in': Broken pipe");
    const auto write = [](std::size_t piece, std::size_t refuseAt) {
        return FailureOf([&] {
            MakeSequentialOutput("NUL", std::make_unique<PiecewiseStream>("", piece, refuseAt))
                ->Write("0123", 4);
        });
    };
    EXPECT_EQ(write(3, 2), "cannot write 'NUL': No space left on device");
    // Asking again of a stream that takes nothing would never end.
    EXPECT_EQ(write(0, kNever), "cannot write 'NUL': it takes no more");
    EXPECT_EQ(write(3, 4), "");
}

TEST(SpoolInputTest, CopiesAllOfTheInputOrNamesWhatFailed) {
    // More than the copy's buffer, in pieces that do not divide it.
    const std::string bytes = Ascending(200000);
    PiecewiseStream input(bytes, 50001), spool("", 30000);
    SpoolInput(input, spool, "/tmp");
    EXPECT_EQ(*spool.Written(), bytes);

    PiecewiseStream brokenInput(bytes, 4096, 10000), fullSpool("", 4096, 10000);
    EXPECT_EQ(FailureOf([&] { SpoolInput(brokenInput, spool, "/tmp"); }),
              "cannot read 'standard input': Broken pipe");
    PiecewiseStream freshInput(bytes, 4096);
    EXPECT_EQ(FailureOf([&] { SpoolInput(freshInput, fullSpool, "C:\\Temp"); }),
              "cannot write a temporary file in 'C:\\Temp': No space left on device");
}

}  // namespace
}  // namespace gearset
