// The installer's settings file (QtCore only): reading a value, writing one and reading it back.
#include "FuzzInput.h"

#include "IniFile.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteInput("qvrinst.ini", data, size);
    const installer::IniFile ini(QString::fromStdString(path));
    try {
        ini.ReadIniValue(QStringLiteral("Settings"), QStringLiteral("DataFolder"));
        ini.ReadIniValue(QStringLiteral("Paths"), QStringLiteral("Last"));
        const QString value = QStringLiteral("C:\\Games\\Morrowind\\Data Files");
        ini.WriteIniValue(QStringLiteral("Settings"), QStringLiteral("DataFolder"), value);
        if (ini.ReadIniValue(QStringLiteral("Settings"), QStringLiteral("DataFolder")) != value) {
            std::fprintf(stderr, "a written value does not read back\n");
            std::abort();
        }
    } catch (const std::exception& e) {
        // Failing to read or write the file is reported to the user; it is not a fault here.
        std::fprintf(stderr, "%s\n", e.what());
    }
    return 0;
}
