#include "Arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gearset {
namespace {

const CommandSyntax& scanSyntax() {
    static const CommandSyntax syntax{"scan",
                                      "[--last] [--before N] FILE PATTERN",
                                      "Finds a byte pattern.",
                                      {{"last", "", "last match"}, {"before", "N", "end at or before N"}},
                                      {"FILE", "PATTERN"},
                                      2,
                                      2};
    return syntax;
}

const CommandSyntax& listSyntax() {
    static const CommandSyntax syntax{"date parse", "TEXT...", "Reads dates.",           {},
                                      {"TEXT"},     1,         CommandSyntax::kUnbounded};
    return syntax;
}

std::string usageMessage(const CommandSyntax& syntax, std::vector<std::string> args) {
    try {
        ParseArguments(syntax, std::span<const std::string>(args));
    } catch (const UsageError& error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(ArgumentsTest, OptionsMayStandBeforeBetweenOrAfterPositionals) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--last", "--before", "9", "f", "p"},
          {"f", "--last", "p", "--before=9"},
          {"f", "p", "--before", "9", "--last"}}) {
        const ParsedArguments parsed = ParseArguments(scanSyntax(), std::span<const std::string>(args));
        EXPECT_TRUE(parsed.Has("last"));
        EXPECT_EQ(parsed.Value("before"), "9");
        EXPECT_EQ(parsed.Positionals(), (std::vector<std::string>{"f", "p"}));
    }
}

TEST(ArgumentsTest, DoubleDashEndsOptionsAndLoneDashIsPositional) {
    const ParsedArguments parsed = ParseArguments(scanSyntax(), {"-", "--", "--last"});
    EXPECT_FALSE(parsed.Has("last"));
    EXPECT_EQ(parsed.Positionals(), (std::vector<std::string>{"-", "--last"}));
}

TEST(ArgumentsTest, ValueMayLookLikeAnOptionAndTheLastOneWins) {
    const ParsedArguments parsed =
        ParseArguments(scanSyntax(), {"--before", "--last", "--before=", "f", "p"});
    EXPECT_FALSE(parsed.Has("last"));
    EXPECT_EQ(parsed.Value("before"), "");
    EXPECT_EQ(parsed.Value("missing"), std::nullopt);
}

TEST(ArgumentsTest, HelpWinsOverAnyOtherMistakeBeforeDoubleDash) {
    EXPECT_TRUE(ParseArguments(scanSyntax(), {"--bogus", "-h"}).HelpRequested());
    EXPECT_TRUE(ParseArguments(scanSyntax(), {"--help"}).HelpRequested());
    EXPECT_EQ(usageMessage(scanSyntax(), {"--", "--help"}), "missing PATTERN");
}

TEST(ArgumentsTest, MistakesAreOneLineUsageErrors) {
    struct Row {
        std::vector<std::string> args;
        const char* message;
    };
    const Row rows[] = {
        {{}, "missing FILE"},
        {{"f"}, "missing PATTERN"},
        {{"f", "p", "x"}, "unexpected argument 'x'"},
        {{"--lats", "f", "p"}, "unknown option '--lats'"},
        {{"--lats=3", "f", "p"}, "unknown option '--lats'"},
        {{"-l", "f", "p"}, "unknown option '-l'"},
        {{"--last=yes", "f", "p"}, "option --last takes no value"},
        {{"f", "p", "--before"}, "option --before needs a value N"},
    };
    for (const Row& row : rows) EXPECT_EQ(usageMessage(scanSyntax(), row.args), row.message);
}

TEST(ArgumentsTest, UnboundedListsTakeAnyNumberAboveTheMinimum) {
    EXPECT_EQ(usageMessage(listSyntax(), {}), "missing TEXT");
    EXPECT_EQ(ParseArguments(listSyntax(), {"a", "", "c", "d"}).Positionals().size(), 4u);
}

TEST(ArgumentsTest, HelpShowsUsageSummaryAndEveryOption) {
    const std::string help = FormatHelp(scanSyntax());
    EXPECT_EQ(
        help.rfind("Usage: gearset scan [--last] [--before N] FILE PATTERN\n\nFinds a byte pattern.\n", 0),
        0u);
    EXPECT_NE(help.find("  --before N  end at or before N\n"), std::string::npos);
    EXPECT_NE(help.find("  --last      last match\n"), std::string::npos);
    EXPECT_NE(help.find("  -h, --help  show this help and exit\n"), std::string::npos);
}

TEST(ArgumentsTest, IntegersMustBeWholeAndInRange) {
    EXPECT_EQ(ParseInteger("0", "N", 0, 10), 0);
    EXPECT_EQ(ParseInteger("+10", "N", 0, 10), 10);
    EXPECT_EQ(ParseInteger("-5", "N", -5, 10), -5);
    EXPECT_EQ(ParseInteger("9223372036854775807", "N", 0, INT64_MAX), INT64_MAX);
    for (const char* bad :
         {"", "+", "-", "+-1", "11", "-1", "1x", " 1", "1 ", "0x1", "1e3", "99999999999999999999"}) {
        EXPECT_THROW(ParseInteger(bad, "--count", 0, 10), UsageError) << "'" << bad << "'";
    }
    try {
        ParseInteger("x", "--count", 1, 5);
    } catch (const UsageError& error) {
        EXPECT_STREQ(error.what(), "--count must be a whole number from 1 to 5, not 'x'");
    }
}

}  // namespace
}  // namespace gearset
