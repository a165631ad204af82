#include <Tolm/Object.h>

#include <functional>
#include <map>
#include <mutex>

#include "Internal.h"

namespace Tolm {

IObject::~IObject() = default;

void IObject::AddRef() const noexcept { detail::incrementReferenceCount(count_); }
void IObject::Release() const noexcept {
    if (detail::decrementReferenceCount(count_) == 0) delete this;
}
int IObject::GetRefCount() const noexcept { return detail::readReferenceCount(count_); }
CFastObject::~CFastObject() = default;

namespace detail {

void reportEmptyPointer() { TOLM_REPORT_INTERNAL(u"use of an empty pointer", u""); }

void reportFailedCast(const char* wanted) {
    TOLM_REPORT_INTERNAL(u"object does not offer the interface",
                         CUnicodeString::FromUtf8(wanted ? wanted : ""));
}

}  // namespace detail

namespace {

using ClassName = CUnicodeString::Storage;

struct ClassRegistry {
    std::mutex mutex;
    std::map<ClassName, ObjectCreator, std::less<>, CAllocator<std::pair<const ClassName, ObjectCreator>>>
        creators;
};

ClassRegistry& registry() { return detail::leakedSingleton<ClassRegistry>(); }

ClassName keyOf(const CUnicodeString& className) {
    const std::u16string_view units = className.View();
    return ClassName(units.data(), units.size());
}

}  // namespace

void RegisterClass(const CUnicodeString& className, ObjectCreator creator) {
    if (className.IsEmpty() || !creator) {
        TOLM_REPORT_INTERNAL(u"class registration without a name or creator", className);
        return;
    }
    ClassRegistry& classes = registry();
    std::lock_guard lock(classes.mutex);
    // A later registration under the same name wins: a library reloaded into
    // the process brings fresh creators.
    classes.creators.insert_or_assign(keyOf(className), creator);
}

void UnregisterClass(const CUnicodeString& className) noexcept {
    ClassRegistry& classes = registry();
    std::lock_guard lock(classes.mutex);
    const auto found = classes.creators.find(className.View());
    if (found != classes.creators.end()) classes.creators.erase(found);
}

bool IsClassRegistered(const CUnicodeString& className) {
    ClassRegistry& classes = registry();
    std::lock_guard lock(classes.mutex);
    return classes.creators.find(className.View()) != classes.creators.end();
}

CPtr<IObject> DoCreateObject(const CUnicodeString& className) {
    ObjectCreator creator = nullptr;
    {
        ClassRegistry& classes = registry();
        std::lock_guard lock(classes.mutex);
        const auto found = classes.creators.find(className.View());
        if (found != classes.creators.end()) creator = found->second;
    }
    if (!creator) {
        TOLM_REPORT_INTERNAL(u"no class registered under the name", className);
        return {};
    }
    // The creator runs outside the lock: it may itself create objects.
    return CPtr<IObject>(creator());
}

CClassRegistration::CClassRegistration(const char16_t* className, ObjectCreator creator)
    : className_(className) {
    RegisterClass(CUnicodeString(className), creator);
}

CClassRegistration::~CClassRegistration() { UnregisterClass(CUnicodeString(className_)); }

}  // namespace Tolm
