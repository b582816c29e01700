// Morrowind.ini's lists: our lines in and out in any order, everything else byte for byte.

#include "TestSupport.h"
#include "qvr/games/MorrowindIni.h"

#include <algorithm>

namespace mwini = qvr::mwini;

namespace {

// As the game and its launcher leave it: CR LF, comments, Windows-1252, unknown lines.
const std::string kIni = "[General]\r\n"
                         "; Morrowind's own comment, caf\xE9\r\n"
                         "Screen Shot Enable=0\r\n"
                         "\r\n"
                         "[Game Files]\r\n"
                         "GameFile0=Morrowind.esm\r\n"
                         "GameFile1=Tribunal.esm\r\n"
                         "GameFile2=Bloodmoon.esm\r\n"
                         "\r\n"
                         "[Archives]\r\n"
                         "Archive 0=Tribunal.bsa\r\n"
                         "Archive 1=Bloodmoon.bsa\r\n"
                         "\r\n"
                         "[Moons]\r\n"
                         "Masser Size=94";

struct IniInstall {
    std::vector<std::string> Plugins, Archives;
};

// Three plug-ins with masters among them, as they would be installed.
const std::vector<IniInstall> kIniInstalls = {
    {{"Base.esm"}, {"Base.bsa"}},
    {{"Mid.esp"}, {}},
    {{"Top.esp", "Top - Patch.esp"}, {"Top.bsa"}},
};

// What the file should be with these installs added, in this order, to kIni.
std::string Model(const std::vector<size_t>& installed) {
    std::string bytes = kIni;
    for (size_t i : installed) {
        mwini::IniLines added;
        EXPECT_TRUE(
            mwini::AddToLists(bytes, kIniInstalls[i].Plugins, kIniInstalls[i].Archives, added));
    }
    return bytes;
}

} // namespace

TEST(MorrowindIni, AddingNumbersAfterTheListAndKeepsEveryOtherByte) {
    std::string bytes = kIni;
    mwini::IniLines added;
    ASSERT_TRUE(mwini::AddToLists(bytes, {"Tower.esp", "Caf\xC3\xA9.esp"}, {"Tower.bsa"}, added));
    EXPECT_EQ(bytes, "[General]\r\n; Morrowind's own comment, caf\xE9\r\nScreen Shot Enable=0\r\n"
                     "\r\n[Game Files]\r\nGameFile0=Morrowind.esm\r\nGameFile1=Tribunal.esm\r\n"
                     "GameFile2=Bloodmoon.esm\r\nGameFile3=Tower.esp\r\nGameFile4=Caf\xE9.esp\r\n"
                     "\r\n[Archives]\r\nArchive 0=Tribunal.bsa\r\nArchive 1=Bloodmoon.bsa\r\n"
                     "Archive 2=Tower.bsa\r\n\r\n[Moons]\r\nMasser Size=94");
    EXPECT_EQ(mwini::ReadList(bytes, mwini::List::GameFiles).back(), "Caf\xC3\xA9.esp");
    // Listed already, in another letter case: not added twice.
    mwini::IniLines again;
    std::string same = bytes;
    ASSERT_TRUE(mwini::AddToLists(same, {"tower.ESP"}, {"TOWER.bsa"}, again));
    EXPECT_EQ(same, bytes);
    EXPECT_TRUE(again.GameFiles.empty() && again.Archives.empty());
    EXPECT_EQ(mwini::RemoveFromLists(bytes, added), 3u);
    EXPECT_EQ(bytes, kIni);
}

TEST(MorrowindIni, AnyOrderOfInstallsAndRemovalsFollowsTheModelAndEndsAsItBegan) {
    std::vector<size_t> adds = {0, 1, 2};
    do {
        std::vector<size_t> removes = {0, 1, 2};
        do {
            std::string bytes = kIni;
            std::vector<mwini::IniLines> lines(3);
            std::vector<size_t> installed;
            for (size_t i : adds) {
                ASSERT_TRUE(mwini::AddToLists(bytes, kIniInstalls[i].Plugins,
                                              kIniInstalls[i].Archives, lines[i]));
                installed.push_back(i);
                ASSERT_EQ(bytes, Model(installed));
            }
            for (size_t i : removes) {
                mwini::RemoveFromLists(bytes, lines[i]);
                installed.erase(std::find(installed.begin(), installed.end(), i));
                ASSERT_EQ(bytes, Model(installed));
                // The game still reads a whole list.
                EXPECT_FALSE(mwini::FirstGap(mwini::ListLines(bytes, mwini::List::GameFiles)));
            }
            EXPECT_EQ(bytes, kIni);
        } while (std::next_permutation(removes.begin(), removes.end()));
    } while (std::next_permutation(adds.begin(), adds.end()));
}

TEST(MorrowindIni, RemovalNumbersDownWhatThePlayerAddedLater) {
    std::string bytes = kIni;
    mwini::IniLines ours;
    ASSERT_TRUE(mwini::AddToLists(bytes, {"Ours.esp"}, {}, ours));
    // The player enables another plug-in by hand after ours, in their own spelling.
    const std::string theirs = "GameFile4 = Theirs.esp\r\n";
    bytes.insert(bytes.find("\r\n[Archives]"), theirs);
    mwini::RemoveFromLists(bytes, ours);
    EXPECT_EQ(
        mwini::ReadList(bytes, mwini::List::GameFiles),
        (std::vector<std::string>{"Morrowind.esm", "Tribunal.esm", "Bloodmoon.esm", "Theirs.esp"}));
    EXPECT_NE(bytes.find("GameFile3 = Theirs.esp\r\n"), std::string::npos);
}

