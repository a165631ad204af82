// The gearset tool end to end: arguments, exit status, and the output that
// scripts rely on, checked exactly. Library edge cases are the library tests'.
#include "ToolRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

namespace gearset::testing {
namespace {

namespace fs = std::filesystem;

// Zones written as POSIX TZ rules, so that no zone database is needed.
const std::map<std::string, std::string> kUtc{{"TZ", "UTC0"}};
const std::map<std::string, std::string> kPlus3{{"TZ", "<+03>-3"}};
const std::map<std::string, std::string> kMinus330{{"TZ", "<-0330>3:30"}};

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("gearset-tool-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Exit status, stdout and stderr at once, so that a failure shows all three.
    static void ExpectResult(const ToolResult& result, int exitCode, const std::string& out,
                             const std::string& err = "") {
        EXPECT_EQ(result.exitCode, exitCode) << result.err;
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, err);
    }
    // A failure: nothing on stdout, one line on stderr naming the command.
    static void ExpectFailure(const ToolResult& result, int exitCode, const std::string& mentions) {
        EXPECT_EQ(result.exitCode, exitCode) << result.err;
        EXPECT_EQ(result.out, "");
        ASSERT_EQ(Lines(result.err).size(), 1u) << result.err;
        EXPECT_TRUE(result.err.ends_with("\n"));
        EXPECT_EQ(result.err.rfind("gearset", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(mentions), std::string::npos) << result.err;
    }

    fs::path dir_;
};

struct Decoded {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<unsigned char> pixels;
};

Decoded DecodeJpeg(const std::string& bytes) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    Decoded image{static_cast<int>(info.output_width),
                  static_cast<int>(info.output_height),
                  info.output_components,
                  {}};
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height * image.components);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.pixels.data() +
                       static_cast<std::size_t>(info.output_scanline) * image.width * image.components;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

TEST_F(ToolTest, VersionAndHelpGoToStdoutWithStatusZero) {
    ExpectResult(RunTool({"--version"}), 0, "gearset " GEARSET_VERSION "\n");
    const ToolResult help = RunTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    for (const char* command : {"demo", "date parse", "date format", "text encode", "text decode", "scan",
                                "copy", "mkdir", "jpeg", "store bench"}) {
        EXPECT_NE(help.out.find("\n  " + std::string(command) + " "), std::string::npos) << command;
        std::vector<std::string> args;
        for (std::size_t from = 0, space = 0; from != std::string::npos;
             from = space == std::string::npos ? space : space + 1) {
            space = std::string(command).find(' ', from);
            args.push_back(std::string(command).substr(from, space - from));
        }
        args.push_back("--help");
        const ToolResult commandHelp = RunTool(args);
        EXPECT_EQ(commandHelp.exitCode, 0) << command;
        EXPECT_EQ(commandHelp.out.rfind("Usage: gearset " + std::string(command), 0), 0u) << commandHelp.out;
        EXPECT_EQ(commandHelp.err, "");
    }
    const ToolResult group = RunTool({"date", "--help"});
    EXPECT_EQ(group.exitCode, 0);
    EXPECT_NE(group.out.find("date parse TEXT..."), std::string::npos) << group.out;
    EXPECT_NE(group.out.find("date format [--iso] [TIME]"), std::string::npos) << group.out;
}

TEST_F(ToolTest, MistakesInTheCommandLineExitTwoWithOneLine) {
    const std::string file = WriteFile("a.pdf", "%PDF-1.7\n");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"--frob"},
        {"date"},
        {"date", "when"},
        {"date", "parse"},
        {"date", "format", "2024-13-01 00:00:00"},
        {"date", "format", "yesterday"},
        {"date", "format", "--iso=1"},
        {"date", "format", "2024-01-02", "03:04:05", "x"},
        {"text", "encode"},
        {"text", "encode", "a", "b"},
        {"text", "encode", "\xFF"},
        {"text", "decode"},
        {"text", "decode", "F"},
        {"text", "decode", "ZZ"},
        {"scan", file},
        {"scan", "--before", "5", file, "PDF"},
        {"scan", "--last", "--before", "x", file, "PDF"},
        {"scan", "--last", "--before", "-1", file, "PDF"},
        {"scan", file, "\\q"},
        {"scan", file, ""},
        {"copy", file},
        {"mkdir"},
        {"mkdir", "a", "b"},
        {"jpeg", file},
        {"store", "bench", "--count", "0"},
        {"store", "bench", "--page-size", "12"},
        {"store", "bench", "--size", "x"},
        {"store", "bench", "--count", "100000", "--size", "100000"},
        {"store", "bench", "extra"},
        {"demo", "extra"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const ToolResult result = RunTool(args);
        ExpectFailure(result, 2, "--help')");
    }
    ExpectResult(RunTool({"scan", file}), 2, "",
                 "gearset scan: missing PATTERN (see 'gearset scan --help')\n");
    ExpectResult(RunTool({"date", "when"}), 2, "",
                 "gearset date: unknown subcommand 'when' (see 'gearset date --help')\n");
    ExpectResult(RunTool({}), 2, "", "gearset: missing COMMAND (see 'gearset --help')\n");
}

