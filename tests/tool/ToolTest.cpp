// The gearset tool end to end: arguments, exit status, and the output that
// scripts rely on, checked exactly. Library edge cases are the library tests'.
//
// The tool runs as a child process with no shell between, on every system;
// cases that rest on what only POSIX has (zones set through TZ, /proc and
// /dev files, mode bits and owners, a file-size limit, the bash completion)
// run there alone. On Windows the zone is the system's, so checks of local
// times are POSIX's too.
#include "ChildProcess.h"
#include "PortableTesting.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <jpeglib.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using GearsetTesting::ChildInput;

using Result = std::tuple<int, std::string, std::string>;  // exit status, stdout, stderr
using Args = std::vector<std::string>;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// The tool: on Windows the one beside this program (a path of the build
// machine means nothing to Wine), elsewhere where the build put it.
// A UTF-8 path as the standard library takes it on every system (a narrow
// string is the ANSI code page's on Windows).
fs::path Native(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string ToolPath() {
#ifdef _WIN32
    const std::u8string beside =
        (Native(GearsetTesting::ThisProgram()).parent_path() / GEARSET_TOOL_NAME).u8string();
    return std::string(beside.begin(), beside.end());
#else
    return GEARSET_TOOL_PATH;
#endif
}

// The words of a test's command line, split at blanks as a shell splits them:
// '...' quotes, and so does "..." but for \" and \\ inside; an unquoted '@'
// stands for the test's folder and a separator.
std::vector<std::string> Split(const std::string& line, const std::string& folder) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (c == ' ') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const std::size_t close = line.find('\'', at + 1);
            word += line.substr(at + 1, close - at - 1);
            at = close;
        } else if (c == '"') {
            for (++at; line[at] != '"'; ++at) {
                if (line[at] == '\\' && (line[at + 1] == '"' || line[at + 1] == '\\')) ++at;
                word += line[at];
            }
        } else if (c == '@') {
            word += folder + kSeparator;
        } else {
            word += c;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

// Whether the whole text matches the regular expression.
bool Matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

// Text that a regular expression matches literally.
std::string Literal(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

#ifndef _WIN32
// For the cases that only POSIX runs.

std::set<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// The result of running a program with these arguments and nothing else.
Result RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    const GearsetTesting::ChildResult result = GearsetTesting::RunChild({program, arguments, {}, {}, {}});
    EXPECT_EQ(result.startError, "") << program;
    return {result.status, result.out, result.err};
}

#endif

class ToolTest : public ::testing::Test {
protected:
    void TearDown() override { GearsetTesting::RemoveTree(dir_); }

    std::string Path(const std::string& name) const { return dir_ + kSeparator + name; }
    void Write(const std::string& name, const std::string& bytes) const { WriteAt(Path(name), bytes); }
    static void WriteAt(const std::string& path, const std::string& bytes) {
        std::ofstream(Native(path), std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(Native(path), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::size_t Entries(const std::string& folder) {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(Native(folder)), fs::directory_iterator()));
    }

    // Runs the tool on a command line split as Split does, in the test's
    // folder, and its temporary files there too (or in temporary_). stderr is a pipe, as under a script, so
    // the tool must draw no progress there. Standard input is the null device; with `input` "|name" a pipe
    // fed with that file of the folder, with "<name" the file itself. The zone, a POSIX TZ, is UTC unless
    // given.
    Result Run(const std::string& arguments, const char* zone = nullptr,
               const std::string& input = "") const {
        return Run(Split(arguments, dir_), zone, input);
    }
    Result Run(const Args& arguments, const char* zone = nullptr, const std::string& input = "") const {
        GearsetTesting::ChildRequest request{ToolPath(), arguments, {}, dir_, {}};
        request.environment = {{GearsetTesting::kTemporaryFolderVariable, temporary_},
                               {"TZ", zone ? zone : "UTC0"}};
        if (input.starts_with('|')) request.input = ChildInput::Bytes(Read(Path(input.substr(1))));
        if (input.starts_with('<')) request.input = ChildInput::File(Path(input.substr(1)));
        const GearsetTesting::ChildResult result = GearsetTesting::RunChild(request);
        EXPECT_EQ(result.startError, "") << arguments[0];
        return {result.status, result.out, result.err};
    }
    // The output of a run that must succeed quietly.
    std::string Succeed(const std::string& arguments, const char* zone = nullptr) const {
        return Succeeded(Run(arguments, zone), arguments);
    }
    std::string Succeed(const Args& arguments) const {
        return Succeeded(Run(arguments), ::testing::PrintToString(arguments));
    }
    static std::string Succeeded(const Result& result, const std::string& arguments) {
        const auto& [status, out, err] = result;
        EXPECT_EQ(std::tuple(status, err), std::tuple(0, "")) << arguments;
        return out;
    }
    // A failure: nothing on stdout, one line on stderr naming the tool and what failed.
    void ExpectFailure(const std::string& arguments, int exitCode, const std::string& mentions) const {
        const auto [status, out, err] = Run(arguments);
        EXPECT_EQ(std::tuple(status, out), std::tuple(exitCode, "")) << arguments << ": " << err;
        EXPECT_TRUE(err.starts_with("gearset") && err.find('\n') == err.size() - 1 &&
                    err.find(mentions) != std::string::npos)
            << arguments << ": " << err;
    }

    const std::string dir_ = GearsetTesting::MakeTemporaryFolder("gearset-tool-test");
    std::string temporary_ = dir_;
};

TEST_F(ToolTest, VersionAndHelpGoToStdoutWithStatusZero) {
    for (const char* arguments : {"--version", "-V", "date -V", "date parse --version", "scan @none -V x"})
        EXPECT_EQ(Succeed(arguments), "gearset " GEARSET_VERSION "\n") << arguments;
    const std::string help = Succeed("--help");
    for (const std::string command : {"demo", "date parse", "date format", "text encode", "text decode",
                                      "scan", "copy", "mkdir", "jpeg", "store bench"}) {
        EXPECT_NE(help.find("\n  " + command + " "), std::string::npos) << command;
        EXPECT_TRUE(Succeed(command + " --help").starts_with("Usage: gearset " + command)) << command;
    }
    const std::string group = Succeed("date --help");
    EXPECT_NE(group.find("date parse [--json] [--explain] TEXT..."), std::string::npos) << group;
    EXPECT_NE(group.find("date format [--iso] [TIME]"), std::string::npos) << group;
}

// The tool echoes an argument's bytes as hex: each reaches it unchanged, on
// Windows through the quoting of the command line and its UTF-16.
TEST_F(ToolTest, EveryArgumentReachesTheToolAsGiven) {
    const std::pair<std::string, const char*> rows[] = {
        {"a b", "61 20 62"},
        {"\t", "09"},
        {"\"", "22"},
        {"\"\"", "22 22"},
        {"a\\\"b", "61 5C 22 62"},  // a backslash before a quote
        {"a\\\\\"b c", "61 5C 5C 22 62 20 63"},
        {"\\", "5C"},              // a backslash alone, unquoted
        {"a b\\", "61 20 62 5C"},  // one before the closing quote
        {"a b\\\\", "61 20 62 5C 5C"},
        {"C:\\x\\ y", "43 3A 5C 78 5C 20 79"},
        {"\xC3\xA9 \xE6\x97\xA5\xF0\x9F\x98\x80", "FE FF 00 E9 00 20 65 E5 D8 3D DE 00"},
    };
    for (const auto& [argument, hex] : rows)
        EXPECT_EQ(Run(Args{"text", "encode", argument}), Result(0, std::string(hex) + "\n", "")) << argument;
    // An empty argument stays one.
    EXPECT_EQ(
        Run(Args{"text", "encode", "--", "", "x"}),
        Result(2, "", "gearset text encode: unexpected argument 'x' (see 'gearset text encode --help')\n"));
}

// Neither the tool nor the runner stalls on streams larger than a pipe holds,
// and a child that reads none of its input still succeeds.
TEST_F(ToolTest, LargeStreamsPassWholeAndUnreadInputIsNoFailure) {
    std::string bytes(3 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 24);
    Write("big", bytes);
    const auto [status, out, err] = Run("copy - -", nullptr, "|big");
    EXPECT_EQ(std::tuple(status, err), std::tuple(0, ""));
    EXPECT_TRUE(out == bytes) << out.size();
    EXPECT_EQ(Run("--version", nullptr, "|big"), Result(0, "gearset " GEARSET_VERSION "\n", ""));
}

TEST_F(ToolTest, EveryDateFormTheHelpNamesReadsAsTheTimeItWrites) {
    GEARSET_SKIP_ON_WINDOWS("reads in a zone set through TZ; Windows takes the system's");
    const std::string help = Succeed("date parse --help");
    const std::size_t heading = help.find("Accepted forms:\n");
    ASSERT_NE(heading, std::string::npos) << help;
    const std::size_t start = heading + std::string("Accepted forms:\n").size();
    std::istringstream line(help.substr(start, help.find('\n', start) - start));
    int forms = 0;
    // Each form writes 2024-01-02 03:04:05 at +03:00, so in that zone it must read back unchanged;
    // a form the reader does not take would come out as the 1970-01-01 fallback.
    for (std::string form; line >> form; ++forms)
        EXPECT_EQ(Succeed("date parse \"" + form + "\"", "<+03>-3"), "2024-01-02 03:04:05\n") << form;
    EXPECT_GE(forms, 3) << help;
}

TEST_F(ToolTest, MistakesInTheCommandLineExitTwoWithOneLine) {
    Write("a.pdf", "%PDF-1.7\n");
    // One row per check of its own: the dispatcher's, each command's own, each argument reader's;
    // the parser's complaints are the CLI tests'.
    for (const char* arguments :
         {"frobnicate", "--frob", "date", "date format yesterday", "text decode F", "text decode F E",
          "text decode ZZ", "scan --before 5 @a.pdf PDF", "scan @a.pdf '\\q'", "scan @a.pdf ''",
          "text decode --codepoints --json 41", "store bench --page-size 12",
          "store bench --page-size 429496730", "store bench --count 100000 --size 100000", "mkdir ''",
          "mkdir --stamped ''", "copy @a.pdf ''", "jpeg @a.pdf ''", "copy '' @b"})
        ExpectFailure(arguments, 2, "--help')");
    EXPECT_EQ(Entries(dir_), 1);  // nothing was written on the way
#ifndef _WIN32
    // Bytes that are no UTF-8; Windows passes arguments as UTF-16, which has no such thing.
    ExpectFailure("text encode \xFF", 2, "--help')");
#endif
    EXPECT_EQ(Run("scan --last --before x @a.pdf PDF"),
              Result(2, "",
                     "gearset scan: --before must be a whole number from 0 to 9223372036854775807, not 'x' "
                     "(see 'gearset scan --help')\n"));
    EXPECT_EQ(Run("scan @a.pdf"),
              Result(2, "", "gearset scan: missing PATTERN (see 'gearset scan --help')\n"));
    EXPECT_EQ(Run("date when"),
              Result(2, "", "gearset date: unknown subcommand 'when' (see 'gearset date --help')\n"));
    EXPECT_EQ(Run(""), Result(2, "", "gearset: missing COMMAND (see 'gearset --help')\n"));
}

#ifndef _WIN32  // the zone is set through TZ
// --json gives the exact instant beside the local time, which uses today's
// offset: here a zone 3 hours east, and with --explain the reading's facts.
TEST_F(ToolTest, DateJsonGivesTheInstantInUtcTheFormAndTheFallback) {
    EXPECT_EQ(
        Run("date parse --json --explain \"D:20140612164736+05'00'\" D:x", "<+03>-3"),
        Result(0,
               "{\"dates\":[{\"index\":0,\"text\":\"D:20140612164736+05'00'\",\"time\":\"2014-06-12 "
               "14:47:36\",\"utc\":\"2014-06-12T11:47:36Z\",\"form\":\"docinfo\",\"fallback\":false,"
               "\"read\":[\"year\",\"month\",\"day\",\"hour\",\"minute\",\"second\",\"zone-hours\","
               "\"zone-minutes\"],\"defaulted\":[],\"zone\":\"+05:00\",\"localOffset\":\"+03:00\"},"
               "{\"index\":1,\"text\":\"D:x\",\"time\":\"1970-01-01 03:00:00\",\"utc\":\"1970-01-01T00:00:"
               "00Z\",\"form\":\"none\",\"fallback\":true,\"read\":[],\"defaulted\":[\"year\",\"month\","
               "\"day\",\"hour\",\"minute\",\"second\",\"zone-hours\",\"zone-minutes\"],\"zone\":\"+00:00\","
               "\"localOffset\":\"+03:00\"}]}\n",
               ""));
}
#endif

// Hex text on standard input is data: a mistake there exits 1 and names the
// offset, with a short excerpt whose control bytes are escaped, however long
// the input. On the command line it stays a usage mistake.
TEST_F(ToolTest, BadHexOnStandardInputIsAFailureWithItsOffset) {
    std::string hex;
    for (int i = 0; i < 500000; ++i) hex += "41 ";
    Write("bad.hex", hex + "4\x1B[2J" + hex);
    const auto [status, out, err] = Run("text decode -", nullptr, "|bad.hex");
    EXPECT_EQ(std::tuple(status, out), std::tuple(1, ""));
    EXPECT_EQ(err,
              "gearset text decode: standard input: not a hex byte at offset 1500000: "
              "'4\\x1B[2J41 41 41 41'...\n");
    EXPECT_EQ(Run("text decode '41 4' - ", nullptr, "|bad.hex"),
              Result(2, "",
                     "gearset text decode: hex digits must come in pairs at offset 3: '4' "
                     "(see 'gearset text decode --help')\n"));
}

TEST_F(ToolTest, CommandsPrintExactlyThisAndExitZeroOrOneWhenNothingIsFound) {
    //                      0         1         2         3
    //                      0123456789012345678901234567890123456789
    Write("a.pdf", "%PDF-1.7\n1 0 obj\nendobj\n2 0 obj\nendobj\n%%EOF\n");
    Write("empty", "");
    struct Row {
        const char* arguments;
        const char* out;
        int exitCode = 0;
        // A POSIX TZ, so that no zone database is needed; local times are
        // checked on POSIX alone, and in UTC when the row names no zone.
        const char* zone = nullptr;
    };
    const char* utc = "UTC0";
    const char* plus3 = "<+03>-3";
    const char* minus330 = "<-0330>3:30";
    const Row rows[] = {
        {"date parse D:20240102030405Z 2024-01-02T03:04:05+03:00 ''",
         "2024-01-02 03:04:05\n2024-01-02 00:04:05\nunset\n", 0, utc},
        {"date parse D:20240102030405Z \"D:20240102030405+03'00'\" 2024-01-02",
         "2024-01-02 06:04:05\n2024-01-02 03:04:05\n2024-01-02 03:00:00\n", 0, plus3},
        {"date parse 2024-01-02T03:04:05Z", "2024-01-01 23:34:05\n", 0, minus330},
        {"date parse --explain 2024-01-02T03:04:05Z \"20240102030405-0330\" D:2024 D:x ''",
         "2024-01-01 23:34:05\n"
         "  form: ISO 8601\n"
         "  read: year month day hour minute second\n"
         "  defaulted: zone-hours zone-minutes\n"
         "  zone applied: +00:00\n"
         "  local offset used: -03:30\n"
         "2024-01-02 03:04:05\n"
         "  form: bare digits with a zone sign\n"
         "  read: year month day hour minute second zone-hours zone-minutes\n"
         "  defaulted: none\n"
         "  zone applied: -03:30\n"
         "  local offset used: -03:30\n"
         "2023-12-31 20:30:00\n"
         "  form: document information (D:...)\n"
         "  read: year\n"
         "  defaulted: month day hour minute second zone-hours zone-minutes\n"
         "  zone applied: +00:00\n"
         "  local offset used: -03:30\n"
         "1969-12-31 20:30:00\n"
         "  form: none\n"
         "  no field was read: 1970-01-01 00:00:00 UTC is the fallback, not a date in the text\n"
         "  zone applied: +00:00\n"
         "  local offset used: -03:30\n"
         "unset\n",
         0, minus330},
        {"date format '2024-01-02 03:04:05'", "D:20240102030405Z00'00'\n", 0, utc},
        {"date format '2024-01-02 03:04:05'", "D:20240102030405+03'00'\n", 0, plus3},
        {"date format '2024-01-02 03:04:05'", "D:20240102030405-03'30'\n", 0, minus330},
        {"date format --iso 2024-01-02 03:04:05", "2024-01-02T03:04:05Z\n", 0, utc},
        {"date format --iso 2024-01-02 03:04:05", "2024-01-02T03:04:05+03:00\n", 0, plus3},
        {"date format --iso 2024-01-02 03:04:05", "2024-01-02T03:04:05-03:30\n", 0, minus330},
        {"text encode abc", "61 62 63\n"},
        {"text encode --unicode abc", "FE FF 00 61 00 62 00 63\n"},
        {"text encode \xC3\xA9", "FE FF 00 E9\n"},
        {"text encode \xF0\x9F\x98\x80", "FE FF D8 3D DE 00\n"},
        {"text encode --unicode ''", "\n"},
        {"text decode feff 0041", "A\n"},
        {"text decode '41 00 42'", "A B\n"},
        {"text decode 'FE FF 00 E9'", "\xC3\xA9\n"},
        {"text decode --codepoints 'FF FE 41 00'", "U+00FF U+00FE U+0041 U+0020\n"},
        {"text decode --codepoints 'FE FF D8 3D DE 00'", "U+D83D U+DE00\n"},
        {"scan @a.pdf endobj", "17\n"},
        {"scan --last @a.pdf endobj", "32\n"},
        {"scan --last --before 37 @a.pdf endobj", "32\n"},
        {"scan --last --before 36 @a.pdf endobj", "17\n"},
        {"scan --last --before 21 @a.pdf endobj", "-1\n", 1},
        {"scan @a.pdf 'obj\\x0Aendobj'", "13\n"},
        {"scan @a.pdf xref", "-1\n", 1},
        {"scan @empty x", "-1\n", 1},
    };
    for (const Row& row : rows) {
#ifdef _WIN32
        if (row.zone) continue;
#endif
        EXPECT_EQ(Run(row.arguments, row.zone), Result(row.exitCode, row.out, ""))
            << row.arguments << " " << (row.zone ? row.zone : "");
    }
#ifdef _WIN32
    EXPECT_TRUE(Matches(Succeed("date format"), "D:[0-9]{14}(Z00'00'|[-+][0-9]{2}'[0-9]{2}')\n"));
#else
    EXPECT_TRUE(Matches(Succeed("date format", plus3), "D:[0-9]{14}\\+03'00'\n"));
#endif
}

TEST_F(ToolTest, FailuresExitOneWithOneLineAndLeaveFilesAloneAndCopyReplacesItsTarget) {
    Write("from.bin", std::string("source\0\xFF bytes", 14));
    Write("file", "x");
    Write("text.png", "not an image");
    Write("in.pgm", "P2\n1 1\n255\n7\n");
    const std::pair<const char*, const char*> cases[] = {
        {"scan @missing.pdf x", "missing.pdf"},
        {"scan @ x", "not a regular file"},
        {"copy @missing @to", "missing"},
        {"copy @from.bin @from.bin", "same file"},
        {"copy @from.bin @no/such/dir/to", "to"},
        {"mkdir @file/sub", "file"},
        {"jpeg @missing.png @out.jpg", "missing.png"},
        {"jpeg @text.png @out.jpg", "text.png"},
        {"jpeg @in.pgm @none/out.jpg", "out.jpg"},
        {"jpeg @in.pgm @in.pgm", "same file"},
    };
    for (const auto& [arguments, mentions] : cases) ExpectFailure(arguments, 1, mentions);
#ifndef _WIN32
    // A link that leads nowhere is written through, and the message names the path as given.
    // (Windows lets only a privileged user make links.)
    fs::create_symlink(Path("none/x.jpg"), Path("dangling"));
    ExpectFailure("jpeg @in.pgm @dangling", 1, "cannot open '" + Path("dangling") + "' for writing: ");
#endif
    EXPECT_FALSE(fs::exists(Path("to")));
    EXPECT_FALSE(fs::exists(Path("out.jpg")));
    EXPECT_EQ(Read(Path("from.bin")), std::string("source\0\xFF bytes", 14));
    Write("to.bin", std::string(20000, 'x'));  // longer than the source: nothing of it may stay
    EXPECT_EQ(Succeed("copy @from.bin @to.bin"), "");
    EXPECT_EQ(Read(Path("to.bin")), Read(Path("from.bin")));
}

TEST_F(ToolTest, CopyTakesAnySourceWhole) {
    const std::string bytes = std::string("piped\0\xFF", 7) + std::string(70000, 'p');
    Write("from.bin", bytes);
    std::vector<std::tuple<const char*, const char*, std::string>> rows = {
        {"copy - @to", "|from.bin", bytes},
        {"copy - @to", "<from.bin", bytes},
    };
#ifndef _WIN32
    rows.insert(rows.end(), {
                                {"copy /dev/stdin @to", "|from.bin", bytes},
                                {"copy /proc/version @to", "", Read("/proc/version")},  // says it is empty
                                {"copy /dev/null @to", "", ""},
                            });
#endif
    for (const auto& [arguments, input, expected] : rows) {
        Write("to", std::string(90000, 'o'));
        EXPECT_EQ(Run(arguments, nullptr, input), Result(0, "", "")) << arguments;
        EXPECT_TRUE(Read(Path("to")) == expected) << arguments << " " << input;
    }
}

// A /proc file, and mode bits, are POSIX's.
#ifndef _WIN32
TEST_F(ToolTest, CopyFailsOnAnUnreadableSourceAndIsNoMorePermissiveThanItsSource) {
    Write("from.bin", "bytes");
    // A source the system fails to read fails the copy, the old target left as it was.
    Write("to", "old");
    ExpectFailure("copy /proc/self/mem @to", 1, "cannot read '/proc/self/mem'");
    EXPECT_EQ(Read(Path("to")), "old");

    fs::permissions(Path("from.bin"), fs::perms(0600));
    fs::permissions(Path("to"), fs::perms(0644));
    for (const char* target : {"new", "to"}) {  // made, and replacing one of 0644
        EXPECT_EQ(Succeed(std::string("copy @from.bin @") + target), "");
        EXPECT_EQ(fs::status(Path(target)).permissions(), fs::perms(0600)) << target;
    }
    EXPECT_EQ(Entries(dir_), 3);
}
#endif

TEST_F(ToolTest, MkdirCreatesParentsAndStampedPrintsANewDirectoryEachTime) {
    EXPECT_EQ(Succeed("mkdir @a/b/c"), "");
    EXPECT_EQ(Succeed("mkdir @a/b/c"), "");
    EXPECT_TRUE(fs::is_directory(Path("a/b/c")));
    const std::string first = Succeed("mkdir --stamped @runs"), second = Succeed("mkdir --stamped @runs");
    EXPECT_NE(first, second);
    const std::string root = Path("runs") + kSeparator;
    for (const std::string& made : {first, second}) {
        EXPECT_TRUE(made.starts_with(root) &&
                    Matches(made.substr(root.size()),
                            "[0-9]{4}\\.[0-9]{2}\\.[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}(\\([0-9]+\\))*\n"))
            << made;
        EXPECT_TRUE(fs::is_directory(made.substr(0, made.size() - 1))) << made;
    }
    // Relative to the working folder, where the tool runs.
    EXPECT_EQ(Succeed("mkdir rel/sub"), "");
    EXPECT_TRUE(fs::is_directory(Path("rel/sub")));
    // Given with '/', printed with the system's separator alone.
    const std::string relative = Succeed("mkdir --stamped rel/runs");
    EXPECT_TRUE(relative.starts_with(std::string("rel") + kSeparator + "runs" + kSeparator)) << relative;
    EXPECT_TRUE(fs::is_directory(Path(relative.substr(0, relative.size() - 1)))) << relative;
}

// Width, height and components of a JPEG image, as its header gives them.
std::tuple<int, int, int> JpegShape(const std::string& bytes) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    const std::tuple shape(static_cast<int>(info.image_width), static_cast<int>(info.image_height),
                           info.num_components);
    jpeg_destroy_decompress(&info);
    return shape;
}

TEST_F(ToolTest, JpegWritesColourAndBlackAndWhiteAsGrey) {
    std::string ppm = "P6\n8 6\n255\n";
    for (int i = 0; i < 8 * 6 * 3; ++i) ppm += static_cast<char>(i * 5);
    Write("in.ppm", ppm);
    Write("in.pbm", "P1\n3 2\n1 0 1\n0 1 0\n");
    EXPECT_EQ(Succeed("jpeg @in.ppm @colour.jpg"), "");
    EXPECT_EQ(Succeed("jpeg @in.pbm @grey.jpg"), "");
    EXPECT_EQ(JpegShape(Read(Path("colour.jpg"))), std::tuple(8, 6, 3));
    EXPECT_EQ(JpegShape(Read(Path("grey.jpg"))), std::tuple(3, 2, 1));
}

// Owners, mode bits and a file-size limit are POSIX's.
#ifndef _WIN32

// As root: the replaced file keeps its owner, and a user who may write a file
// but not its folder still gets the copy, written whole in the folder for
// temporary files first: a run cut short by a file-size limit there (not
// trapped: the tool must take it as an ordinary error) leaves the old file
// as it was and nothing in that folder.
TEST_F(ToolTest, AReplacedTargetKeepsItsOwnerAndAClosedFolderGetsOnlyAWholeCopy) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as another user";
    fs::permissions(dir_, fs::perms(0755));  // the other user must reach the files
    constexpr unsigned kNobody = 65534;
    Write("from", "new bytes");
    Write("owned", "old");
    ASSERT_EQ(0, ::chown(Path("owned").c_str(), kNobody, kNobody));
    EXPECT_EQ(Succeed("copy @from @owned"), "");
    struct stat status {};
    ASSERT_EQ(0, ::stat(Path("owned").c_str(), &status));
    EXPECT_EQ(std::tuple(status.st_uid, status.st_gid), std::tuple(kNobody, kNobody));
    EXPECT_EQ(Read(Path("owned")), "new bytes");

    fs::create_directory(Path("closed"));
    fs::create_directory(Path("spool"));
    fs::permissions(Path("spool"), fs::perms::all);
    Write("closed/theirs", "old");
    Write("large", std::string(3000, 'x'));
    ASSERT_EQ(0, ::chown(Path("closed/theirs").c_str(), kNobody, kNobody));
    fs::permissions(Path("closed"), fs::perms(0755));
    const auto asNobody = [&](const std::string& limit, const std::string& source) {
        GearsetTesting::ChildRequest request{
            "setpriv",
            {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c", limit + "exec \"$0\" \"$@\"",
             ToolPath(), "copy", Path(source), Path("closed/theirs")},
            {{GearsetTesting::kTemporaryFolderVariable, Path("spool")}},
            dir_,
            {}};
        return GearsetTesting::RunChild(request);
    };
    const GearsetTesting::ChildResult cut = asNobody("ulimit -f 1; ", "large");
    EXPECT_EQ(std::tuple(cut.status, cut.out), std::tuple(1, "")) << cut.err;
    EXPECT_EQ(Read(Path("closed/theirs")), "old");
    EXPECT_EQ(Entries(Path("spool")), 0);
    const GearsetTesting::ChildResult whole = asNobody("", "from");
    EXPECT_EQ(std::tuple(whole.status, whole.out, whole.err), std::tuple(0, "", ""));
    EXPECT_EQ(Read(Path("closed/theirs")), "new bytes");
    EXPECT_EQ(Entries(Path("spool")), 0);
}

