// Turning a file into a block and back: format, determinism, and checked decompression.

#include "TestSupport.h"
#include "qvr/format/detail/WholeMember.h"

#include "qvr/format/detail/modCompression.h"

#include <zlib.h>

using namespace qvr;
using namespace qvrtest;

namespace {

class Compression : public ArchiveTest {};

std::string OneShot(const std::string& input) {
    uLongf bound = compressBound(static_cast<uLong>(input.size()));
    std::string out(bound, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &bound,
                        reinterpret_cast<const Bytef*>(input.data()),
                        static_cast<uLong>(input.size()), 9),
              Z_OK);
    out.resize(bound);
    return out;
}

bool ZlibReads(const std::string& stream, const std::string& expected) {
    std::string out(expected.size(), '\0');
    uLongf length = static_cast<uLongf>(out.size());
    return uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
                      reinterpret_cast<const Bytef*>(stream.data()),
                      static_cast<uLong>(stream.size())) == Z_OK &&
           length == expected.size() && out == expected;
}

TEST_F(Compression, BlockIsLengthPrefixAndLevel9Stream) {
    const std::string src = Source("a.esp", MixedBytes(100, 1));
    ASSERT_EQ(CompressFile(src, Path("a.blk"), 9), Z_OK);
    const std::string block = ReadAll(Path("a.blk"));
    EXPECT_EQ(block.substr(0, 4), std::string("\x64\0\0\0", 4));
    EXPECT_EQ(block.substr(4, 2), "\x78\xDA");

    ASSERT_EQ(DecompressFile(Path("a.blk"), Path("a.out"), 100), Z_OK);
    EXPECT_EQ(ReadAll(Path("a.out")), MixedBytes(100, 1));
    // With no expected size the prefix decides.
    ASSERT_EQ(DecompressFile(Path("a.blk"), Path("b.out"), 0), Z_OK);
    EXPECT_EQ(ReadAll(Path("b.out")), MixedBytes(100, 1));
    // In place: the block becomes the member.
    ASSERT_EQ(DecompressFile(Path("a.blk"), Path("a.blk"), 100), Z_OK);
    EXPECT_EQ(ReadAll(Path("a.blk")), MixedBytes(100, 1));
    // Compressing in place and twice gives the same bytes.
    ASSERT_EQ(CompressFile(Path("a.blk"), Path("a.blk"), 9), Z_OK);
    EXPECT_EQ(ReadAll(Path("a.blk")), block);
}

// Streaming in pieces must give the stream a one-shot compress2 gives, or archives would
// differ from those the format's other writers make.
TEST_F(Compression, StreamingEqualsOneShotCompress2) {
    const std::vector<std::string> inputs = {
        "x",
        MixedBytes(100, 2),
        RandomBytes(65536, 3),
        MixedBytes(65536, 4),
        MixedBytes(2 * 1024 * 1024 + 17, 5),
        RandomBytes(512 * 1024 + 3, 6) + std::string(1024 * 1024, 'z') + MixedBytes(999, 7),
    };
    for (size_t k = 0; k < inputs.size(); ++k) {
        const std::string src = Source("in" + std::to_string(k), inputs[k]);
        ASSERT_EQ(CompressFile(src, Path("out"), 9), Z_OK);
        const std::string block = ReadAll(Path("out"));
        EXPECT_EQ(GetLe32(block, 0), static_cast<int32_t>(inputs[k].size()));
        // With libdeflate, members held whole get another (equally valid, level 9) stream:
        // what holds then is that zlib's one-shot uncompress reads it back.
        if (qvr::detail::UsesLibdeflate())
            EXPECT_TRUE(ZlibReads(block.substr(4), inputs[k])) << "input " << k;
        else
            EXPECT_TRUE(block.substr(4) == OneShot(inputs[k])) << "input " << k;

        std::vector<unsigned char> bytes(inputs[k].begin(), inputs[k].end());
        ASSERT_EQ(CompressBytes(bytes, 9), Z_OK);
        if (qvr::detail::UsesLibdeflate())
            EXPECT_TRUE(ZlibReads(std::string(bytes.begin(), bytes.end()), inputs[k]));
        else
            EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == OneShot(inputs[k]));
        ASSERT_EQ(DecompressBytes(bytes, static_cast<int32_t>(inputs[k].size())), Z_OK);
        EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == inputs[k]);
    }
}

TEST_F(Compression, EmptyOrMissingSourceWritesNothing) {
    WriteAll(Path("dest"), "old");
    EXPECT_NE(CompressFile(Source("empty", ""), Path("dest"), 9), Z_OK);
    EXPECT_NE(CompressFile(Path("missing"), Path("dest"), 9), Z_OK);
    EXPECT_NE(CompressFile(Source("x", "x"), Path("dest"), 12), Z_OK);
    EXPECT_EQ(ReadAll(Path("dest")), "old");
}

// Every kind of bad block is refused, and the destination keeps what it held.
TEST_F(Compression, DamagedBlocksAreRefusedAndLeaveTheDestination) {
    const std::string member = MixedBytes(5000, 8);
    ASSERT_EQ(CompressFile(Source("m", member), Path("good.blk"), 9), Z_OK);
    const std::string good = ReadAll(Path("good.blk"));

    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x55;
    std::string badCheck = good;
    badCheck[good.size() - 1] ^= 0x01; // last byte of the Adler-32
    const std::string cut = good.substr(0, good.size() - 10);
    const std::string noStream = good.substr(0, 4);

    struct Case {
        const char* what;
        std::string block;
        int32_t expected;
    } cases[] = {
        {"flipped byte", flipped, 5000},  {"wrong Adler-32", badCheck, 5000},
        {"cut short", cut, 5000},         {"no stream", noStream, 5000},
        {"fewer bytes", good, 5001},      {"more bytes", good, 4999},
        {"lying size", good, 2000000000}, {"prefix lies", Le32(-5) + good.substr(4), 0},
        {"not a block", "ab", 0},
    };
    for (const Case& c : cases) {
        WriteAll(Path("bad.blk"), c.block);
        WriteAll(Path("dest"), "previous content");
        EXPECT_NE(DecompressFile(Path("bad.blk"), Path("dest"), c.expected), Z_OK) << c.what;
        EXPECT_EQ(ReadAll(Path("dest")), "previous content") << c.what;
        EXPECT_NE(DecompressFile(Path("bad.blk"), Path("fresh"), c.expected), Z_OK) << c.what;
        EXPECT_FALSE(fs::exists(Path("fresh"))) << c.what;

        if (c.expected == 0)
            continue; // the stream itself is sound; only the prefix lies
        std::vector<unsigned char> bytes(c.block.begin() + std::min<size_t>(4, c.block.size()),
                                         c.block.end());
        EXPECT_NE(DecompressBytes(bytes, c.expected > 0 ? c.expected : 5000), Z_OK) << c.what;
    }
    // Nothing but the two files of each case is left in the folder.
    size_t files = 0;
    for (auto& e : fs::directory_iterator(dir))
        files += e.is_regular_file();
    EXPECT_EQ(files, 3u); // good.blk, bad.blk, dest
}

} // namespace
