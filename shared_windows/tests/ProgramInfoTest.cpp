#include "ProgramInfo.h"

#include <gtest/gtest.h>
#include <sstream>

using namespace shared_windows;

TEST(ProgramInfo, HelpAndVersionAreAnsweredAndAnythingElseIsLeftToTheProgram) {
    const ProgramInfo info{"QVRInstaller", "1.11", "[ARCHIVE]\nShows an archive.\n"};
    struct Case {
        std::vector<std::string> arguments;
        std::optional<int> status;
        std::string printed;
    } cases[] = {
        {{"--version"}, 0, "QVRInstaller 1.11\n"},
        {{"-V"}, 0, "QVRInstaller 1.11\n"},
        {{"--help"}, 0, "Usage: QVRInstaller [ARCHIVE]\nShows an archive.\n"},
        {{"Mod.qvr", "-h"}, 0, "Usage: QVRInstaller [ARCHIVE]\nShows an archive.\n"},
        {{}, std::nullopt, ""},
        {{"Mod.qvr"}, std::nullopt, ""},
        {{"-platform", "offscreen"}, std::nullopt, ""}, // Qt's own
        {{"--", "--help"}, std::nullopt, ""},           // a file of that name
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        EXPECT_EQ(AnswerInfoOptions(c.arguments, info, out), c.status) << c.printed;
        EXPECT_EQ(out.str(), c.printed);
    }
}
