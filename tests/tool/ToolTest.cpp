// The gearset tool end to end: arguments, exit status, and the output that
// scripts rely on, checked exactly. Library edge cases are the library tests'.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <jpeglib.h>
#include <regex.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

using Result = std::tuple<int, std::string, std::string>;  // exit status, stdout, stderr

// A shell word; the paths and zones quoted here hold no quote.
std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Whether the whole text matches the extended regular expression.
// What a shell command writes to stdout.
std::string Shell(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
    ::pclose(pipe);
    return out;
}

std::set<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

bool Matches(const std::string& text, const std::string& pattern) {
    regex_t compiled;
    if (::regcomp(&compiled, ("^" + pattern + "$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
    const bool matched = ::regexec(&compiled, text.c_str(), 0, nullptr, 0) == 0;
    ::regfree(&compiled);
    return matched;
}

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override {
        fs::remove_all(dir_);
        fs::remove(outPath_);
    }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Runs the tool on a shell command line where "@name" stands for a file in the
    // test's directory, where its temporary files go too. stderr is read from a
    // pipe, as under a script, so the tool must draw no progress there.
    // Standard input is /dev/null; with `input` "|name" a pipe fed with that file of the directory,
    // with "<name" the file itself.
    Result Run(const std::string& arguments, const std::string& zone = "UTC0",
               const std::string& input = "") const {
        const bool piped = input.starts_with('|');
        std::string command = (piped ? "cat " + Quoted(Path(input.substr(1))) + " | " : "") +
                              "TZ=" + Quoted(zone) + " TMPDIR=" + Quoted(dir_) + " " +
                              Quoted(GEARSET_TOOL_PATH) + " ";
        for (char c : arguments) command += c == '@' ? Quoted(dir_) + "/" : std::string(1, c);
        if (!piped) command += " <" + (input.empty() ? "/dev/null" : Quoted(Path(input.substr(1))));
        command += " 2>&1 >" + Quoted(outPath_);
        std::string err;
        std::FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            err.append(buffer, got);
        const int status = ::pclose(pipe);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), Read(outPath_), err};
    }
    // The output of a run that must succeed quietly.
    std::string Succeed(const std::string& arguments, const std::string& zone = "UTC0") const {
        const auto [status, out, err] = Run(arguments, zone);
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

    const std::string dir_ =
        (fs::temp_directory_path() / ("gearset-tool-test-" + std::to_string(::getpid()))).string();
    const std::string outPath_ = dir_ + ".out";
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
    EXPECT_NE(group.find("date parse [--json | --explain] TEXT..."), std::string::npos) << group;
    EXPECT_NE(group.find("date format [--iso] [TIME]"), std::string::npos) << group;
}

TEST_F(ToolTest, EveryDateFormTheHelpNamesReadsAsTheTimeItWrites) {
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
         {"frobnicate", "--frob", "date", "date format yesterday", "text encode \xFF", "text decode F",
          "text decode F E", "text decode ZZ", "scan --before 5 @a.pdf PDF", "scan @a.pdf '\\q'",
          "scan @a.pdf ''", "date parse --json --explain 2024", "store bench --page-size 12",
          "store bench --page-size 429496730", "store bench --count 100000 --size 100000", "mkdir ''",
          "mkdir --stamped ''"})
        ExpectFailure(arguments, 2, "--help')");
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

TEST_F(ToolTest, CommandsPrintExactlyThisAndExitZeroOrOneWhenNothingIsFound) {
    //                      0         1         2         3
    //                      0123456789012345678901234567890123456789
    Write("a.pdf", "%PDF-1.7\n1 0 obj\nendobj\n2 0 obj\nendobj\n%%EOF\n");
    Write("empty", "");
    struct Row {
        const char* arguments;
        const char* out;
        int exitCode = 0;
        const char* zone = "UTC0";  // POSIX rules, so that no zone database is needed
    };
    const char* plus3 = "<+03>-3";
    const char* minus330 = "<-0330>3:30";
    const Row rows[] = {
        {"date parse D:20240102030405Z 2024-01-02T03:04:05+03:00 ''",
         "2024-01-02 03:04:05\n2024-01-02 00:04:05\nunset\n"},
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
        {"date format '2024-01-02 03:04:05'", "D:20240102030405Z00'00'\n"},
        {"date format '2024-01-02 03:04:05'", "D:20240102030405+03'00'\n", 0, plus3},
        {"date format '2024-01-02 03:04:05'", "D:20240102030405-03'30'\n", 0, minus330},
        {"date format --iso 2024-01-02 03:04:05", "2024-01-02T03:04:05Z\n"},
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
    for (const Row& row : rows)
        EXPECT_EQ(Run(row.arguments, row.zone), Result(row.exitCode, row.out, ""))
            << row.arguments << " " << row.zone;
    EXPECT_TRUE(Matches(Succeed("date format", plus3), "D:[0-9]{14}\\+03'00'\n"));
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
    // A link that leads nowhere is written through, and the message names the path as given.
    fs::create_symlink(Path("none/x.jpg"), Path("dangling"));
    ExpectFailure("jpeg @in.pgm @dangling", 1, "cannot open '" + Path("dangling") + "' for writing: ");
    EXPECT_FALSE(fs::exists(Path("to")));
    EXPECT_FALSE(fs::exists(Path("out.jpg")));
    EXPECT_EQ(Read(Path("from.bin")), std::string("source\0\xFF bytes", 14));
    Write("to.bin", std::string(20000, 'x'));  // longer than the source: nothing of it may stay
    EXPECT_EQ(Succeed("copy @from.bin @to.bin"), "");
    EXPECT_EQ(Read(Path("to.bin")), Read(Path("from.bin")));
}

TEST_F(ToolTest, CopyTakesAnySourceWholeAndIsNoMorePermissiveThanIt) {
    const std::string bytes = std::string("piped\0\xFF", 7) + std::string(70000, 'p');
    Write("from.bin", bytes);
    const std::string proc = Read("/proc/version");  // a regular file that says it is empty
    const std::tuple<const char*, const char*, std::string> rows[] = {
        {"copy /dev/stdin @to", "|from.bin", bytes},
        {"copy - @to", "|from.bin", bytes},
        {"copy - @to", "<from.bin", bytes},
        {"copy /proc/version @to", "", proc},
        {"copy /dev/null @to", "", ""},
    };
    for (const auto& [arguments, input, expected] : rows) {
        Write("to", std::string(90000, 'o'));
        EXPECT_EQ(Run(arguments, "UTC0", input), Result(0, "", "")) << arguments;
        EXPECT_TRUE(Read(Path("to")) == expected) << arguments << " " << input;
    }
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
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

TEST_F(ToolTest, MkdirCreatesParentsAndStampedPrintsANewDirectoryEachTime) {
    EXPECT_EQ(Succeed("mkdir @a/b/c"), "");
    EXPECT_EQ(Succeed("mkdir @a/b/c"), "");
    EXPECT_TRUE(fs::is_directory(Path("a/b/c")));
    const std::string first = Succeed("mkdir --stamped @runs"), second = Succeed("mkdir --stamped @runs");
    EXPECT_NE(first, second);
    for (const std::string& made : {first, second}) {
        EXPECT_TRUE(made.starts_with(Path("runs/")) &&
                    Matches(made.substr(Path("runs/").size()),
                            "[0-9]{4}\\.[0-9]{2}\\.[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}(\\([0-9]+\\))*\n"))
            << made;
        EXPECT_TRUE(fs::is_directory(made.substr(0, made.size() - 1))) << made;
    }
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

// As root: the replaced file keeps its owner, and a user who may write a file
// but not its folder still gets the copy, written in place.
TEST_F(ToolTest, AReplacedTargetKeepsItsOwnerAndAClosedFolderIsWrittenInPlace) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as another user";
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
    Write("closed/theirs", "old");
    ASSERT_EQ(0, ::chown(Path("closed/theirs").c_str(), kNobody, kNobody));
    fs::permissions(Path("closed"), fs::perms(0755));
    const std::string status2 =
        Shell("setpriv --reuid=65534 --regid=65534 --clear-groups " + Quoted(GEARSET_TOOL_PATH) + " copy " +
              Quoted(Path("from")) + " " + Quoted(Path("closed/theirs")) + " 2>&1; echo $?");
    EXPECT_EQ(status2, "0\n");
    EXPECT_EQ(Read(Path("closed/theirs")), "new bytes");
}

TEST_F(ToolTest, AWriteCutShortLeavesTheOldTargetAsItWas) {
    std::string ppm = "P6\n64 64\n255\n";
    for (int i = 0; i < 64 * 64 * 3; ++i) ppm += static_cast<char>(i * 7919 % 251);
    Write("in.ppm", ppm);
    Write("old", "old bytes");
    fs::permissions(Path("old"), fs::perms(0640));
    // A file-size limit of 1 KiB makes the system refuse the rest, as a full disk would.
    for (const std::string command : {"jpeg in.ppm old", "copy in.ppm old"}) {
        const std::string status =
            Shell("cd " + Quoted(dir_) + " && (trap '' XFSZ; ulimit -f 1; exec " + Quoted(GEARSET_TOOL_PATH) +
                  " " + command + ") 2>/dev/null; echo $?");
        EXPECT_EQ(status, "1\n") << command;
        EXPECT_EQ(Read(Path("old")), "old bytes") << command;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
    EXPECT_EQ(Succeed("jpeg @in.ppm @old"), "");
    EXPECT_EQ(JpegShape(Read(Path("old"))), std::tuple(64, 64, 3));
    EXPECT_EQ(fs::status(Path("old")).permissions(), fs::perms(0640));
}

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
        EXPECT_EQ(Run(arguments, "UTC0", input), expected) << arguments;
    // Files to and from the standard streams, the same bytes as by name.
    Write("in.pgm", "P5\n3 2\n255\n\x01\x40\x80\xC0\xF0\xFF");
    Succeed("jpeg @in.pgm @by-name.jpg");
    for (const char* input : {"|in.pgm", "<in.pgm"})
        EXPECT_EQ(Run("jpeg - -", "UTC0", input), Result(0, Read(Path("by-name.jpg")), "")) << input;
    EXPECT_EQ(Run("copy - -", "UTC0", "|a.pdf"), Result(0, Read(Path("a.pdf")), ""));
    EXPECT_EQ(Run("copy @hex -"), Result(0, Read(Path("hex")), ""));
    // The copy of a piped input and the JPEG passed on are gone with the run.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 4);
}

TEST_F(ToolTest, JsonGivesTheFactsOfTheTextAsOneWellFormedDocument) {
    Write("a.pdf", "%PDF-1.7\nendobj\n");
    const std::pair<const char*, const char*> rows[] = {
        {"date parse --json D:20240102030405Z '' '\"\\\x01\xFF'",
         "{\"dates\":[{\"text\":\"D:20240102030405Z\",\"time\":\"2024-01-02 03:04:05\"},"
         "{\"text\":\"\",\"time\":null},"
         "{\"text\":\"\\\"\\\\\\u0001\xEF\xBF\xBD\",\"time\":\"1970-01-01 00:00:00\"}]}\n"},
        {"text decode --json 'FE FF 00 E9 D8 3D DE 00'",
         "{\"text\":\"\xC3\xA9\xF0\x9F\x98\x80\",\"codepoints\":\"U+00E9 U+D83D U+DE00\"}\n"},
        {"scan --json @a.pdf endobj", "{\"offset\":9,\"found\":true}\n"},
        {"scan --json @a.pdf xref", "{\"offset\":-1,\"found\":false}\n"},
        {"store bench --json --count 20 --size 100", nullptr},
    };
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
        // A second document or a stray byte after the first is an error to a JSON reader too.
        EXPECT_EQ(
            std::system(("python3 -c 'import json,sys; json.load(open(sys.argv[1], encoding=\"utf-8\"))' " +
                         Quoted(outPath_))
                            .c_str()),
            0)
            << arguments << ": " << out;
    }
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

        EXPECT_EQ(
            Words(Shell("bash -c 'source \"$0\"; COMP_WORDS=(gearset $1 --); COMP_CWORD=${#COMP_WORDS[@]}; "
                        "((COMP_CWORD--)); _gearset; echo \"${COMPREPLY[*]}\"' " +
                        Quoted(GEARSET_COMPLETION_PATH) + " " + Quoted(command))),
            options)
            << command;
    }
    EXPECT_GE(commands, 10);
    EXPECT_EQ(Words(Shell("bash -c 'source \"$0\"; COMP_WORDS=(gearset \"\"); COMP_CWORD=1; _gearset; "
                          "echo \"${COMPREPLY[*]}\"' " +
                          Quoted(GEARSET_COMPLETION_PATH))),
              firstWords);
    for (const char* common :
         {".BR -q \", \" --quiet", ".BR -V \", \" --version", ".BR -h \", \" --help", "\n.B --\n"})
        EXPECT_NE(manual.find(common), std::string::npos) << common;
}

// The whole report, line by line; only the demo's folder, the time-stamped
// name and the JPEG's size vary.
TEST_F(ToolTest, DemoRunsEveryFamilyWithoutFilesAndLeavesNothingBehind) {
    const std::string out = Succeed("demo");
    const std::string folder = dir_ + "/gearset-demo-[0-9]+";
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
        "  formatted 2024-01-02 03:04:05 as D:20240102030405Z00'00' and 2024-01-02T03:04:05Z\n"
        "  read both back as 2024-01-02 03:04:05\n"
        "byte instruments\n"
        "  found \"endobj\" in a 128-byte PDF at offset 51 \\(first\\) and 103 \\(last\\)\n"
        "folders \\(CFolderWorker\\)\n"
        "  created " +
            folder +
            "/reports/2024/q1 with its parents\n"
            "  created " +
            folder +
            "/runs/[0-9]{4}\\.[0-9]{2}\\.[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}, "
            "named after the current time\n"
            "  removed both\n"
            "image saving \\(SaveImage\\)\n"
            "  wrote a 64x48 colour image to " +
            folder +
            "/demo\\.jpg: [0-9]+ bytes of JPEG\n"
            "  removed it\n"
            "done: every family ran once\n"))
        << out;
    EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
