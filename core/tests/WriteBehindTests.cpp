// Members written behind the decoder: in the order put, whatever the bound, a failure in its
// place, and nothing left of what was written but never taken.

#include "qvr/platform/detail/TestHooks.h"
#include "qvr/sources/detail/Members.h"
#include "qvr/sources/detail/WriteBehind.h"
#include "qvrtest/Bytes.h"
#include "qvrtest/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <zlib.h>

namespace fs = std::filesystem;
using qvr::sources::detail::WriteBehind;

namespace {

TEST(WriteBehind, WritesInOrderAFailureInItsPlaceAndTakesBackWhatWasNeverTaken) {
    qvrtest::TempFolder temp("qvr-behind");
    const fs::path out = temp.Path();
    qvrtest::WriteAll(out / "taken.esp", "the player's");
    // Sizes around the bound: some wait for room, one larger than it goes alone.
    const std::vector<size_t> sizes = {5, 40, 0, 900, 17, 3000, 64, 1};
    const size_t failing = 4;
    std::vector<std::string> bytes;
    {
        WriteBehind behind(1000);
        std::vector<qvr::sources::Done> got;
        for (size_t k = 0; k < sizes.size(); ++k) {
            bytes.push_back(qvrtest::MixedBytes(sizes[k], static_cast<unsigned>(k)));
            const std::string name = k == failing ? "taken.esp" : "m" + std::to_string(k);
            behind.Put(k, {0, (out / name).string(), false, {}}, name, bytes.back());
            for (auto& d : behind.Take())
                got.push_back(std::move(d));
        }
        for (auto& d : behind.Drain())
            got.push_back(std::move(d));
        ASSERT_EQ(got.size(), sizes.size());
        for (size_t k = 0; k < got.size(); ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(got[k].Job, k);
            if (k == failing) {
                EXPECT_FALSE(got[k].Outcome);
                EXPECT_TRUE(got[k].Outcome.Message.starts_with("taken.esp: "))
                    << got[k].Outcome.Message;
                continue;
            }
            ASSERT_TRUE(got[k].Outcome) << got[k].Outcome.Message;
            EXPECT_EQ(qvrtest::ReadAll(out / ("m" + std::to_string(k))), bytes[k]);
            EXPECT_EQ(got[k].Size, static_cast<int64_t>(sizes[k]));
            EXPECT_EQ(got[k].Crc, crc32(0, reinterpret_cast<const Bytef*>(bytes[k].data()),
                                        static_cast<uInt>(bytes[k].size())));
        }
        // Written and never taken: gone with the writer.
        behind.Put(99, {0, (out / "late").string(), false, {}}, "late", "never reported");
        while (!fs::exists(out / "late"))
            std::this_thread::yield();
    }
    EXPECT_FALSE(fs::exists(out / "late"));
    EXPECT_EQ(qvrtest::ReadAll(out / "taken.esp"), "the player's");
}

} // namespace

namespace {

// A large member's pieces written behind the decoder: every byte in order with its checksum,
// and a write that fails (a full disk) stops the decoder's next piece with its reason.
TEST(PiecesBehind, WritesEveryPieceInOrderAndStopsAtAFailedWrite) {
    qvrtest::TempFolder temp("qvr-pieces");
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "disk full" : "room enough");
        const fs::path path = temp.Path() / (full ? "full.bsa" : "whole.bsa");
        qvr::sources::detail::NewFile out(path.string());
        std::string all, failed;
        {
            qvr::sources::detail::PiecesBehind behind(out, 1000);
            if (full)
                qvr::testhooks::WriteBudget = 2500;
            try {
                for (unsigned k = 0; k < 40; ++k) {
                    const std::string piece = qvrtest::MixedBytes(1000 - k * 7, k);
                    std::copy(piece.begin(), piece.end(), behind.Next());
                    all += piece;
                    behind.Put(piece.size());
                }
                behind.Finish();
            } catch (const std::exception& x) {
                failed = x.what();
            }
            qvr::testhooks::WriteBudget = -1;
        }
        if (full) {
            EXPECT_FALSE(failed.empty());
            continue;
        }
        ASSERT_EQ(failed, "");
        EXPECT_EQ(out.Size(), static_cast<int64_t>(all.size()));
        EXPECT_EQ(out.Crc(), crc32(0, reinterpret_cast<const Bytef*>(all.data()),
                                   static_cast<uInt>(all.size())));
        out.Keep();
        EXPECT_EQ(qvrtest::ReadAll(path), all);
    }
}

} // namespace
