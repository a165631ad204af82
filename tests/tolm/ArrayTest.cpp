#include <Tolm/Array.h>
#include <Tolm/Memory.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "GearsetTesting.h"

namespace {

// Leaks of the heap blocks are left to the leak checker of the sanitizer build.
using Bytes = Tolm::CFastArray<unsigned char, 32>;

Bytes filled(int count) {
    Bytes bytes;
    for (int i = 0; i < count; ++i) bytes.Add(static_cast<unsigned char>(i));
    return bytes;
}
// True when the array holds 0, 1, ... count - 1.
bool holdsSequence(const Bytes& bytes, int count) {
    if (bytes.GetSize() != count) return false;
    for (int i = 0; i < count; ++i)
        if (bytes[i] != static_cast<unsigned char>(i)) return false;
    return true;
}

// Emptying keeps the capacity, and growing again must not show the old elements.
TEST(FastArray, StaysInlineUpToItsRoomDoublesOnTheHeapBeyondAndRegrowsZeroed) {
    const struct { int count, capacity; } cases[] = {{0, 32}, {3, 32}, {32, 32}, {33, 64}, {200, 256}};
    for (const auto& c : cases) {
        Bytes bytes = filled(c.count);
        EXPECT_TRUE(holdsSequence(bytes, c.count)) << c.count;
        EXPECT_EQ(c.capacity == 32, bytes.IsInline()) << c.count;
        EXPECT_EQ(c.capacity, bytes.GetCapacity()) << c.count;
        bytes.RemoveAll();
        EXPECT_EQ(c.capacity, bytes.GetCapacity()) << c.count;
        bytes.SetSize(c.count + 30);
        for (int i = 0; i < c.count + 30; ++i) ASSERT_EQ(0, bytes[i]) << c.count << ": " << i;
        bytes.FreeMemory();
        EXPECT_TRUE(bytes.IsInline() && bytes.GetCapacity() == 32);
    }
}

TEST(FastArray, CopiesAndMovesOnBothSidesOfTheBoundary) {
    for (const int count : {0, 32, 33, 100}) {
        const Bytes original = filled(count);
        Bytes copy(original);
        EXPECT_TRUE(holdsSequence(copy, count) && holdsSequence(original, count));
        EXPECT_TRUE(count == 0 || copy.GetData() != original.GetData());
        Bytes assigned = filled(5);
        assigned = original;
        const Bytes& itself = assigned;
        assigned = itself;
        EXPECT_TRUE(holdsSequence(assigned, count));

        Bytes moved(std::move(copy));
        EXPECT_TRUE(holdsSequence(moved, count));
        copy.Add(7);  // a moved-from array is empty and usable
        EXPECT_TRUE(copy.IsInline() && copy.GetSize() == 1);
        Bytes moveAssigned = filled(60);
        moveAssigned = std::move(moved);
        EXPECT_TRUE(holdsSequence(moveAssigned, count));
        EXPECT_EQ(count <= 32, moveAssigned.IsInline());
    }
}

TEST(FastArray, AddingOwnElementWhileGrowingKeepsItsValue) {
    Bytes bytes = filled(64);
    bytes[63] = 99;
    bytes.Add(bytes[63]);  // the element lives in the block that growth frees
    ASSERT_EQ(65, bytes.GetSize());
    EXPECT_EQ(99, bytes[64]);

    Tolm::CArray<int> numbers;
    for (int i = 0; i < 16; ++i) numbers.Add(i);
    ASSERT_EQ(16, numbers.GetCapacity());
    numbers.Append(numbers.GetData(), numbers.GetSize());  // doubling onto itself
    ASSERT_EQ(32, numbers.GetSize());
    for (int i = 0; i < 32; ++i) EXPECT_EQ(i % 16, numbers[i]);
}

TEST(FastArray, MisuseIsReportedAndNeverTouchesMemoryAroundTheArray) {
    GearsetTest::ReportRecorder recorder;
    Bytes bytes = filled(3);
    bytes.SetSize(-1);
    bytes.SetSizeForOverwrite(-2);
    bytes[3] = 0xEE;  // bad indexes reach a zeroed stand-in
    bytes[-1] = 0xEE;
    EXPECT_EQ(0, std::as_const(bytes)[3]);
    EXPECT_TRUE(holdsSequence(bytes, 3));
    filled(0).RemoveLast();
    EXPECT_TRUE(recorder.Count() == 6 && recorder.LastFromFramework());
}

// The bulk copy moves short blocks one way and long ones another (a string
// move on some processors): every length around the switch, at every
// alignment of either end, copies exactly its bytes and touches nothing else.
TEST(CopyBytes, CopiesEveryLengthAtEveryAlignmentAndNothingBeside) {
    constexpr std::size_t kRoom = 70000;
    std::vector<unsigned char> source(kRoom);
    for (std::size_t i = 0; i < kRoom; ++i) source[i] = static_cast<unsigned char>(i * 7 + (i >> 8));
    for (const std::size_t length : {0u, 1u, 15u, 255u, 511u, 512u, 513u, 4084u, 4096u, 65539u}) {
        for (const std::size_t from : {0u, 1u, 7u, 12u}) {
            for (const std::size_t to : {0u, 3u, 16u}) {
                std::vector<unsigned char> target(kRoom, 0xEE);
                Tolm::CopyBytes(target.data() + to, source.data() + from, length);
                SCOPED_TRACE(testing::Message() << length << " bytes from +" << from << " to +" << to);
                for (std::size_t i = 0; i < to; ++i) ASSERT_EQ(target[i], 0xEE);
                ASSERT_TRUE(
                    std::equal(source.begin() + from, source.begin() + from + length, target.begin() + to));
                for (std::size_t i = to + length; i < kRoom; ++i) ASSERT_EQ(target[i], 0xEE);
            }
        }
    }
}

}  // namespace
