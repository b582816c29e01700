// A file that failed is named once, with the platform's separators, and the reason says what
// went wrong: a damaged package is not "could not write".
#include "FailureText.h"

#include <QDir>
#include <gtest/gtest.h>

using installer::FailureLine;
using installer::ShownPath;

TEST(FailureLine, NamesTheFileOnceAndSaysWhatWentWrong) {
    const QString sep = QDir::separator();
    struct Case {
        const char* entry;
        const char* message;
        const char* target;
        QString expected; // after the path and ": "
    } cases[] = {
        {"Icons\\Big\\file0175.dat",
         "Icons\\Big\\file0175.dat: could not write /d/Icons/Big/file0175.dat: The stored data at "
         "position 999976 of /p/x.qvr is damaged: invalid block type (file0175.dat)",
         "/d/Icons/Big/file0175.dat",
         "could not be read: the package is damaged (its data at position 999976 is damaged: "
         "invalid block type)"},
        {"Icons\\b.dds",
         "Icons\\b.dds: could not write /d/Icons/b.dds: The stored data at position 7 of /p/x.qvr "
         "ends before its data is complete (b.dds)",
         "/d/Icons/b.dds",
         "could not be read: the package is damaged (its data at position 7 ends before its data "
         "is complete)"},
        {"Meshes\\a.nif", "Meshes\\a.nif: could not write /d/Meshes/a.nif: Permission denied",
         "/d/Meshes/a.nif", "could not be written: Permission denied"},
        {"Meshes\\a.nif",
         "Meshes\\a.nif: cannot write /d/Meshes/a.nif: a folder of that name is in the way",
         "/d/Meshes/a.nif", "cannot be written: a folder of that name is in the way"},
        {"Meshes\\a.nif", "Meshes\\a.nif: could not delete /d/Meshes/a.nif: Device busy",
         "/d/Meshes/a.nif", "could not be deleted: Device busy"},
        {"..\\evil.txt",
         "..\\evil.txt: refused: it would leave the data folder; nothing was written", "",
         "refused: it would leave the data folder; nothing was written"},
        {"Meshes\\a.nif", "cannot be deleted", "", "cannot be deleted"}, // a removal's reason
        {"a.esp", "", "", "failed"},
    };
    for (const Case& c : cases) {
        const QString line = FailureLine(c.entry, c.message, c.target);
        EXPECT_EQ(line, ShownPath(c.entry) + ": " + c.expected) << c.message;
        const QString name = QString(c.entry).section('\\', -1);
        EXPECT_EQ(line.count(name), 1) << line.toStdString();
        // One kind of separator: the platform's.
        EXPECT_FALSE(line.contains(sep == "/" ? "\\" : "/")) << line.toStdString();
    }
}
