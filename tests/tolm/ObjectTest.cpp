#include <Tolm/Object.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TestSupport.h"

using Tolm::CPtr;
using TolmTest::ReportRecorder;

namespace {

int liveShared = 0;
int liveLocal = 0;

struct IShape : virtual Tolm::IObject {
    virtual int Corners() const = 0;
};
struct IColour : virtual Tolm::IObject {
    virtual int Hue() const = 0;
};

class Square : public IShape {
public:
    Square() { ++liveShared; }
    int Corners() const override { return 4; }

protected:
    ~Square() override { --liveShared; }
};

class Page : public Tolm::CFastObject {
public:
    Page() { ++liveLocal; }
    int number = 0;

protected:
    ~Page() override { --liveLocal; }
};

Tolm::IObject* createSquare() { return new Square; }

const Tolm::CClassRegistration squareRegistration(u"Test.Square", &createSquare);

TEST(Object, NewObjectStartsAtZeroAndDiesWithItsLastReference) {
    auto* square = new Square;
    EXPECT_EQ(0, square->GetRefCount());
    {
        CPtr<Square> first(square);
        EXPECT_EQ(1, square->GetRefCount());
        CPtr<Square> copy(first);
        EXPECT_EQ(2, square->GetRefCount());
        CPtr<IShape> converted(copy);
        EXPECT_EQ(3, square->GetRefCount());
        CPtr<Square> moved(std::move(copy));
        EXPECT_TRUE(copy.IsEmpty());
        EXPECT_EQ(3, square->GetRefCount());
        moved.Reset();
        moved.Reset();  // a second reset does nothing
        EXPECT_EQ(2, square->GetRefCount());
        first = first;  // self-assignment keeps the reference
        EXPECT_EQ(2, square->GetRefCount());
        EXPECT_EQ(1, liveShared);
    }
    EXPECT_EQ(0, liveShared);
}

TEST(Object, AssignmentReleasesTheOldObject) {
    CPtr<Page> a(new Page);
    CPtr<Page> b(new Page);
    EXPECT_EQ(2, liveLocal);
    a = b;
    EXPECT_EQ(1, liveLocal);
    EXPECT_EQ(2, b->GetRefCount());
    EXPECT_TRUE(a == b);
    a = nullptr;
    b = CPtr<Page>();
    EXPECT_EQ(0, liveLocal);
}

TEST(Object, SharedCountsAreInterlocked) {
    CPtr<Square> square(new Square);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&square] {
            for (int i = 0; i < 10000; ++i) CPtr<Square> copy(square);
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(1, square->GetRefCount());
    square.Reset();
    EXPECT_EQ(0, liveShared);
}

TEST(Object, EmptyPointerUseIsReported) {
    ReportRecorder recorder;
    CPtr<Page> empty;
    EXPECT_EQ(nullptr, empty.operator->());
    EXPECT_EQ(1, recorder.count());
    EXPECT_TRUE(TolmTest::fromFramework(recorder.last()));
    CPtr<Page> full(new Page);
    full->number = 3;
    EXPECT_EQ(1, recorder.count());
}

TEST(Object, EmptyPointerUseThrowsByDefault) {
    CPtr<Page> empty;
    try {
        (void)*empty;
        FAIL() << "no error";
    } catch (Tolm::CException* error) {
        EXPECT_EQ(Tolm::CException::Kind::internal, error->GetKind());
        error->Delete();
    }
}

TEST(Factory, CreatesARegisteredClassByName) {
    EXPECT_TRUE(Tolm::IsClassRegistered(u"Test.Square"));
    CPtr<IShape> shape = Tolm::CreateObject<IShape>(u"Test.Square");
    ASSERT_FALSE(shape.IsEmpty());
    EXPECT_EQ(4, shape->Corners());
    EXPECT_EQ(1, shape->GetRefCount());
    shape.Reset();
    EXPECT_EQ(0, liveShared);
}

TEST(Factory, UnknownNameIsReportedOnce) {
    ReportRecorder recorder;
    EXPECT_TRUE(Tolm::DoCreateObject(u"Test.Nothing").IsEmpty());
    EXPECT_TRUE(Tolm::CreateObject<IShape>(u"Test.Nothing").IsEmpty());
    ASSERT_EQ(2, recorder.count());  // one per call: the cast of nothing adds none
    EXPECT_EQ("Test.Nothing", recorder.last().detail);
    EXPECT_TRUE(TolmTest::fromFramework(recorder.last()));
}

TEST(Factory, FailedCastIsReportedOnceAndReleasesTheObject) {
    ReportRecorder recorder;
    CPtr<IColour> colour = Tolm::CreateObject<IColour>(u"Test.Square");
    EXPECT_TRUE(colour.IsEmpty());
    EXPECT_EQ(1, recorder.count());
    EXPECT_EQ(0, liveShared);
    EXPECT_TRUE(Tolm::ObjectCast<IColour>(static_cast<IShape*>(nullptr)).IsEmpty());
    EXPECT_EQ(1, recorder.count());
}

TEST(Factory, RegistrationsComeAndGo) {
    EXPECT_FALSE(Tolm::IsClassRegistered(u"Test.Transient"));
    {
        Tolm::CClassRegistration transient(u"Test.Transient", &createSquare);
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