TEST_F(ToolTest, DateParsePrintsLocalTimeOrUnsetPerText) {
    ExpectResult(RunTool({"date", "parse", "D:20240102030405Z", "2024-01-02T03:04:05+03:00", ""}, kUtc), 0,
                 "2024-01-02 03:04:05\n2024-01-02 00:04:05\nunset\n");
    ExpectResult(
        RunTool({"date", "parse", "D:20240102030405Z", "D:20240102030405+03'00'", "2024-01-02"}, kPlus3), 0,
        "2024-01-02 06:04:05\n2024-01-02 03:04:05\n2024-01-02 03:00:00\n");
    ExpectResult(RunTool({"date", "parse", "2024-01-02T03:04:05Z"}, kMinus330), 0, "2024-01-01 23:34:05\n");
}

TEST_F(ToolTest, DateFormatWritesTheLocalOffset) {
    struct Row {
        std::map<std::string, std::string> zone;
        const char* docInfo;
        const char* iso;
    };
    const Row rows[] = {
        {kUtc, "D:20240102030405Z00'00'\n", "2024-01-02T03:04:05Z\n"},
        {kPlus3, "D:20240102030405+03'00'\n", "2024-01-02T03:04:05+03:00\n"},
        {kMinus330, "D:20240102030405-03'30'\n", "2024-01-02T03:04:05-03:30\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.zone.at("TZ"));
        ExpectResult(RunTool({"date", "format", "2024-01-02 03:04:05"}, row.zone), 0, row.docInfo);
        ExpectResult(RunTool({"date", "format", "--iso", "2024-01-02", "03:04:05"}, row.zone), 0, row.iso);
    }
    const ToolResult now = RunTool({"date", "format"}, kPlus3);
    EXPECT_EQ(now.exitCode, 0);
    EXPECT_TRUE(std::regex_match(now.out, std::regex("D:\\d{14}\\+03'00'\n"))) << now.out;
}

TEST_F(ToolTest, TextEncodePrintsHexPairs) {
    ExpectResult(RunTool({"text", "encode", "abc"}), 0, "61 62 63\n");
    ExpectResult(RunTool({"text", "encode", "--unicode", "abc"}), 0, "FE FF 00 61 00 62 00 63\n");
    ExpectResult(RunTool({"text", "encode", "\xC3\xA9"}), 0, "FE FF 00 E9\n");
    ExpectResult(RunTool({"text", "encode", "\xF0\x9F\x98\x80"}), 0, "FE FF D8 3D DE 00\n");
    ExpectResult(RunTool({"text", "encode", "--unicode", ""}), 0, "\n");
    ExpectResult(RunTool({"text", "encode", "--", "-x"}), 0, "2D 78\n");
}

TEST_F(ToolTest, TextDecodePrintsTextOrCodeUnits) {
    ExpectResult(RunTool({"text", "decode", "FE FF 00 41"}), 0, "A\n");
    ExpectResult(RunTool({"text", "decode", "feff", "0041"}), 0, "A\n");
    ExpectResult(RunTool({"text", "decode", "41 00 42"}), 0, "A B\n");
    ExpectResult(RunTool({"text", "decode", "FE FF 00 E9"}), 0, "\xC3\xA9\n");
    ExpectResult(RunTool({"text", "decode", "FEFF"}), 0, "\n");
    ExpectResult(RunTool({"text", "decode", "--codepoints", "FF FE 41 00"}), 0,
                 "U+00FF U+00FE U+0041 U+0020\n");
    ExpectResult(RunTool({"text", "decode", "--codepoints", "FE FF D8 3D DE 00"}), 0, "U+D83D U+DE00\n");
}

TEST_F(ToolTest, ScanPrintsTheOffsetAndExitsOneWhenNothingIsFound) {
    //                                     0         1         2         3
    //                                     0123456789012345678901234567890123456789
    const std::string file = WriteFile("a.pdf", "%PDF-1.7\n1 0 obj\nendobj\n2 0 obj\nendobj\n%%EOF\n");
    ExpectResult(RunTool({"scan", file, "endobj"}), 0, "17\n");
    ExpectResult(RunTool({"scan", "--last", file, "endobj"}), 0, "32\n");
    ExpectResult(RunTool({"scan", "--last", "--before", "37", file, "endobj"}), 0, "32\n");
    ExpectResult(RunTool({"scan", "--last", "--before", "36", file, "endobj"}), 0, "17\n");
    ExpectResult(RunTool({"scan", "--last", "--before", "21", file, "endobj"}), 1, "-1\n");
    ExpectResult(RunTool({"scan", file, "obj\\x0Aendobj"}), 0, "13\n");
    ExpectResult(RunTool({"scan", file, "xref"}), 1, "-1\n");
    ExpectResult(RunTool({"scan", "--last", file, "xref"}), 1, "-1\n");
    ExpectResult(RunTool({"scan", WriteFile("empty", ""), "x"}), 1, "-1\n");
    ExpectFailure(RunTool({"scan", Path("missing.pdf"), "x"}), 1, "missing.pdf");
    ExpectFailure(RunTool({"scan", dir_.string(), "x"}), 1, "not a regular file");
}

TEST_F(ToolTest, CopyReplacesTheTargetWithTheSource) {
    std::string source(10000, '\0');
    std::mt19937 random(3);
    for (char& c : source) c = static_cast<char>(random());
    const std::string from = WriteFile("from.bin", source);
    const std::string to = WriteFile("to.bin", std::string(20000, 'x'));
    ExpectResult(RunTool({"copy", from, to}), 0, "");
    EXPECT_EQ(ReadFile(to), source);
    ExpectResult(RunTool({"copy", WriteFile("empty", ""), to}), 0, "");
    EXPECT_EQ(ReadFile(to), "");
}

TEST_F(ToolTest, CopyFailuresLeaveFilesAlone) {
    const std::string from = WriteFile("from.bin", "source bytes");
    ExpectFailure(RunTool({"copy", Path("missing"), Path("to")}), 1, "missing");
    EXPECT_FALSE(fs::exists(Path("to")));
    ExpectFailure(RunTool({"copy", from, from}), 1, "same file");
    EXPECT_EQ(ReadFile(from), "source bytes");
    ExpectFailure(RunTool({"copy", from, Path("no/such/dir/to")}), 1, "to");
}

TEST_F(ToolTest, MkdirCreatesParentsAndStampedPrintsTheNewDirectory) {
    ExpectResult(RunTool({"mkdir", Path("a/b/c")}), 0, "");
    EXPECT_TRUE(fs::is_directory(Path("a/b/c")));
    ExpectResult(RunTool({"mkdir", Path("a/b/c")}), 0, "");

    const std::string root = Path("runs");
    const ToolResult first = RunTool({"mkdir", "--stamped", root});
    const ToolResult second = RunTool({"mkdir", "--stamped", root});
    for (const ToolResult* result : {&first, &second}) {
        EXPECT_EQ(result->exitCode, 0) << result->err;
        EXPECT_EQ(result->err, "");
        ASSERT_TRUE(std::regex_match(
            result->out, std::regex(std::regex_replace(root, std::regex("[.^$|()\\[\\]{}*+?\\\\]"), "\\$&") +
                                    "/\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d-\\d\\d-\\d\\d(\\(\\d+\\))*\n")))
            << result->out;
        EXPECT_TRUE(fs::is_directory(result->out.substr(0, result->out.size() - 1)));
    }
    EXPECT_NE(first.out, second.out);

    WriteFile("file", "x");
    ExpectFailure(RunTool({"mkdir", Path("file/sub")}), 1, "file");
}

TEST_F(ToolTest, JpegWritesColourAndGreyImages) {
    std::string ppm = "P6\n8 6\n255\n";
    for (int i = 0; i < 8 * 6; ++i)
        ppm += std::string{static_cast<char>(i * 5), static_cast<char>(200), static_cast<char>(40)};
    ExpectResult(RunTool({"jpeg", WriteFile("in.ppm", ppm), Path("out.jpg")}), 0, "");
    const Decoded colour = DecodeJpeg(ReadFile(Path("out.jpg")));
    EXPECT_EQ(colour.width, 8);
    EXPECT_EQ(colour.height, 6);
    EXPECT_EQ(colour.components, 3);

    // Black and white: written from a grey copy.
    ExpectResult(RunTool({"jpeg", WriteFile("in.pbm", "P1\n3 2\n1 0 1\n0 1 0\n"), Path("out.jpg")}), 0, "");
    const Decoded grey = DecodeJpeg(ReadFile(Path("out.jpg")));
    EXPECT_EQ(grey.components, 1);
    ASSERT_EQ(grey.pixels.size(), 6u);
    EXPECT_LT(grey.pixels[0], 40);
    EXPECT_GT(grey.pixels[1], 215);
}

TEST_F(ToolTest, JpegFailsOnMissingOrUnreadableInputAndUnwritableOutput) {
    ExpectFailure(RunTool({"jpeg", Path("missing.png"), Path("out.jpg")}), 1, "missing.png");
    ExpectFailure(RunTool({"jpeg", WriteFile("text.png", "not an image"), Path("out.jpg")}), 1, "text.png");
    EXPECT_FALSE(fs::exists(Path("out.jpg")));
    ExpectFailure(RunTool({"jpeg", WriteFile("in.pgm", "P2\n1 1\n255\n7\n"), Path("none/out.jpg")}), 1,
                  "out.jpg");
}

TEST_F(ToolTest, StoreBenchPrintsOneLinePerPhase) {
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, {"--compress", "--page-size", "512"}}) {
        std::vector<std::string> args{"store", "bench", "--count", "300", "--size", "3000"};
        args.insert(args.end(), extra.begin(), extra.end());
        const ToolResult result = RunTool(args, {{"TMPDIR", dir_.string()}});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.err, "");  // no progress: stderr is not a terminal
        const std::vector<std::string> lines = Lines(result.out);
        ASSERT_EQ(lines.size(), 3u) << result.out;
        EXPECT_TRUE(std::regex_match(lines[0], std::regex("write \\d+ records/s \\d+\\.\\d MB/s")))
            << lines[0];
        EXPECT_TRUE(std::regex_match(lines[1], std::regex("read \\d+ records/s \\d+\\.\\d MB/s")))
            << lines[1];
        EXPECT_TRUE(std::regex_match(lines[2], std::regex("free \\d+ records/s"))) << lines[2];
    }
    EXPECT_TRUE(fs::is_empty(dir_));  // the store's temporary file is gone
}

TEST_F(ToolTest, DemoRunsEveryFamilyWithoutFilesAndLeavesNothingBehind) {
    const ToolResult result = RunTool({"demo"}, {{"TMPDIR", dir_.string()}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    for (const char* step :
         {"record store", "wrote record", "read record", "freed record", "object cache", "parked", "rebuilt",
          "PDF text strings", "encoded \"Invoice 42\" as 49 6E 76", "PDF dates",
          "read both back as 2024-01-02 03:04:05", "found \"endobj\"", "folders", "removed both",
          "image saving", "bytes of JPEG", "removed it", "done: every family ran once"}) {
        EXPECT_NE(result.out.find(step), std::string::npos) << step << "\n" << result.out;
    }
    EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
}  // namespace gearset::testing