// Smaller failures say what the user knows: standard input by that name, a
// missing temporary folder by its variable, and a file whose mode forbids
// writing is refused as cp refuses it (to a user who is not root).
TEST_F(ToolTest, FailuresNameWhatTheUserKnows) {
    Write("garbage", "garbage");
    const auto [status, out, err] = Run("jpeg - @out.jpg", nullptr, "|garbage");
    EXPECT_EQ(std::tuple(status, out), std::tuple(1, "")) << err;
    EXPECT_NE(err.find("cannot read image 'standard input'"), std::string::npos) << err;
    temporary_ = Path("missing");
    ExpectFailure("demo", 1, "no folder for temporary files (TMPDIR");

    if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as another user";
    fs::permissions(dir_, fs::perms::all);
    Write("mine", "old");
    fs::permissions(Path("mine"), fs::perms(0444));
    ASSERT_EQ(0, ::chown(Path("mine").c_str(), 65534, 65534));
    const GearsetTesting::ChildResult refused =
        GearsetTesting::RunChild({"setpriv",
                                  {"--reuid=65534", "--regid=65534", "--clear-groups", ToolPath(), "copy",
                                   Path("garbage"), Path("mine")},
                                  {},
                                  dir_,
                                  {}});
    EXPECT_EQ(
        std::tuple(refused.status, refused.out, refused.err),
        std::tuple(1, "",
                   "gearset copy: cannot replace '" + Path("mine") + "': its permissions forbid writing\n"));
    EXPECT_EQ(Read(Path("mine")), "old");
}

