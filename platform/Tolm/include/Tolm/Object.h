// Reference-counted objects, the intrusive pointer and the object factory.
//
// IObject counts its references with interlocked operations and may be shared
// between threads (on Windows through InterlockedIncrement and
// InterlockedDecrement, as the host's objects count; elsewhere with
// std::atomic, the same lock-prefixed instructions); CFastObject counts plainly and stays on one
// thread. Both are destroyed when the count falls to zero. A new object starts
// at zero; the first CPtr that takes it raises the count to one.
//
// CPtr<T> holds one reference to any class with AddRef()/Release(). Using an
// empty CPtr (->, *) is an internal error (GenerateInternalError).
//
// The factory makes objects by class name. Libraries register their classes
// when they load (a static CClassRegistration) and withdraw them when they
// unload. DoCreateObject of an unknown name is an internal error. ObjectCast
// converts to an interface and reports an internal error when the object does
// not offer it; both give an empty CPtr if the report returns.
// A registration under a name already taken replaces the earlier creator; an
// empty name or a null creator is an internal error. The registry is safe to
// use from several threads, and a creator runs outside its lock.
#pragma once

#include <Tolm/Error.h>
#include <Tolm/Memory.h>
#include <Tolm/String.h>

#include <atomic>
#include <typeinfo>
#include <utility>

namespace Tolm {

namespace detail {
TOLM_API void reportEmptyPointer();
TOLM_API void reportFailedCast(const char* wanted);
}  // namespace detail

class TOLM_API IObject {
public:
    IObject() noexcept = default;
    IObject(const IObject&) = delete;
    IObject& operator=(const IObject&) = delete;

    // Interlocked: through the system's own calls where it has them.
    void AddRef() const noexcept;
    void Release() const noexcept;
    int GetRefCount() const noexcept;

    TOLM_HEAP_THROUGH_FRAMEWORK

protected:
    virtual ~IObject();

private:
    mutable detail::ReferenceCount count_{0};
};

class TOLM_API CFastObject {
public:
    CFastObject() noexcept = default;
    CFastObject(const CFastObject&) = delete;
    CFastObject& operator=(const CFastObject&) = delete;

    void AddRef() const noexcept { ++count_; }
    void Release() const noexcept {
        if (--count_ == 0) delete this;
    }
    int GetRefCount() const noexcept { return count_; }

    TOLM_HEAP_THROUGH_FRAMEWORK

protected:
    virtual ~CFastObject();

private:
    mutable int count_ = 0;
};

template <class T>
class CPtr {
public:
    CPtr() noexcept = default;
    CPtr(std::nullptr_t) noexcept {}
    CPtr(T* object) noexcept : object_(object) {
        if (object_) object_->AddRef();
    }
    CPtr(const CPtr& other) noexcept : CPtr(other.object_) {}
    template <class U>
    CPtr(const CPtr<U>& other) noexcept : CPtr(other.Get()) {}
    CPtr(CPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ~CPtr() { Reset(); }

    CPtr& operator=(CPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }

    void Reset() noexcept {
        if (T* object = std::exchange(object_, nullptr)) object->Release();
    }
    T* Get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    bool IsEmpty() const noexcept { return object_ == nullptr; }

    T* operator->() const {
        if (!object_) detail::reportEmptyPointer();
        return object_;
    }
    T& operator*() const {
        if (!object_) detail::reportEmptyPointer();
        return *object_;
    }

    friend bool operator==(const CPtr& a, const CPtr& b) noexcept { return a.object_ == b.object_; }

private:
    T* object_ = nullptr;
};

// The factory. A creator returns a new object (count zero).
using ObjectCreator = IObject* (*)();
TOLM_API void RegisterClass(const CUnicodeString& className, ObjectCreator creator);
TOLM_API void UnregisterClass(const CUnicodeString& className) noexcept;
TOLM_API bool IsClassRegistered(const CUnicodeString& className);
TOLM_API CPtr<IObject> DoCreateObject(const CUnicodeString& className);

// Registers a class for the life of the static object that holds it.
class TOLM_API CClassRegistration {
public:
    CClassRegistration(const char16_t* className, ObjectCreator creator);
    ~CClassRegistration();
    CClassRegistration(const CClassRegistration&) = delete;
    CClassRegistration& operator=(const CClassRegistration&) = delete;

private:
    const char16_t* className_;
};

// Checked conversion to an interface: an object that lacks it is a broken
// precondition. A null object gives an empty pointer without a report.
template <class I, class T>
CPtr<I> ObjectCast(T* object, const char* wanted = typeid(I).name()) {
    if (!object) return {};
    I* converted = dynamic_cast<I*>(object);
    if (!converted) detail::reportFailedCast(wanted);
    return CPtr<I>(converted);
}
template <class I, class T>
CPtr<I> ObjectCast(const CPtr<T>& object) {
    return ObjectCast<I>(object.Get());
}

// Creates by class name and converts to the interface in one step.
template <class I>
CPtr<I> CreateObject(const CUnicodeString& className) {
    return ObjectCast<I>(DoCreateObject(className));
}

}  // namespace Tolm
