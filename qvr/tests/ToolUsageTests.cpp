// qvr The command line itself: options, operands, help and usage errors.

#include "ToolTestSupport.h"

namespace {

using namespace tooltest;

TEST_F(Tool, UsageErrorsExplainThemselves) {
    EXPECT_EQ(Run({}).Code, 2);
    Result r = Run({"frobnicate"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "frobnicate"));
    r = Run({"list", "--bogus", "x.qvr"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "--bogus"));
    EXPECT_EQ(Run({"create", "-j", "0", P("x.qvr"), P(".")}).Code, 2);
    EXPECT_EQ(Run({"-qj0", "list", P("x.qvr")}).Code, 2);
    r = Run({"-qx", "list", P("x.qvr")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "unknown option -x")) << r.Err;
    EXPECT_EQ(Run({"install", P("x.qvr")}).Code, 2);

    // A place that cannot be written is named once, plainly, before any work is done.
    WriteAll(dir / "plugin" / "a.esp", "a");
    WriteAll(dir / "plugin" / "Meshes" / "b.nif", "b");
    r = Run({"create", P("no folder/m.qvr"), P("plugin")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, P("no folder/m.qvr") + ": cannot be written: there is no folder"))
        << r.Err;
    // The information entry is named after the archive, so the name must fit Windows-1252.
    r = Run({"create", P("\xE6\x97\xA5\xE6\x9C\xAC.qvr"), P("plugin")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "\xE6\x97\xA5\xE6\x9C\xAC.qvr.ifo would hold characters")) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
#ifdef __linux__
    r = Run({"create", P("x\xE9.qvr"), P("plugin")}); // a name in a legacy encoding
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "not valid UTF-8")) << r.Err;
#endif
    for (const std::string& nameless : {std::string(), P("out") + "/"}) {
        r = Run({"create", nameless, P("plugin")});
        EXPECT_EQ(r.Code, 2) << nameless;
        EXPECT_TRUE(Contains(r.Err, "must name a file")) << r.Err;
    }
    ASSERT_EQ(Run({"create", P("m.qvr"), P("plugin")}).Code, 0);
    r = Run({"-qv", "verify", P("m.qvr")}); // flags grouped before the command too
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Out, "");
    WriteAll(dir / "a file", "x");
    r = Run({"install", P("m.qvr"), P("a file/Data Files")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, P("a file/Data Files") + ": cannot be created")) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err; // the error alone

    r = Run({"--help"});
    EXPECT_EQ(r.Code, 0);
    for (const char* cmd : {"list", "info", "create", "add", "remove", "set-info", "install",
                            "uninstall", "verify"}) {
        EXPECT_TRUE(Contains(r.Out, cmd)) << cmd;
        Result help = Run({cmd, "--help"});
        EXPECT_EQ(help.Code, 0) << cmd;
        EXPECT_TRUE(Contains(help.Out, std::string("usage: qvr ") + cmd)) << cmd;
    }
}

TEST_F(Tool, MessagesNameWhatTheUserGaveAndOneCauseGivesOneStatus) {
    WriteAll(dir / "plugin" / "Mod.esp", "esp");
    WriteAll(dir / "plugin" / "empty.nif", "");

    // A file where create needs a folder.
    Result r = Run({"create", P("x.qvr"), P("plugin/Mod.esp")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "is a file; create packs a folder")) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "x.qvr"));

    // Packed some, refused some: how many of how many, and which.
    r = Run({"create", P("m.qvr"), P("plugin")});
    EXPECT_EQ(r.Code, 1);
    EXPECT_TRUE(Contains(r.Out, "packed 1 of 2 files")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "refused: " + P("plugin/empty.nif"))) << r.Out;
    // A folder left out holds files nobody counted: no total is claimed.
    WriteAll(dir / "plugin" / "~qvr-old" / "a.nif", "nif");
    r = Run({"create", P("n.qvr"), P("plugin")});
    EXPECT_TRUE(Contains(r.Out, ": packed 1 file (")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, P("plugin/~qvr-old"))) << r.Out;

    // verify on a folder (or a device) says what list and info say, with the same status.
    for (const std::string& odd : {P("plugin"),
#ifdef __linux__
                                   std::string("/dev/null")
#endif
         }) {
        const Result list = Run({"list", odd});
        r = Run({"verify", odd});
        EXPECT_EQ(r.Code, list.Code) << odd;
        EXPECT_EQ(r.Err, list.Err) << odd;
        EXPECT_EQ(Run({"info", odd}).Err, list.Err) << odd;
    }

    // set-info does not announce (or make) a change that changes nothing.
    ASSERT_EQ(Run({"set-info", P("m.qvr"), "--version", "2.5"}).Code, 0);
    const std::string before = ReadAll(dir / "m.qvr");
    r = Run({"set-info", P("m.qvr"), "--version", "2.5"});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_FALSE(Contains(r.Out, "Updated")) << r.Out;
    EXPECT_TRUE(Contains(r.Out, "Nothing changed")) << r.Out;
    EXPECT_EQ(ReadAll(dir / "m.qvr"), before);

#ifdef __linux__
    // A folder nobody may create files in: the file asked for is named, never a work file.
    if (fs::is_directory("/sys/kernel") && !fs::exists("/sys/kernel/Mod.esp")) {
        r = Run({"install", "--overwrite", P("m.qvr"), "/sys/kernel"});
        EXPECT_EQ(r.Code, 1);
        // The install record is the first thing written there.
        EXPECT_TRUE(Contains(r.Err, "Cannot make the folder /sys/kernel/.qvr-installed: "))
            << r.Err;
        EXPECT_FALSE(Contains(r.Err, "~qvr-")) << r.Err;
    }
#endif
}

TEST_F(Tool, OptionsBeforeTheCommandAreParsedAsTheCommandsOwnAre) {
    WriteAll(dir / "plugin" / "Mod.esp", "esp");
    ASSERT_EQ(Run({"--jobs=2", "--quiet", "create", P("m.qvr"), P("plugin")}).Code, 0);
    // "--" ends the options before the command as it does after it.
    Result r = Run({"-q", "--", "list", P("m.qvr")});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_TRUE(Contains(r.Out, "Mod.esp")) << r.Out;
    r = Run({"--quiet=yes", "list", P("m.qvr")});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "option --quiet takes no value")) << r.Err;
    r = Run({"--jobs"});
    EXPECT_EQ(r.Code, 2);
    EXPECT_TRUE(Contains(r.Err, "option --jobs needs a value")) << r.Err;
    r = Run({"--version"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_TRUE(Contains(r.Out, "qvr ")) << r.Out;
}

} // namespace
