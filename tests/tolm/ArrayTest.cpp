#include <Tolm/Array.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include "TestSupport.h"

using TolmTest::ReportRecorder;

namespace {

// Counts the blocks an array takes and gives back, on top of doAlloc/doFree.
struct CountingMemoryManager {
    static inline int allocations = 0;
    static inline int frees = 0;
    static void* Alloc(std::size_t bytes) {
        ++allocations;
        return Tolm::doAlloc(bytes);
    }
    static void Free(void* block) noexcept {
        ++frees;
        Tolm::doFree(block);
    }
};

using Bytes = Tolm::CFastArray<unsigned char, 32, CountingMemoryManager>;

class FastArray : public ::testing::Test {
protected:
    void SetUp() override {
        CountingMemoryManager::allocations = 0;
        CountingMemoryManager::frees = 0;
    }
    static Bytes filled(int count) {
        Bytes bytes;
        for (int i = 0; i < count; ++i) bytes.Add(static_cast<unsigned char>(i));
        return bytes;
    }
    static bool holdsSequence(const Bytes& bytes, int count) {
        if (bytes.GetSize() != count) return false;
        for (int i = 0; i < count; ++i)
            if (bytes[i] != static_cast<unsigned char>(i)) return false;
        return true;
    }
    static int liveBlocks() { return CountingMemoryManager::allocations - CountingMemoryManager::frees; }
};

TEST_F(FastArray, StaysInlineUpToItsRoomAndGoesToTheHeapBeyond) {
    struct Case {
        int count;
        bool inlineExpected;
        int allocationsExpected;
    };
    const Case cases[] = {{0, true, 0}, {1, true, 0}, {32, true, 0}, {33, false, 1}, {200, false, 3}};
    for (const Case& c : cases) {
        SetUp();
        {
            Bytes bytes = filled(c.count);
            EXPECT_TRUE(holdsSequence(bytes, c.count)) << c.count;
            EXPECT_EQ(c.inlineExpected, bytes.IsInline()) << c.count;
            EXPECT_EQ(c.allocationsExpected, CountingMemoryManager::allocations) << c.count;
            EXPECT_GE(bytes.GetCapacity(), c.count);
        }
        EXPECT_EQ(0, liveBlocks()) << c.count;
    }
}

TEST_F(FastArray, EmptyingKeepsCapacityAndFreeMemoryGivesItBack) {
    Bytes bytes = filled(40);
    const int capacity = bytes.GetCapacity();
    bytes.RemoveAll();
    EXPECT_EQ(0, bytes.GetSize());
    EXPECT_EQ(capacity, bytes.GetCapacity());
    EXPECT_FALSE(bytes.IsInline());
    bytes.SetSize(0);
    EXPECT_EQ(capacity, bytes.GetCapacity());
    EXPECT_EQ(1, liveBlocks());
    bytes.FreeMemory();
    EXPECT_TRUE(bytes.IsInline());
    EXPECT_EQ(32, bytes.GetCapacity());
    EXPECT_EQ(0, liveBlocks());
}

TEST_F(FastArray, SetSizeZeroesNewElements) {
    Bytes bytes = filled(3);
    bytes.SetSize(1);
    bytes.SetSize(50);
    ASSERT_EQ(50, bytes.GetSize());
    EXPECT_EQ(0, bytes[0]);
    for (int i = 1; i < 50; ++i) EXPECT_EQ(0, bytes[i]) << i;
}

TEST_F(FastArray, CopiesAndMovesOnBothSidesOfTheBoundary) {
    for (int count : {0, 32, 33, 100}) {
        SetUp();
        {
            const Bytes original = filled(count);
            Bytes copy(original);
            EXPECT_TRUE(holdsSequence(copy, count));
            EXPECT_TRUE(holdsSequence(original, count));
            if (count > 0) {
                EXPECT_NE(copy.GetData(), original.GetData());
            }

            Bytes assigned = filled(5);
            assigned = original;
            EXPECT_TRUE(holdsSequence(assigned, count));
            assigned = assigned;  // self-assignment keeps the elements
            EXPECT_TRUE(holdsSequence(assigned, count));

            Bytes moved(std::move(copy));
            EXPECT_TRUE(holdsSequence(moved, count));
            EXPECT_EQ(0, copy.GetSize());
            EXPECT_TRUE(copy.IsInline());
            copy.Add(7);  // a moved-from array is usable
            EXPECT_EQ(1, copy.GetSize());

            Bytes moveAssigned = filled(60);
            moveAssigned = std::move(moved);
            EXPECT_TRUE(holdsSequence(moveAssigned, count));
            EXPECT_EQ(count > 32 ? false : true, moveAssigned.IsInline());

            Bytes other = filled(3);
            other.Swap(moveAssigned);
            EXPECT_TRUE(holdsSequence(other, count));
            EXPECT_TRUE(holdsSequence(moveAssigned, 3));
        }
        EXPECT_EQ(0, liveBlocks()) << count;
    }
}

TEST_F(FastArray, AddingOwnElementWhileGrowingKeepsItsValue) {
    Bytes bytes = filled(32);
    bytes[31] = 99;
    bytes.Add(bytes[31]);  // the element lives in the room that growth leaves
    ASSERT_EQ(33, bytes.GetSize());
    EXPECT_EQ(99, bytes[32]);

    Tolm::CArray<int> numbers;
    for (int i = 0; i < 16; ++i) numbers.Add(i);
    ASSERT_EQ(16, numbers.GetCapacity());
    numbers.Append(numbers.GetData(), numbers.GetSize());  // doubling onto itself
    ASSERT_EQ(32, numbers.GetSize());
    for (int i = 0; i < 32; ++i) EXPECT_EQ(i % 16, numbers[i]);
}

TEST_F(FastArray, MisuseIsReportedAndLeavesTheArrayAlone) {
    ReportRecorder recorder;
    Bytes bytes = filled(3);
    bytes.SetSize(-1);
    EXPECT_EQ(3, bytes.GetSize());
    bytes.RemoveAll();
    bytes.RemoveLast();
    EXPECT_EQ(0, bytes.GetSize());
    ASSERT_EQ(2, recorder.count());
    EXPECT_TRUE(TolmTest::fromFramework(recorder.last()));

    // Bad indexes reach a zeroed stand-in, never the memory around the array.
    Bytes three = filled(3);
    three[3] = 0xEE;
    three[-1] = 0xEE;
    EXPECT_EQ(0, three[3]);
    EXPECT_EQ(0, std::as_const(three)[100]);
    EXPECT_TRUE(holdsSequence(three, 3));
    Bytes empty;
    empty.GetLast() = 1;
    EXPECT_EQ(0, empty.GetLast());
    EXPECT_EQ(8, recorder.count());
}

TEST(FastArrayDefault, OutOfRangeIndexThrowsAnInternalErrorOutsideAStaticPart) {
    Tolm::CFastArray<int, 4> numbers;
    numbers.Add(1);
    try {
        (void)numbers[1];
        FAIL() << "no error";
    } catch (Tolm::CException* error) {
        EXPECT_EQ(Tolm::CException::Kind::internal, error->GetKind());
        EXPECT_NE(std::string(error->GetMessage()).find("platform/Tolm/src/Array.cpp"), std::string::npos)
            << error->GetMessage();
        error->Delete();
    }
}

TEST(FastArrayDefault, LargeInlineRoomNeverTouchesTheHeap) {
    using Buffer = Tolm::CFastArray<unsigned char, 4096, CountingMemoryManager>;
    CountingMemoryManager::allocations = 0;
    Buffer buffer;
    buffer.SetSize(4096);
    EXPECT_TRUE(buffer.IsInline());
    EXPECT_EQ(0, CountingMemoryManager::allocations);
}

}  // namespace