// Standard input and output are taken where the shell left them: a file of
// which a reader before took 5 bytes is scanned from there, as a pipe would
// be and as copy reads it; a source appended to itself through '-' is refused
// before a byte is written, as its /dev/stdout spelling is.
TEST_F(ToolTest, StandardInputAndOutputAreTakenWhereTheShellLeftThem) {
    Write("y", "AAAAXBBBBY");
    const auto inShell = [&](const std::string& script) {
        const GearsetTesting::ChildResult result =
            GearsetTesting::RunChild({"sh", {"-c", script, ToolPath()}, {}, dir_, {}});
        return Result(result.status, result.out, result.err);
    };
    const std::string skipFive = "(dd bs=5 count=1 of=/dev/null 2>/dev/null; exec \"$0\" ";
    EXPECT_EQ(inShell(skipFive + "scan - Y) < y"), Result(0, "4\n", ""));
    EXPECT_EQ(inShell(skipFive + "scan --last - B) < y"), Result(0, "3\n", ""));
    EXPECT_EQ(inShell(skipFive + "copy - -) < y"), Result(0, "BBBBY", ""));
    for (const std::string target : {"-", "/dev/stdout"}) {
        EXPECT_EQ(inShell("exec \"$0\" copy y " + target + " >> y"),
                  Result(1, "", "gearset copy: 'y' and '" + target + "' are the same file\n"));
        EXPECT_EQ(Read(Path("y")), "AAAAXBBBBY");
    }
}

