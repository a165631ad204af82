#include <Tolm/Object.h>

#include <gtest/gtest.h>

#include "GearsetTesting.h"

using GearsetTest::ReportRecorder;
using Tolm::CPtr;

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
        const CPtr<Square>& itself = moved;
        moved = itself;  // self-assignment keeps the reference
        EXPECT_EQ(2, square->GetRefCount());
        const CPtr<Square> other(new Square);
        moved = other;  // releases the old object
        EXPECT_TRUE(square->GetRefCount() == 1 && other->GetRefCount() == 2);
    }
    EXPECT_EQ(0, liveObjects);
}

TEST(Factory, CreatesByNameAndReportsUnknownNamesFailedCastsAndBadRegistrations) {
    EXPECT_EQ(4, Tolm::CreateObject<IShape>(u"Test.Square")->Corners());
    ReportRecorder recorder;
    EXPECT_TRUE(Tolm::CreateObject<IShape>(u"Test.Nothing").IsEmpty());
    EXPECT_EQ(1, recorder.Count()) << "the cast of nothing adds no report";
    EXPECT_EQ("Test.Nothing", recorder.Last().detail);
    EXPECT_TRUE(recorder.LastFromFramework());
    EXPECT_TRUE(Tolm::CreateObject<IColour>(u"Test.Square").IsEmpty());
    EXPECT_EQ(2, recorder.Count());
    EXPECT_EQ(0, liveObjects) << "an object made here was not released";
    EXPECT_TRUE(Tolm::ObjectCast<IColour>(static_cast<IShape*>(nullptr)).IsEmpty());
    Tolm::RegisterClass(u"", &createSquare);
    Tolm::RegisterClass(u"Test.NoCreator", nullptr);
    EXPECT_EQ(4, recorder.Count());
    EXPECT_FALSE(Tolm::IsClassRegistered(u"Test.NoCreator"));
}

}  // namespace
