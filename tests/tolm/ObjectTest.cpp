#include <Tolm/Object.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "TestSupport.h"

using Tolm::CPtr;
using TolmTest::ReportRecorder;

namespace {

int liveObjects = 0;

struct IShape : virtual Tolm::IObject {
    virtual int Corners() const = 0;
};
struct IColour : virtual Tolm::IObject {
    virtual int Hue() const = 0;
};

class Square : public IShape {
public:
    Square() { ++liveObjects; }
    int Corners() const override { return 4; }

protected:
    ~Square() override { --liveObjects; }
};

Tolm::IObject* createSquare() { return new Square; }
const Tolm::CClassRegistration squareRegistration(u"Test.Square", &createSquare);

TEST(Object, CountStartsAtZeroAndTheLastReferenceDestroys) {
    auto* square = new Square;
    EXPECT_EQ(0, square->GetRefCount());
    {
        CPtr<Square> first(square);
        CPtr<IShape> converted(first);
        CPtr<Square> moved(std::move(first));
        EXPECT_TRUE(first.IsEmpty());
        moved = moved;  // self-assignment keeps the reference
        EXPECT_EQ(2, square->GetRefCount());
        const CPtr<Square> other(new Square);
        moved = other;  // releases the old object
        EXPECT_EQ(1, square->GetRefCount());
        EXPECT_EQ(2, other->GetRefCount());
        moved.Reset();
        moved.Reset();  // a second reset does nothing
        EXPECT_EQ(1, other->GetRefCount());
    }
    EXPECT_EQ(0, liveObjects);
}

TEST(Object, SharedCountsAreInterlocked) {
    CPtr<Square> square(new Square);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&square] {
            for (int i = 0; i < 100000; ++i) CPtr<Square> copy(square);
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(1, square->GetRefCount());
}

TEST(Object, EmptyPointerUseIsAnInternalError) {
    CPtr<Square> empty;
    EXPECT_EQ(Tolm::CException::Kind::internal, TolmTest::catchFrom([&empty] { (void)*empty; }).kind);
    ReportRecorder recorder;
    EXPECT_EQ(nullptr, empty.operator->());
    EXPECT_EQ(1, recorder.count());
    EXPECT_TRUE(TolmTest::fromFramework(recorder.last()));
}

TEST(Factory, CreatesByNameAndReportsUnknownNamesAndFailedCastsOnce) {
    CPtr<IShape> shape = Tolm::CreateObject<IShape>(u"Test.Square");
    ASSERT_FALSE(shape.IsEmpty());
    EXPECT_EQ(4, shape->Corners());
    EXPECT_EQ(1, shape->GetRefCount());
    shape.Reset();

    ReportRecorder recorder;
    EXPECT_TRUE(Tolm::CreateObject<IShape>(u"Test.Nothing").IsEmpty());
    EXPECT_EQ(1, recorder.count()) << "the cast of nothing adds no report";
    EXPECT_EQ("Test.Nothing", recorder.last().detail);
    EXPECT_TRUE(TolmTest::fromFramework(recorder.last()));
    EXPECT_TRUE(Tolm::CreateObject<IColour>(u"Test.Square").IsEmpty());
    EXPECT_EQ(2, recorder.count());
    EXPECT_EQ(0, liveObjects) << "the object that failed the cast was not released";
    EXPECT_TRUE(Tolm::ObjectCast<IColour>(static_cast<IShape*>(nullptr)).IsEmpty());
    EXPECT_EQ(2, recorder.count());
}

TEST(Factory, RegistrationsComeAndGoAndInvalidOnesAreReported) {
    {
        const Tolm::CClassRegistration transient(u"Test.Transient", &createSquare);
        EXPECT_TRUE(Tolm::IsClassRegistered(u"Test.Transient"));
    }
    EXPECT_FALSE(Tolm::IsClassRegistered(u"Test.Transient"));
    Tolm::UnregisterClass(u"Test.NeverThere");  // harmless

    ReportRecorder recorder;
    Tolm::RegisterClass(u"", &createSquare);
    Tolm::RegisterClass(u"Test.NoCreator", nullptr);
    EXPECT_EQ(2, recorder.count());
    EXPECT_FALSE(Tolm::IsClassRegistered(u"Test.NoCreator"));
}

}  // namespace
