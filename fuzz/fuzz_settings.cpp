// The installer's settings file (QtCore only): reading a value, writing one and reading it back.
#include "FuzzInput.h"

#include "IniFile.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::WriteInput("qvrinst.ini", data, size);
    using installer::IniValue;
    const installer::IniFile ini(QString::fromStdString(path));
    // Failing to read or write the file is reported to the user; it is not a fault here.
    const auto report = [](const qvr::Result& r) {
        if (!r)
            std::fprintf(stderr, "%s\n", r.Message.c_str());
        return r.Ok();
    };
    if (!report(ini.ReadIniValue(QStringLiteral("Settings"), QStringLiteral("DataFolder")).Outcome))
        return 0;
    ini.ReadIniValue(QStringLiteral("Paths"), QStringLiteral("Last"));
    const QString value = QStringLiteral("C:\\Games\\Morrowind\\Data Files");
    if (!report(ini.WriteIniValue(QStringLiteral("Settings"), QStringLiteral("DataFolder"), value)))
        return 0;
    const IniValue back =
        ini.ReadIniValue(QStringLiteral("Settings"), QStringLiteral("DataFolder"));
    if (back.Outcome && back.Value != value) {
        std::fprintf(stderr, "a written value does not read back\n");
        std::abort();
    }
    return 0;
}