TEST(MorrowindIni, ValuesTheGameWouldReadOtherwiseAreRefusedBeforeAnyLineIsWritten) {
    const std::vector<std::string> refused = {"",
                                              "Two\r\nGameFile9=Lines.esp",
                                              "Line\nbreak.esp",
                                              "Tab\there.esp",
                                              "A=B.esp",
                                              "[Section].esp",
                                              "]x.esp",
                                              " Blank.esp",
                                              "Blank.esp ",
                                              "'Quoted.esp'",
                                              "Sub\\Dir.esp",
                                              "Greek \xCE\xA9.esp",
                                              "C1 \xC2\x9B.esp",
                                              std::string(256, 'x') + ".esp"};
    for (const std::string& name : refused) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(mwini::IniValueProblem(name).empty());
        std::string bytes = kIni;
        mwini::IniLines added;
        EXPECT_FALSE(mwini::AddToLists(bytes, {"Fine.esp", name}, {}, added));
        EXPECT_FALSE(mwini::AddToLists(bytes, {}, {name}, added));
        EXPECT_EQ(bytes, kIni);
    }
    for (const char* name : {"Tower.esp", "Caf\xC3\xA9 [Extended].esp", "a;b.esp"})
        EXPECT_EQ(mwini::IniValueProblem(name), "") << name;
}

TEST(MorrowindIni, AListWithAGapIsNotAddedTo) {
    std::string bytes = kIni;
    bytes.replace(bytes.find("GameFile1"), 9, "GameFile7");
    const std::string before = bytes;
    mwini::IniLines added;
    const qvr::Result r = mwini::AddToLists(bytes, {"New.esp"}, {}, added);
    EXPECT_FALSE(r);
    EXPECT_NE(r.Message.find("GameFile1"), std::string::npos) << r.Message;
    EXPECT_EQ(bytes, before);
    EXPECT_EQ(mwini::ReadList(bytes, mwini::List::GameFiles),
              std::vector<std::string>{"Morrowind.esm"});
    // Listed already, as when an install is made again: nothing grows, nothing is refused.
    EXPECT_TRUE(mwini::AddToLists(bytes, {"tribunal.esm"}, {}, added)) << r.Message;
    EXPECT_EQ(bytes, before);
}

// The game loads at most 255 plug-ins: a list is filled up to that, never past it.
TEST(MorrowindIni, AFullListIsNotAddedTo) {
    const struct {
        int listed;
        std::vector<std::string> adding;
        bool added;
    } rows[] = {
        {254, {"New.esp"}, true},
        {254, {"New.esp", "Other.esp"}, false},
        {255, {"New.esp"}, false},
        {255, {"P7.esp"}, true}, // listed already: nothing grows
    };
    for (const auto& row : rows) {
        std::string bytes = "[Game Files]\r\n";
        for (int i = 0; i < row.listed; ++i)
            bytes += "GameFile" + std::to_string(i) + "=P" + std::to_string(i) + ".esp\r\n";
        const std::string before = bytes;
        mwini::IniLines added;
        const qvr::Result r = mwini::AddToLists(bytes, row.adding, {}, added);
        EXPECT_EQ(static_cast<bool>(r), row.added) << row.listed << " " << r.Message;
        if (!row.added) {
            EXPECT_EQ(bytes, before);
            EXPECT_NE(r.Message.find("at most"), std::string::npos) << r.Message;
        }
    }
}

TEST(MorrowindIni, MissingSectionsAreAddedAndGoAgain) {
    for (const std::string& sample :
         {std::string(), std::string("[General]\r\nx=1"), std::string("[General]\nx=1\n")}) {
        SCOPED_TRACE(sample);
        std::string bytes = sample;
        mwini::IniLines added;
        ASSERT_TRUE(mwini::AddToLists(bytes, {"A.esp", "B.esp"}, {"A.bsa"}, added));
        EXPECT_TRUE(added.NewGameFilesSection && added.NewArchivesSection);
        EXPECT_EQ(mwini::ReadList(bytes, mwini::List::GameFiles),
                  (std::vector<std::string>{"A.esp", "B.esp"}));
        EXPECT_EQ(mwini::ReadList(bytes, mwini::List::Archives), std::vector<std::string>{"A.bsa"});
        EXPECT_EQ(mwini::RemoveFromLists(bytes, added), 3u);
        EXPECT_EQ(bytes, sample);
    }
}

// An editor's UTF-8 mark before the list's header: the same list, not a second one.
TEST(MorrowindIni, AMarkBeforeTheFirstHeaderKeepsItsSection) {
    const std::string sample = "\xEF\xBB\xBF[Game Files]\r\nGameFile0=Morrowind.esm\r\n";
    std::string bytes = sample;
    mwini::IniLines added;
    ASSERT_TRUE(mwini::AddToLists(bytes, {"A.esp"}, {}, added));
    EXPECT_EQ(bytes, sample + "GameFile1=A.esp\r\n");
    EXPECT_EQ(mwini::RemoveFromLists(bytes, added), 1u);
    EXPECT_EQ(bytes, sample);
}