// An interrupt, a termination or a hang-up while copy waits for its source
// ends the tool by that signal, with the old target whole and no temporary
// file beside it; a closed pipe after jpeg has written into the folder for
// temporary files leaves nothing there. The shell stands in for the user:
// it feeds a FIFO, waits for the temporary file, and sends the signal (to a
// tool whose interrupt it has not left ignored, as shells do for a job).
TEST_F(ToolTest, ASignalOrAClosedPipeLeavesNoTemporaryFile) {
    Write("target", "old");
    fs::create_directory(Path("spool"));
    const auto inShell = [&](const std::string& script) {
        GearsetTesting::ChildRequest request{"sh",
                                             {"-c", script, ToolPath()},
                                             {{GearsetTesting::kTemporaryFolderVariable, Path("spool")}},
                                             dir_,
                                             {}};
        return GearsetTesting::RunChild(request);
    };
    for (const auto& [name, number] : {std::pair{"INT", 2}, {"TERM", 15}, {"HUP", 1}}) {
        const GearsetTesting::ChildResult result = inShell(
            "mkfifo feed; env --default-signal=INT \"$0\" copy - target < feed & tool=$!; exec 3> feed;"
            "printf abc >&3; n=0; until ls -a | grep -q '^\\.gearset-.*\\.tmp$'; do"
            "  sleep 0.01; n=$((n+1)); [ $n -lt 1000 ] || break; done;"
            "kill -" +
            std::string(name) + " $tool; wait $tool; echo $?; rm feed");
        EXPECT_EQ(std::tuple(result.status, result.out), std::tuple(0, std::to_string(128 + number) + "\n"))
            << name << ": " << result.err;
        EXPECT_EQ(Entries(dir_), 2) << name;  // the target and the spool
        EXPECT_EQ(Read(Path("target")), "old") << name;
    }
    // Noise compresses badly: the JPEG is larger than a pipe holds.
    std::string ppm = "P6\n256 256\n255\n";
    for (int i = 0; i < 256 * 256 * 3; ++i) ppm += static_cast<char>(i * 7919 % 251 ^ i / 3);
    Write("noise.ppm", ppm);
    const GearsetTesting::ChildResult result = inShell("\"$0\" jpeg noise.ppm - | head -c 10 >/dev/null");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Entries(Path("spool")), 0);
}

