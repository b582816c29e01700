// The tool's small parts: options, answers, line breaks and the progress bar.

#include "Args.h"
#include "ListFormat.h"
#include "Terminal.h"
#include "Tool.h"

#include <gtest/gtest.h>

using namespace qvrtool;

TEST(Options, LongShortGroupedAndSeparatedFormsAllParse) {
    std::vector<OptionSpec> specs = {
        {"jobs", 'j', true}, {"quiet", 'q', false}, {"verbose", 'v', false}, {"name", 0, true}};
    auto a = ParseArgs({"x.qvr", "-qvj4", "--name=A B", "dir", "--", "--name"}, specs);
    EXPECT_EQ(a.Operands, (std::vector<std::string>{"x.qvr", "dir", "--name"}));
    EXPECT_TRUE(a.Has("quiet"));
    EXPECT_TRUE(a.Has("verbose"));
    EXPECT_EQ(a.Value("jobs"), "4");
    EXPECT_EQ(a.Value("name"), "A B");
    auto b = ParseArgs({"-j", "2", "--name", "", "-"}, specs);
    EXPECT_EQ(b.Value("jobs"), "2");
    EXPECT_TRUE(b.Has("name"));
    EXPECT_EQ(b.Value("name", "fallback"), "");
    EXPECT_EQ(b.Operands, (std::vector<std::string>{"-"}));

    EXPECT_THROW(ParseArgs({"--nope"}, specs), UsageError);
    EXPECT_THROW(ParseArgs({"-x"}, specs), UsageError);
    EXPECT_THROW(ParseArgs({"--name"}, specs), UsageError);
    EXPECT_THROW(ParseArgs({"--quiet=yes"}, specs), UsageError);
    EXPECT_EQ(ParseJobs("16"), 16u);
    for (const char* bad : {"0", "-1", "two", "", "99999", "1.5"})
        EXPECT_THROW(ParseJobs(bad), UsageError) << bad;
    // A whole number out of range is told the range, however many digits it has.
    for (const char* large : {"99999", "123456789012345678901"}) {
        std::string said;
        try {
            ParseJobs(large);
        } catch (const UsageError& e) {
            said = e.what();
        }
        EXPECT_NE(said.find("from 1 to"), std::string::npos) << large << ": " << said;
    }
}

TEST(Options, OverwriteAnswersFollowUnzip) {
    EXPECT_EQ(ParseOverwriteAnswer("y"), OverwriteAnswer::Overwrite);
    EXPECT_EQ(ParseOverwriteAnswer(" Overwrite \r"), OverwriteAnswer::Overwrite);
    EXPECT_EQ(ParseOverwriteAnswer("n"), OverwriteAnswer::Skip);
    EXPECT_EQ(ParseOverwriteAnswer("skip"), OverwriteAnswer::Skip);
    EXPECT_EQ(ParseOverwriteAnswer("A"), OverwriteAnswer::All);
    EXPECT_EQ(ParseOverwriteAnswer("ALL"), OverwriteAnswer::All);
    EXPECT_EQ(ParseOverwriteAnswer("N"), OverwriteAnswer::None);
    EXPECT_EQ(ParseOverwriteAnswer("none"), OverwriteAnswer::None);
    // A lower-case "a" is not taken for "all": one slip must not overwrite everything.
    EXPECT_EQ(ParseOverwriteAnswer("a"), std::nullopt);
    EXPECT_EQ(ParseOverwriteAnswer(""), std::nullopt);
    EXPECT_EQ(ParseOverwriteAnswer("maybe"), std::nullopt);
}

TEST(Texts, NotesLineBreaksBecomeCrLfWhateverTheirForm) {
    EXPECT_EQ(ToCrLf("a\nb\r\nc\rd\n\n"), "a\r\nb\r\nc\r\nd\r\n\r\n");
    EXPECT_EQ(ToCrLf("plain"), "plain");
    EXPECT_EQ(RenderBar("Packing", 5, 10, 10, "x.nif"), "Packing [#####     ] 50% x.nif");
    EXPECT_EQ(RenderBar("Packing", 0, 0, 4, ""), "Packing [####] 100%");
    std::string longName(60, 'n');
    EXPECT_EQ(RenderBar("P", 1, 1, 2, longName).size(), std::string("P [##] 100% ").size() + 40);
}

TEST(Texts, JsonStringsCarryNoControlRaw) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\"b\\c\n", "\"a\\\"b\\\\c\\n\""},
        {"\x1B[2J\x7F", "\"\\u001b[2J\\u007f\""},
        {"\xC2\x9B"
         "1m \xC3\xA9",
         "\"\\u009b1m \xC3\xA9\""},
        {"x\xE2\x80\xAE"
         "fdp.exe",
         "\"x\\u202efdp.exe\""},
        {"raw\x9B", "\"raw\xEF\xBF\xBD\""},
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
    };
    for (const auto& [text, json] : cases)
        EXPECT_EQ(JsonString(text), json) << text;
}

TEST(Texts, ControlCharactersNeverReachTheTerminal) {
    EXPECT_EQ(Printable("a\x1B[2Jb\x07"
                        "c\x7F"),
              "a?[2Jb?c?");
    EXPECT_EQ(Printable("\xC2\x9B"
                        "1m \xC2\xA0\xC3\xA9"),
              "?1m \xC2\xA0\xC3\xA9"); // C1 only
    // A lone byte of another encoding (0x9B is CSI to some terminals), and marks that turn
    // "x<RLO>fdp.exe" into "xexe.pdf" on screen.
    EXPECT_EQ(Printable("raw\x9B"
                        "31m \xE2\x80\xAE"
                        "fdp.exe \xC3"),
              "raw?31m ?fdp.exe ?");
    EXPECT_EQ(Printable("\xE2\x80\x8F\xF0\x9F\x98\x80"), "?\xF0\x9F\x98\x80");
    EXPECT_EQ(Printable("one\ntwo\tthree"), "one?two?three");
    EXPECT_EQ(Printable("one\ntwo\tthree", true), "one\ntwo\tthree");
    // A long name is cut at the start of a character, never inside one.
    std::string name;
    for (int i = 0; i < 30; ++i)
        name += "\xC3\xA9";
    std::string bar = RenderBar("P", 1, 1, 2, name);
    std::string shown = bar.substr(bar.find("...") + 3);
    EXPECT_EQ(static_cast<unsigned char>(shown[0]), 0xC3u);
    EXPECT_EQ(shown.size() % 2, 0u);
}
