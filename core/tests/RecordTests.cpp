// The directory record: its bytes, its round trip, and texts it cannot hold.

#include "TestSupport.h"

#include "qvr/format/detail/RecordIO.h"
#include "qvr/platform/detail/ArchiveError.h"
#include "qvr/platform/detail/RandomAccessFile.h"

using namespace qvr;
using namespace qvrtest;

namespace {

class Record : public ArchiveTest {};

sgFileInfo Sample() {
    sgFileInfo e;
    e.FileOffset(11);
    e.FileCompressedSize(77);
    e.FileName("a.esp");
    e.FilePath("");
    e.FileDate("3/7/2003 14:5:9");
    e.FileSize(1234);
    e.FileArchiveDate("07/03/2003 15:05:09");
    return e;
}

TEST_F(Record, BytesFollowTheLayoutAndReadBack) {
    RandomAccessFile file(Path("r"), RandomAccessFile::Mode::CreateReadWrite);
    file.WriteAt(1, "0123456789", 10);
    int32_t pos = 5;
    detail::WriteHeaderData(Sample(), file, pos);
    const std::string expected = Le32(11) + Le32(77) + std::string("a.esp\0\0", 7) +
                                 std::string("3/7/2003 14:5:9\0", 16) + std::string("1234\0", 5) +
                                 std::string("07/03/2003 15:05:09\0", 20);
    EXPECT_EQ(pos, 5 + static_cast<int32_t>(expected.size()));
    file.Close();
    EXPECT_EQ(ReadAll(Path("r")).substr(4), expected);

    RandomAccessFile again(Path("r"), RandomAccessFile::Mode::Read);
    int32_t at = 5;
    sgFileInfo e;
    detail::ParseHeaderData(e, again, at);
    EXPECT_EQ(e, Sample());
    EXPECT_EQ(at, pos);
}

TEST_F(Record, NamesAreStoredAsWindows1252) {
    sgFileInfo e = Sample();
    e.FileName("Caf\xC3\xA9 \xE2\x82\xAC.esp");
    e.FilePath("Sound\\M\xC3\xBCsik");
    RandomAccessFile file(Path("r"), RandomAccessFile::Mode::CreateReadWrite);
    int32_t pos = 1;
    detail::WriteHeaderData(e, file, pos);
    const std::string bytes = ReadAll(Path("r"));
    EXPECT_NE(bytes.find(std::string("Caf\xE9 \x80.esp\0Sound\\M\xFCsik\0", 22)),
              std::string::npos);
    int32_t at = 1;
    sgFileInfo back;
    detail::ParseHeaderData(back, file, at);
    EXPECT_EQ(back, e);
}

TEST_F(Record, TextsItCannotHoldAreRefusedBeforeWriting) {
    RandomAccessFile file(Path("r"), RandomAccessFile::Mode::CreateReadWrite);
    file.WriteAt(1, "keep", 4);
    auto refused = [&](sgFileInfo e) {
        int32_t pos = 1;
        EXPECT_THROW(detail::WriteHeaderData(e, file, pos), ArchiveError);
        EXPECT_EQ(pos, 1);
    };
    sgFileInfo e = Sample();
    e.FileName("\xE6\x97\xA5.esp");
    refused(e);
    e = Sample();
    e.FilePath(std::string(255, 'p'));
    refused(e);
    e = Sample();
    e.FileArchiveDate(std::string("a\0b", 3));
    refused(e);
    e = Sample();
    e.FileName(std::string(254, 'n'));
    int32_t pos = 1;
    detail::WriteHeaderData(e, file, pos); // 254 bytes still fit the reader's window
    int32_t at = 1;
    sgFileInfo back;
    detail::ParseHeaderData(back, file, at);
    EXPECT_EQ(back.FileName(), std::string(254, 'n'));
}

TEST_F(Record, UnreadableRecordsFailTheCall) {
    auto parse = [&](const std::string& bytes) {
        WriteAll(Path("bad"), bytes);
        RandomAccessFile file(Path("bad"), RandomAccessFile::Mode::Read);
        int32_t pos = 1;
        sgFileInfo e;
        detail::ParseHeaderData(e, file, pos);
        return e;
    };
    const std::string head = Le32(11) + Le32(40);
    const std::string nul(1, '\0');
    EXPECT_THROW(parse(head + "a" + nul + nul + "d" + nul + "12x" + nul + nul), ArchiveError);
    EXPECT_THROW(parse(head + "a" + nul + nul + "d" + nul + "" + nul + nul), ArchiveError);
    EXPECT_THROW(parse(head + "a" + nul + nul + "d" + nul + "99999999999" + nul + nul),
                 ArchiveError);
    EXPECT_THROW(parse(head + std::string(300, 'n') + nul + nul + "d" + nul + "1" + nul + nul),
                 ArchiveError);
    EXPECT_EQ(parse(head + "a" + nul + nul + "d" + nul + "-5" + nul + nul).FileSize(), -5);
}

} // namespace