TEST_F(ToolTest, AWriteCutShortLeavesTheOldTargetAsItWas) {
    std::string ppm = "P6\n64 64\n255\n";
    for (int i = 0; i < 64 * 64 * 3; ++i) ppm += static_cast<char>(i * 7919 % 251);
    Write("in.ppm", ppm);
    Write("old", "old bytes");
    fs::permissions(Path("old"), fs::perms(0640));
    // A file-size limit of 1 KiB makes the system refuse the rest, as a full disk would.
    // The shell is there for the limit alone; the tool inherits both it and the ignored signal.
    for (const char* command : {"jpeg", "copy"}) {
        GearsetTesting::ChildRequest request{
            "sh",
            {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"", ToolPath(), command, "in.ppm", "old"},
            {},
            dir_,
            {}};
        const GearsetTesting::ChildResult result = GearsetTesting::RunChild(request);
        EXPECT_EQ(std::tuple(result.status, result.out), std::tuple(1, "")) << command << ": " << result.err;
        EXPECT_EQ(Read(Path("old")), "old bytes") << command;
        // The target the user named, not the hidden file the bytes went to.
        EXPECT_TRUE(result.err.find("'old': File too large") != std::string::npos &&
                    result.err.find(".gearset") == std::string::npos)
            << command << ": " << result.err;
    }
    EXPECT_EQ(Entries(dir_), 2);
    EXPECT_EQ(Succeed("jpeg @in.ppm @old"), "");
    EXPECT_EQ(JpegShape(Read(Path("old"))), std::tuple(64, 64, 3));
    EXPECT_EQ(fs::status(Path("old")).permissions(), fs::perms(0640));
}

#endif  // !_WIN32

