// The append point every written record passes, and the record edits of
// code that rewrites another metafile's records.
#include "emf/record_stream.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "emf/layouts.h"
#include "emf/reader.h"
#include "emf/writer.h"

namespace emf {
namespace {

TEST(RecordStream, ChecksEveryRecordAndRewindsToAMark) {
    RecordStream s;
    std::vector<std::uint8_t> shortRec{EMR_SAVEDC, 0, 0, 0, 4, 0, 0, 0};
    EXPECT_THROW(s.Append(shortRec), std::invalid_argument);  // the size field says 4, the record has 8
    std::vector<std::uint8_t> odd(10, 0);
    odd[0] = EMR_SAVEDC, odd[4] = 10;
    EXPECT_THROW(s.Append(odd), std::logic_error);
    EXPECT_EQ(s.RecordCount(), 0u);

    s.Append(EMR_MOVETOEX, {1, 2});
    const RecordStream::Mark mark = s.Here();
    RecordEdit big = s.Append(EMR_LINETO, {5'000'000'000LL, -5'000'000'000LL});
    EXPECT_EQ(big.Size(), 16u);
    EXPECT_EQ(big.I32(8), 2147483647);  // saturated, not wrapped
    EXPECT_EQ(big.I32(12), -2147483647 - 1);
    EXPECT_EQ(s.RecordCount(), 2u);
    s.Rewind(mark);
    EXPECT_EQ(s.RecordCount(), 1u);
    EXPECT_EQ(s.ByteCount(), 16u);
    EXPECT_THROW(s.Rewind({64, 1}), std::logic_error);
    // No header first: nothing to complete.
    EXPECT_FALSE(s.CompleteHeader());
}

// A printed page's metafile holds a hundred thousand records and more: the
// stream must grow by steps, not move its whole self for every record.
TEST(RecordStream, GrowsByStepsNotByRecord) {
    RecordStream s;
    const std::uint8_t* at = nullptr;
    int moves = 0;
    for (int i = 0; i < 100'000; ++i) {
        s.Append(EMR_SAVEDC, {});
        if (s.Bytes().data() != at) ++moves, at = s.Bytes().data();
    }
    EXPECT_EQ(s.ByteCount(), 800'000u);
    EXPECT_LT(moves, 64);
}

TEST(RecordStream, EditsStayInsideTheirRecord) {
    RecordStream s;
    RecordEdit e = s.Append(EMR_LINETO, {7, 8});
    EXPECT_TRUE(e.Has(12, 4));
    EXPECT_FALSE(e.Has(14, 4));
    EXPECT_EQ(e.I32(14), 0);
    e.Set32(14, 99);  // would write past the end: ignored
    e.Set16(12, 70000);
    EXPECT_EQ(e.I16(12), 32767);
    EXPECT_FALSE(e.MoveBytes(8, 12, 8));
    EXPECT_TRUE(e.MoveBytes(8, 12, 4));
    EXPECT_EQ(e.I32(8), e.I32(12));
    EXPECT_EQ(s.ByteCount(), 16u);
}

TEST(RecordStream, CopiedMetafileGetsItsCountsAndExtents) {
    Recorder rec;
    rec.MoveToEx(0, 0);
    rec.LineTo(100, 50);
    const std::vector<std::uint8_t> source = rec.Finish();
    const Metafile mf = Read(source);
    ASSERT_EQ(mf.status, ReadStatus::Ok);

    // A copy of the header and the end-of-file record only.
    RecordStream s;
    s.Append(std::span(source.data(), mf.records.front().size));
    const Record& eof = mf.records.back();
    s.Append(std::span(source.data() + eof.offset, eof.size));
    RectL bounds = mf.header.bounds, frame = mf.header.frame;
    bounds.bottom = 20, frame.bottom = 530;
    ASSERT_TRUE(s.CompleteHeader(&bounds, &frame));
    const std::vector<std::uint8_t> copy = s.Take();
    const Metafile back = Read(copy, {.strict = true});
    ASSERT_EQ(back.status, ReadStatus::Ok);
    EXPECT_EQ(back.header.records, 2u);
    EXPECT_EQ(back.header.bytes, copy.size());
    EXPECT_EQ(back.header.bounds, bounds);
    EXPECT_EQ(back.header.frame, frame);
    EXPECT_EQ(back.header.handles, mf.header.handles);
}

}  // namespace
}  // namespace emf
