// The parts of the tool linked in directly: the argument parser, the texts of
// the command line, the progress line, the copy check and the windowed scan.
#include "Arguments.h"
#include "FileOutput.h"
#include "Formats.h"
#include "Output.h"
#include "Platform.h"
#include "Progress.h"
#include "WindowedScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <unistd.h>

namespace gearset {
namespace {

const CommandSyntax kScan{"scan",
                          "[--last] [--before N] FILE PATTERN",
                          "Finds a byte pattern.",
                          {{"last", "", "last match"}, {"before", "N", "end at or before N"}},
                          {"FILE", "PATTERN"},
                          2,
                          2};

// What the parser made of the arguments, or its one-line complaint.
std::string Parsed(const CommandSyntax& syntax, const std::vector<std::string>& args) {
    try {
        const ParsedArguments parsed = ParseArguments(syntax, std::span<const std::string>(args));
        std::string text = parsed.HelpRequested()      ? "help "
                           : parsed.VersionRequested() ? "version "
                           : parsed.Has("last")        ? "last "
                                                       : "";
        if (parsed.Quiet()) text += "quiet ";
        if (parsed.Value("before")) text += "before=" + *parsed.Value("before") + " ";
        for (const std::string& positional : parsed.Positionals()) text += "[" + positional + "]";
        return text;
    } catch (const UsageError& error) {
        return error.what();
    }
}

TEST(ArgumentsTest, ParsesOrSaysWhatIsWrongInOneLine) {
    const std::pair<std::vector<std::string>, const char*> rows[] = {
        {{"--last", "--before", "9", "f", "p"}, "last before=9 [f][p]"},
        {{"f", "--last", "p", "--before=9"}, "last before=9 [f][p]"},
        {{"-", "--", "--last"}, "[-][--last]"},
        {{"--before", "--last", "--before=", "f", "p"}, "before= [f][p]"},  // the last value wins
        {{"--bogus", "-h"}, "help "},
        {{"--", "--help"}, "missing PATTERN"},
        {{"-V", "-h"}, "version "},  // the first of help and version wins
        {{"f", "--help", "--version"}, "help "},
        {{"f", "-q", "p", "--quiet"}, "quiet [f][p]"},
        {{"--", "-q", "-V"}, "[-q][-V]"},
        {{}, "missing FILE"},
        {{"f", "p", "x"}, "unexpected argument 'x'"},
        {{"--lats=3", "f", "p"}, "unknown option '--lats'"},
        {{"-l", "f", "p"}, "unknown option '-l'"},
        {{"--last=yes", "f", "p"}, "option --last takes no value"},
        {{"f", "p", "--before"}, "option --before needs a value N"},
    };
    for (const auto& [args, expected] : rows) EXPECT_EQ(Parsed(kScan, args), expected);
    EXPECT_EQ(FormatHelp(kScan),
              "Usage: gearset scan [--last] [--before N] FILE PATTERN\n\nFinds a byte pattern.\n\nOptions:\n"
              "  --last         last match\n"
              "  --before N     end at or before N\n"
              "  -q, --quiet    draw no progress on stderr\n"
              "  -h, --help     show this help and exit\n"
              "  -V, --version  show the version and exit\n"
              "  --             end the options: later arguments stand as written, even '-x'\n");
}

TEST(ArgumentsTest, IntegersMustBeWholeAndInRange) {
    for (const auto& [text, value] :
         {std::pair("+10", std::int64_t{10}), {"-5", -5}, {"9223372036854775807", INT64_MAX}})
        EXPECT_EQ(ParseInteger(text, "N", -5, INT64_MAX), value);
    for (const char* bad : {"", "+", "+-1", "11", "-6", "1x", " 1", "99999999999999999999"})
        EXPECT_THROW(ParseInteger(bad, "--count", -5, 10), UsageError) << "'" << bad << "'";
}

TEST(FormatsTest, PatternsTakeBytesAsTheyStandWithHexAndBackslashEscapes) {
    for (const auto& [text, bytes] : {std::pair("endobj", std::string("endobj")),
                                      {"obj\\x0A", "obj\n"},
                                      {"\\x00\\xff\\xFF", std::string("\0\xff\xff", 3)},
                                      {"a\\\\b", "a\\b"},
                                      {"\\\\x41", "\\x41"}}) {
        EXPECT_EQ(ParsePattern(text), bytes) << text;
    }
    for (const char* bad : {"", "\\n", "a\\x4", "\\xG1", "\\x4G"})
        EXPECT_THROW(ParsePattern(bad), UsageError) << bad;
}

TEST(FormatsTest, TimeTextRoundTripsAndRefusesImpossibleFields) {
    EXPECT_EQ(FormatTimeText(ParseTimeText("2024-02-29T23:59:59")), "2024-02-29 23:59:59");
    EXPECT_EQ(FormatTimeText(ParseTimeText("1601-01-01 00:00:00")), "1601-01-01 00:00:00");
    EXPECT_EQ(FormatTimeText(ParseTimeText("2000-02-29 12:00:00")), "2000-02-29 12:00:00");
    for (const char* bad :
         {"2024-01-02", "2024/01/02 03:04:05", "2024-01-02 03:04:0x", "1600-12-31 23:59:59",
          "2024-13-01 00:00:00", "2024-00-10 00:00:00", "2023-02-29 00:00:00", "2100-02-29 00:00:00",
          "2024-04-31 00:00:00", "2024-01-02 24:00:00", "2024-01-02 00:60:00", "2024-01-02 00:00:60"})
        EXPECT_THROW(ParseTimeText(bad), UsageError) << bad;
}

TEST(FormatsTest, Utf8ValidationRefusesMalformedSequences) {
    // U+FFFD written out is text like any other, not a sign of a decoding error.
    for (const char* good :
         {"abc\xC3\xBC", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xEF\xBF\xBD"})
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    // A stray continuation, a cut sequence, a bad continuation, overlong, surrogate, a pair of
    // surrogates each written as three bytes, past U+10FFFF, a five-byte lead.
    for (const char* bad : {"\x80", "a\xC3", "a\xC3(", "\xE0\x80\x80", "\xC0\xAF", "\xED\xA0\x80",
                            "\xED\xA0\xBD\xED\xB2\xA9", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}

TEST(ProgressTest, DescribesPercentAndAmountInAReadableUnit) {
    using Unit = ProgressMeter::Unit;
    for (const auto& [done, total, unit, expected] :
         {std::tuple(std::int64_t{512}, std::int64_t{2048}, Unit::bytes, "copy: 25% (0.5 of 2.0 KiB)"),
          {5, 1000, Unit::bytes, "copy: 0% (5 of 1000 bytes)"},
          {std::int64_t{1} << 29, std::int64_t{3} << 30, Unit::bytes, "copy: 16% (0.5 of 3.0 GiB)"},
          {700, 10000, Unit::records, "copy: 7% (700 of 10000 records)"},
          {0, 0, Unit::records, "copy: 100% (0 of 0 records)"}}) {
        EXPECT_EQ(ProgressMeter::Describe("copy", done, total, unit), expected);
    }
}

TEST(ProgressTest, DrawsOneRewrittenLineAndErasesItOnlyWhenEnabled) {
    for (const auto& [enabled, updates, expected] :
         {std::tuple(true, 2, "\rcopy: 33% (1.0 of 3.0 MiB)\x1b[K\r\x1b[K"), {false, 2, ""}, {true, 0, ""}}) {
        std::FILE* stream = std::tmpfile();
        {
            ProgressMeter meter("copy", 3 << 20, ProgressMeter::Unit::bytes, enabled, stream);
            for (int i = 1; i <= updates; ++i)
                meter.Update(i << 20);  // the second within the redraw interval
        }
        std::string text(100, '\0');
        std::rewind(stream);
        text.resize(std::fread(text.data(), 1, text.size(), stream));
        std::fclose(stream);
        EXPECT_EQ(text, expected);
    }
}

namespace fs = std::filesystem;

class WindowedScanTest : public ::testing::Test {
protected:
    void TearDown() override { fs::remove(path_); }
    FileWindows Write(const std::string& bytes) const {
        std::ofstream(path_, std::ios::binary) << bytes;
        return FileWindows(path_.string());
    }
    const fs::path path_ = fs::temp_directory_path() / ("gearset-scan-test-" + std::to_string(::getpid()));
};

// Random bytes from a small alphabet, so that partial matches abound, with the
// pattern planted across window edges; and a file that matches at both ends.
TEST_F(WindowedScanTest, AgreesWithAPlainScanForEveryWindowSize) {
    std::mt19937 random(7);
    std::string random5000(5000, '\0');
    for (char& c : random5000) c = "abc"[random() % 3];
    random5000.replace(1021, 5, "abcab");  // across a 1024-byte window edge
    random5000.replace(4093, 5, "abcab");
    for (const std::string& content : {random5000, std::string("xyzxyz"), std::string()}) {
        FileWindows file = Write(content);
        for (const std::string pattern : {"abcab", "c", "aaaaaaaa", "abcabcabcx", "xyz", "xyzxyzx"}) {
            const Tolm::CString wanted(pattern.data(), static_cast<int>(pattern.size()));
            const auto plain = [](std::size_t at) { return at == std::string::npos ? -1 : std::int64_t(at); };
            for (std::int64_t window : {1, 2, 7, 64, 1024, 1 << 20}) {
                SCOPED_TRACE(pattern + " in " + std::to_string(content.size()) + " window " +
                             std::to_string(window));
                EXPECT_EQ(FindFirst(file, wanted, window), plain(content.find(pattern)));
                for (std::int64_t lastByte : {-1, 4, 5, 1025, 4097, 1 << 30}) {
                    // The last match that ends at or before lastByte.
                    const std::string head =
                        content.substr(0, std::clamp<std::int64_t>(lastByte + 1, 0, std::ssize(content)));
                    EXPECT_EQ(FindLast(file, wanted, lastByte, window), plain(head.rfind(pattern)))
                        << lastByte;
                }
            }
        }
    }
}

// A memory file whose length another writer changes once the first block of a
// copy has been read.
class ChangingFile final : public Tolm::CMemoryFile {
public:
    ChangingFile(const std::string& bytes, std::int64_t lengthAfterFirstRead)
        : lengthAfterFirstRead_(lengthAfterFirstRead) {
        CMemoryFile::Write(bytes.data(), static_cast<int>(bytes.size()));
        SeekToBegin();
    }
    int Read(void* buffer, int count) override {
        const int got = CMemoryFile::Read(buffer, count);
        if (std::exchange(firstRead_, false)) SetLength(lengthAfterFirstRead_);
        return got;
    }

private:
    std::int64_t lengthAfterFirstRead_;
    bool firstRead_ = true;
};

TEST(CopyWholeTest, FailsWhenTheSourceChangesLengthWhileItIsRead) {
    const std::string bytes(20000, 'b');
    const std::int64_t whole = static_cast<std::int64_t>(bytes.size());
    struct Row {
        std::int64_t lengthAfterFirstRead, startLength;
        bool fails;
    };
    for (const Row& row : {Row{whole, whole, false}, Row{whole - 9000, whole, true},
                           Row{whole + 1, whole, true}, Row{5000, -1, false}}) {
        ChangingFile source(bytes, row.lengthAfterFirstRead);
        Tolm::CMemoryFile target;
        ProgressMeter meter("copy", whole, ProgressMeter::Unit::bytes, false);
        std::string failure;
        try {
            CopyWhole(source, row.startLength, target, "src", meter);
        } catch (const ToolFailure& error) {
            failure = error.what();
        }
        EXPECT_EQ(failure, row.fails ? "'src' changed size while it was copied" : "")
            << row.lengthAfterFirstRead;
        if (!row.fails) {
            EXPECT_EQ(target.GetLength(), source.GetLength());
        }
    }
}

// A console cannot be had here, so the choice is checked where it is made:
// what reaches each writer for each kind of stream.
TEST(WriteTextTest, AConsoleGetsUtf16AndEveryOtherStreamTheBytes) {
    struct Row {
        const char* name;
        std::string utf8;
        std::u16string units;  // what a console gets
    };
    const Row rows[] = {
        {"ascii", "scan: -1\n", u"scan: -1\n"},
        {"Cyrillic from text decode FEFF041F", "\xD0\x9F\n", u"\u041F\n"},
        {"a path beyond the BMP", "C:\\Zo\xC3\xAB\xF0\x9F\x98\x80", u"C:\\Zo\u00EB\U0001F600"},
        {"ill-formed bytes", "a\xFF\xC3", u"a\uFFFD\uFFFD"},
        {"empty", "", u""},
    };
    for (const Row& row : rows) {
        for (const StreamKind kind : {StreamKind::console, StreamKind::byteStream}) {
            std::string bytes;
            std::u16string units;
            const StreamWriters writers{[&](std::string_view text) { return bytes.append(text), true; },
                                        [&](std::u16string_view text) { return units.append(text), true; }};
            EXPECT_TRUE(WriteText(kind, row.utf8, writers)) << row.name;
            if (kind == StreamKind::console) {
                EXPECT_EQ(std::tuple(bytes, units), std::tuple(std::string(), row.units)) << row.name;
            } else {
                EXPECT_EQ(std::tuple(bytes, units), std::tuple(row.utf8, std::u16string())) << row.name;
            }
        }
    }
    const StreamWriters refusing{[](std::string_view) { return false; },
                                 [](std::u16string_view) { return false; }};
    EXPECT_FALSE(WriteText(StreamKind::console, "x", refusing));
    EXPECT_FALSE(WriteText(StreamKind::byteStream, "x", refusing));
}

// The rows give the path as the tool takes it, or "usage" for a refusal.
TEST(PathArgumentTest, WindowsRulesGiveOneSeparatorAndRefuseWhatTheSystemWouldStrip) {
    const std::pair<const char*, const char*> windowsRows[] = {
        {"r1/r2", "r1\\r2"},
        {"C:/runs\\2024/q1", "C:\\runs\\2024\\q1"},
        {"./a/../b", ".\\a\\..\\b"},
        {"a.b/c d", "a.b\\c d"},
        {"-", "-"},
        {"NUL", "NUL"},
        {"\\\\.\\NUL", "\\\\.\\NUL"},
        {"\\\\server\\share/x", "\\\\server\\share\\x"},
        {"\\\\?\\C:\\a.\\b ", "\\\\?\\C:\\a.\\b "},  // the long form keeps them
        {"\\\\?\\UNC\\server\\share\\x", "\\\\?\\UNC\\server\\share\\x"},
        {"a./b ./c", "usage"},
        {"a/b.", "usage"},
        {"a/b ", "usage"},
        {"x...", "usage"},
        {"...", "usage"},
        {" ", "usage"},
        {"dir./", "usage"},
        {"C:\\x\\y .\\z", "usage"},
    };
    for (const auto& [given, expected] : windowsRows) {
        std::string taken;
        try {
            taken = PathArgument(given, "PATH", PathRules::windows);
        } catch (const UsageError& error) {
            taken = "usage";
            EXPECT_NE(std::string(error.what()).find("PATH '" + std::string(given) + "'"), std::string::npos)
                << error.what();
        }
        EXPECT_EQ(taken, expected) << given;
    }
    // POSIX names may end as they like, and a backslash is a character of a name.
    for (const char* given : {"a./b ./c", "r1/r2", "a\\b.", "-", "\\\\?\\x"})
        EXPECT_EQ(PathArgument(given, "PATH", PathRules::posix), given);
}

}  // namespace
}  // namespace gearset