TEST_F(ToolTest, StoreBenchPrintsOneLinePerPhaseAndRemovesItsStore) {
    for (const std::string options : {"", " --compress --page-size 512"}) {
        const std::string out = Succeed("store bench --count 300 --size 3000" + options);
        EXPECT_TRUE(Matches(out,
                            "write [0-9]+ records/s [0-9]+\\.[0-9] MB/s\n"
                            "read [0-9]+ records/s [0-9]+\\.[0-9] MB/s\n"
                            "free [0-9]+ records/s\n"))
            << out;
        // The bytes counted are the records' own: MB/s is records/s times 3000 bytes.
        std::istringstream lines(out);
        for (std::string phase; lines >> phase && phase != "free";) {
            double records = 0, megabytes = 0;
            std::string unit;
            lines >> records >> unit >> megabytes >> unit;
            EXPECT_NEAR(megabytes, records * 3000 / 1e6, 0.05 + megabytes * 1e-3) << phase << options;
        }
    }
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(ToolTest, DashIsStandardInputWhetherAPipeOrAFileAndStandardOutput) {
    Write("a.pdf", "%PDF-1.7\nendobj\nendobj\n");
    Write("hex", "FE FF\n00 41\n");
    const std::tuple<const char*, const char*, Result> rows[] = {
        {"scan - endobj", "|a.pdf", Result(0, "9\n", "")},
        {"scan --last - endobj", "|a.pdf", Result(0, "16\n", "")},
        {"scan - xref", "|a.pdf", Result(1, "-1\n", "")},
        {"scan --last - endobj", "<a.pdf", Result(0, "16\n", "")},
        {"scan - x", "", Result(1, "-1\n", "")},
        {"text decode -", "|hex", Result(0, "A\n", "")},
        {"text decode - 00 42", "<hex", Result(0, "AB\n", "")},
        {"text decode - -", "|hex",
         Result(2, "",
                "gearset text decode: '-' (standard input) may be given once "
                "(see 'gearset text decode --help')\n")},
    };
    for (const auto& [arguments, input, expected] : rows)
        EXPECT_EQ(Run(arguments, nullptr, input), expected) << arguments;
    // Files to and from the standard streams, the same bytes as by name.
    Write("in.pgm", "P5\n3 2\n255\n\x01\x40\x80\xC0\xF0\xFF");
    Succeed("jpeg @in.pgm @by-name.jpg");
    for (const char* input : {"|in.pgm", "<in.pgm"})
        EXPECT_EQ(Run("jpeg - -", nullptr, input), Result(0, Read(Path("by-name.jpg")), "")) << input;
    EXPECT_EQ(Run("copy - -", nullptr, "|a.pdf"), Result(0, Read(Path("a.pdf")), ""));
    EXPECT_EQ(Run("copy @hex -"), Result(0, Read(Path("hex")), ""));
    // The copy of a piped input and the JPEG passed on are gone with the run.
    EXPECT_EQ(Entries(dir_), 4);
}

TEST_F(ToolTest, JsonGivesTheFactsOfTheTextAsOneWellFormedDocument) {
    Write("a.pdf", "%PDF-1.7\nendobj\n");
    std::vector<std::pair<const char*, const char*>> rows = {
        {"text decode --json 'FE FF 00 E9 D8 3D DE 00'",
         "{\"text\":\"\xC3\xA9\xF0\x9F\x98\x80\",\"codepoints\":\"U+00E9 U+D83D U+DE00\"}\n"},
        {"scan --json @a.pdf endobj", "{\"offset\":9,\"found\":true}\n"},
        {"scan --json @a.pdf xref", "{\"offset\":-1,\"found\":false}\n"},
        {"store bench --json --count 20 --size 100", nullptr},
    };
#ifndef _WIN32
    // Local times in UTC, and an argument that is no UTF-8, which Windows cannot pass.
    // Two texts that JSON gives alike are told apart by their index.
    rows.push_back(
        {"date parse --json D:20240102030405Z '' '\"\\\x01\xFF' '\"\\\x01\xFE'",
         "{\"dates\":[{\"index\":0,\"text\":\"D:20240102030405Z\",\"time\":\"2024-01-02 03:04:05\","
         "\"utc\":\"2024-01-02T03:04:05Z\",\"form\":\"docinfo\",\"fallback\":false},"
         "{\"index\":1,\"text\":\"\",\"time\":null,\"utc\":null,\"form\":\"none\",\"fallback\":false},"
         "{\"index\":2,\"text\":\"\\\"\\\\\\u0001\xEF\xBF\xBD\",\"time\":\"1970-01-01 00:00:00\","
         "\"utc\":\"1970-01-01T00:00:00Z\",\"form\":\"none\",\"fallback\":true},"
         "{\"index\":3,\"text\":\"\\\"\\\\\\u0001\xEF\xBF\xBD\",\"time\":\"1970-01-01 00:00:00\","
         "\"utc\":\"1970-01-01T00:00:00Z\",\"form\":\"none\",\"fallback\":true}]}\n"});
#endif
    for (const auto& [arguments, expected] : rows) {
        const auto [status, out, err] = Run(arguments);
        const int exitCode = out.find("\"found\":false") != std::string::npos ? 1 : 0;
        EXPECT_EQ(std::tuple(status, err), std::tuple(exitCode, "")) << arguments;
        if (expected) {
            EXPECT_EQ(out, expected) << arguments;
        } else {
            EXPECT_TRUE(
                Matches(out, "\\{\"phases\":\\[(\\{\"phase\":\"(write|read|free)\"[^}]*\\},?){3}\\]\\}\n"))
                << out;
        }
#ifndef _WIN32
        // A second document or a stray byte after the first is an error to a JSON reader too
        // (one that Wine has not).
        GearsetTesting::ChildRequest reader{
            "python3",
            {"-c", "import json,sys; json.loads(sys.stdin.buffer.read().decode('utf-8'))"},
            {},
            {},
            {}};
        reader.input = ChildInput::Bytes(out);
        EXPECT_EQ(GearsetTesting::RunChild(reader).status, 0) << arguments << ": " << out;
#endif
    }
}

// The completion is a bash script, and the manual a file of the build machine.
#ifndef _WIN32

// The completion's words for a command line of `words` and the cursor after them.
std::set<std::string> Completed(const std::string& words) {
    const std::string script = "source \"$0\"; COMP_WORDS=(gearset " + words +
                               "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _gearset; echo \"${COMPREPLY[*]}\"";
    return Words(std::get<1>(RunProgram("bash", {"-c", script, GEARSET_COMPLETION_PATH})));
}

TEST_F(ToolTest, ManualAndCompletionNameEveryCommandAndOptionOfTheHelp) {
    std::string manual = Read(GEARSET_MANUAL_PATH);
    for (std::size_t at; (at = manual.find("\\-")) != std::string::npos;) manual.replace(at, 2, "-");
    const std::string help = Succeed("--help");
    std::istringstream lines(help.substr(help.find("Commands:\n") + 10));
    std::set<std::string> firstWords = {"--help", "--version"};
    int commands = 0;
    for (std::string line; std::getline(lines, line) && line.starts_with("  "); ++commands) {
        const std::string command = line.substr(2, line.find("  ", 2) - 2);
        firstWords.insert(command.substr(0, command.find(' ')));
        const std::string usage = Succeed(command + " --help");
        const std::string synopsis = usage.substr(15, usage.find('\n') - 15);  // after "Usage: gearset "

        // The long options of the help's left column, and those the manual gives the command.
        std::set<std::string> options;
        std::istringstream rows(usage.substr(usage.find("\nOptions:\n") + 10));
        for (std::string row; std::getline(rows, row);) {
            for (const std::string& word : Words(row.substr(0, row.find("  ", 2)))) {
                if (word.starts_with("--") && word.size() > 2) options.insert(word);
            }
        }
        const std::size_t heading = manual.find(".SS \"gearset " + synopsis + "\"\n");
        ASSERT_NE(heading, std::string::npos) << "no manual section for: " << synopsis;
        const std::size_t end =
            std::min(manual.find("\n.SS", heading + 1), manual.find("\n.SH", heading + 1));
        std::set<std::string> documented = {"--quiet", "--help", "--version"};  // given once for all
        std::istringstream section(manual.substr(heading, end - heading));
        for (std::string row; std::getline(section, row);) {
            std::istringstream words(row);
            std::string macro, option;
            if ((words >> macro >> option) && (macro == ".B" || macro == ".BI") && option.starts_with("--") &&
                option.size() > 2)
                documented.insert(option);
        }
        EXPECT_EQ(documented, options) << command;

        EXPECT_EQ(Completed(command + " --"), options) << command;
    }
    EXPECT_GE(commands, 10);
    EXPECT_EQ(Completed("\"\""), firstWords);
    for (const char* common :
         {".BR -q \", \" --quiet", ".BR -V \", \" --version", ".BR -h \", \" --help", "\n.B --\n"})
        EXPECT_NE(manual.find(common), std::string::npos) << common;
}

#endif  // !_WIN32

// The whole report, line by line; only the demo's folder, the time-stamped
// name and the JPEG's size vary.
TEST_F(ToolTest, DemoRunsEveryFamilyWithoutFilesAndLeavesNothingBehind) {
    const std::string out = Succeed("demo");
    const std::string s = Literal(std::string(1, kSeparator));
    const std::string folder = Literal(dir_) + s + "gearset-demo-[0-9]+";
#ifdef _WIN32
    // The system's zone, whichever it is.
    const std::string pdfZone = "(Z00'00'|[-+][0-9]{2}'[0-9]{2}')", isoZone = "(Z|[-+][0-9]{2}:[0-9]{2})";
#else
    const std::string pdfZone = "Z00'00'", isoZone = "Z";
#endif
    EXPECT_TRUE(Matches(
        out,
        "record store \\(CFileDataStorage, compressed\\)\n"
        "  wrote record 5: 3005 bytes of a page content stream\n"
        "  read record 5 back: 3005 bytes, identical\n"
        "  freed record 5\n"
        "object cache \\(CObjectsFileCache\\)\n"
        "  parked a note \"Quarterly report\" \\(12 pages\\) as record 5\n"
        "  rebuilt it from record 5: \"Quarterly report\" \\(12 pages\\), a new object\n"
        "PDF text strings\n"
        "  encoded \"Invoice 42\" as 49 6E 76 6F 69 63 65 20 34 32; decoded it back to \"Invoice 42\"\n"
        "  encoded \"Grüße\" as FE FF 00 47 00 72 00 FC 00 DF 00 65; decoded it back to \"Grüße\"\n"
        "PDF dates \\(local zone\\)\n"
        "  formatted 2024-01-02 03:04:05 as D:20240102030405" +
            pdfZone + " and 2024-01-02T03:04:05" + isoZone +
            "\n"
            "  read both back as 2024-01-02 03:04:05\n"
            "byte instruments\n"
            "  found \"endobj\" in a 128-byte PDF at offset 51 \\(first\\) and 103 \\(last\\)\n"
            "folders \\(CFolderWorker\\)\n"
            "  created " +
            folder + s + "reports" + s + "2024" + s +
            "q1 with its parents\n"
            "  created " +
            folder + s + "runs" + s +
            "[0-9]{4}\\.[0-9]{2}\\.[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}, "
            "named after the current time\n"
            "  removed both\n"
            "image saving \\(SaveImage\\)\n"
            "  wrote a 64x48 colour image to " +
            folder + s +
            "demo\\.jpg: [0-9]+ bytes of JPEG\n"
            "  removed it\n"
            "done: every family ran once\n"))
        << out;
    EXPECT_TRUE(fs::is_empty(dir_));
}

// A pipe is spooled to a file in the folder for temporary files, not held in
// memory (which a stream of any length would outgrow), and the file goes with
// the run.
TEST_F(ToolTest, APipedScanIsSpooledToTheTemporaryFolderAndLeavesNothingThere) {
    Write("a.pdf", "%PDF-1.7\nendobj\n");
    fs::create_directory(Native(Path("spool")));
    temporary_ = Path("spool");
    EXPECT_EQ(Run("scan --last - endobj", nullptr, "|a.pdf"), Result(0, "9\n", ""));
    EXPECT_EQ(Entries(Path("spool")), 0);
    // Where no file can be made there, the scan fails and says where it tried.
    temporary_ = Path("missing");
    const auto [status, out, err] = Run("scan - endobj", nullptr, "|a.pdf");
    EXPECT_EQ(std::tuple(status, out), std::tuple(1, "")) << err;
    EXPECT_NE(err.find("cannot create a temporary file in"), std::string::npos) << err;
    EXPECT_NE(err.find("missing"), std::string::npos) << err;
}

// A device takes the bytes as standard output does: nothing is written beside
// it, and its failures keep the system's own reason.
TEST_F(ToolTest, ADeviceTargetIsWrittenAsAStream) {
    Write("from.bin", "bytes");
    Write("in.pgm", "P2\n1 1\n255\n7\n");
#ifdef _WIN32
    const std::vector<std::string> devices = {"NUL", "nul", "\\\\.\\NUL", Path("NUL")};
#else
    const std::vector<std::string> devices = {"/dev/null"};
    // Standard output named by path, a pipe here as under a script.
    EXPECT_EQ(Succeed(Args{"copy", Path("from.bin"), "/dev/stdout"}), "bytes");
#endif
    for (const std::string& device : devices) {
        EXPECT_EQ(Succeed(Args{"copy", Path("from.bin"), device}), "") << device;
        EXPECT_EQ(Succeed(Args{"jpeg", Path("in.pgm"), device}), "") << device;
        EXPECT_EQ(Succeed(Args{"copy", device, Path("to")}), "") << device;
        EXPECT_EQ(Read(Path("to")), "") << device;
    }
    EXPECT_EQ(Entries(dir_), 3);
#ifdef _WIN32
    // A device that is not there: Windows' text and number, not the C library's EIO.
    const auto [status, out, err] = Run(Args{"copy", Path("from.bin"), "\\\\.\\GearsetNoSuchDevice"});
    EXPECT_EQ(std::tuple(status, out), std::tuple(1, "")) << err;
    EXPECT_TRUE(Matches(err,
                        "gearset copy: cannot open '\\\\\\\\\\.\\\\GearsetNoSuchDevice' for writing: "
                        "[^\n]+ \\(error [0-9]+\\)\n"))
        << err;
    EXPECT_EQ(err.find("Input/output error"), std::string::npos) << err;
#else
    ExpectFailure("copy @from.bin /dev/full", 1, "cannot write '/dev/full': No space left on device");
#endif
}

#ifdef _WIN32

// "\\?\" paths are the system's as they stand: every command takes them, for
// files that exist and for those it makes.
TEST_F(ToolTest, EveryCommandTakesLongFormPaths) {
    const std::string longDir = "\\\\?\\" + dir_;
    const std::string sub = longDir + "\\sub";
    Write("a.pdf", "%PDF-1.7\nendobj\n");
    Write("in.pgm", "P2\n2 1\n255\n7 200\n");
    EXPECT_EQ(Succeed(Args{"mkdir", sub + "\\deeper"}), "");
    EXPECT_TRUE(fs::is_directory(Native(Path("sub\\deeper"))));
    EXPECT_EQ(Succeed(Args{"copy", longDir + "\\a.pdf", sub + "\\b.pdf"}), "");
    // Again, onto the target that now exists.
    EXPECT_EQ(Succeed(Args{"copy", longDir + "\\a.pdf", sub + "\\b.pdf"}), "");
    EXPECT_EQ(Read(Path("sub\\b.pdf")), "%PDF-1.7\nendobj\n");
    EXPECT_EQ(Succeed(Args{"scan", sub + "\\b.pdf", "endobj"}), "9\n");
    EXPECT_EQ(
        Run(Args{"copy", longDir + "\\a.pdf", Path("a.pdf")}),
        Result(1, "",
               "gearset copy: '" + longDir + "\\a.pdf' and '" + Path("a.pdf") + "' are the same file\n"));
    EXPECT_EQ(Succeed(Args{"jpeg", longDir + "\\in.pgm", sub + "\\out.jpg"}), "");
    EXPECT_EQ(JpegShape(Read(Path("sub\\out.jpg"))), std::tuple(2, 1, 1));
    const std::string made = Succeed(Args{"mkdir", "--stamped", sub + "\\runs"});
    EXPECT_TRUE(made.starts_with(sub + "\\runs\\") && made.ends_with("\n")) << made;
    EXPECT_TRUE(fs::is_directory(Native(Path("sub\\runs")))) << made;
    // Nothing left beside the targets.
    EXPECT_EQ(Entries(Path("sub")), 4);
    // Failures name the path as given.
    const auto [status, out, err] = Run(Args{"copy", "\\\\?\\" + Path("none"), Path("x")});
    EXPECT_EQ(std::tuple(status, out), std::tuple(1, "")) << err;
    EXPECT_NE(err.find("'\\\\?\\" + Path("none") + "'"), std::string::npos) << err;
}

// Windows drops a component's trailing dots and spaces unless the path is in
// the long form; the tool refuses them before anything is made.
TEST_F(ToolTest, ComponentsEndingInADotOrASpaceAreRefusedUnlessInTheLongForm) {
    Write("from", "x");
    for (const char* arguments : {"mkdir 'a./b ./c'", "mkdir --stamped 'runs '", "copy from to.",
                                  "copy 'from ' to", "scan from. x", "jpeg from out./x.jpg"})
        ExpectFailure(arguments, 2, "ends in a dot or a space");
    EXPECT_EQ(Entries(dir_), 1);
    // The long form writes exactly the name asked for.
    ASSERT_TRUE(fs::create_directories(Native("\\\\?\\" + Path("a.\\b "))));
    EXPECT_EQ(Succeed(Args{"copy", Path("from"), "\\\\?\\" + Path("a.\\b \\to.")}), "");
    EXPECT_EQ(Read("\\\\?\\" + Path("a.\\b \\to.")), "x");
}

// The application manifest that lets gearset.exe take paths of any length
// (the loader reads resource 1 of type RT_MANIFEST).
TEST_F(ToolTest, TheProgramDeclaresItselfLongPathAware) {
    const std::wstring tool = Native(ToolPath()).wstring();
    const HMODULE image =
        ::LoadLibraryExW(tool.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    const HRSRC found = ::FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(image, found)));
    const std::string manifest(bytes, ::SizeofResource(image, found));
    ::FreeLibrary(image);
    EXPECT_NE(manifest.find("<longPathAware"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"),
              std::string::npos);
    // The code page stays the system's: the tool speaks UTF-16 to it.
    EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);
}

#else

TEST_F(ToolTest, NamesEndingInADotOrASpaceAreOrdinaryOnPosix) {
    EXPECT_EQ(Succeed("mkdir 'a./b ./c'"), "");
    EXPECT_TRUE(fs::is_directory(Path("a./b ./c")));
    Write("from", "x");
    EXPECT_EQ(Succeed("copy from 'a./to. '"), "");
    EXPECT_EQ(Read(Path("a./to. ")), "x");
}

#endif

// Names beyond ASCII (Latin-1, CJK, a character outside the BMP) and paths
// longer than the 260 characters of Windows' old limit, through each command
// that takes a path, and through the folder for temporary files of those that
// make their files there.
TEST_F(ToolTest, PathsOfAnyCharactersAndAnyLengthWorkInEveryCommand) {
    const std::string name = reinterpret_cast<const char*>(u8"Zo\u00EB-\u65E5\u672C-\U0001F600");
    const char sep = kSeparator;
    std::string deep = dir_;
    for (char c = 'a'; deep.size() <= 300; ++c) deep += sep + std::string(60, c);
    for (const std::string& folder : {Path(name), deep, deep + sep + name}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(Succeed(Args{"mkdir", folder}), "");
        ASSERT_TRUE(fs::is_directory(Native(folder)));
        const std::string pdf = folder + sep + name + ".pdf", copied = folder + sep + "copy " + name;
        WriteAt(pdf, "%PDF-1.7\nendobj\n");
        EXPECT_EQ(Succeed(Args{"copy", pdf, copied}), "");
        EXPECT_EQ(Read(copied), "%PDF-1.7\nendobj\n");
        EXPECT_EQ(Run(Args{"copy", pdf, pdf}),
                  Result(1, "", "gearset copy: '" + pdf + "' and '" + pdf + "' are the same file\n"));
        EXPECT_EQ(Succeed(Args{"scan", copied, "endobj"}), "9\n");
        WriteAt(folder + sep + name + ".pgm", "P2\n2 1\n255\n7 200\n");
        EXPECT_EQ(Succeed(Args{"jpeg", folder + sep + name + ".pgm", folder + sep + name + ".jpg"}), "");
        EXPECT_EQ(JpegShape(Read(folder + sep + name + ".jpg")), std::tuple(2, 1, 1));
        const std::string made = Succeed(Args{"mkdir", "--stamped", folder + sep + name});
        EXPECT_TRUE(made.starts_with(folder + sep + name + sep) && made.ends_with("\n")) << made;
        EXPECT_TRUE(fs::is_directory(Native(made.substr(0, made.size() - 1)))) << made;

        // The store and the demo's folder come and go in the folder for temporary files,
        // which Windows takes no longer than 260 characters (GetTempPathW).
#ifdef _WIN32
        if (folder.size() > 260) continue;
#endif
        const std::size_t entries = Entries(folder);
        temporary_ = folder;
        EXPECT_TRUE(Matches(Succeed("store bench --count 20 --size 100"), "((write|read|free) [^\n]*\n){3}"));
        const std::string demo = Succeed("demo");
        EXPECT_NE(demo.find("image to " + folder + sep + "gearset-demo-"), std::string::npos) << demo;
        temporary_ = dir_;
        EXPECT_EQ(Entries(folder), entries);
    }
}

}  // namespace
