// Archives: objects and values written to a file and read back.
//
// A CArchive works over a CBaseFile that it does not own (the file must
// outlive the archive, or the archive be closed first), in one direction:
// load (1) or store (2), through a buffer of the given size. WriteObject stores
// the object's class name and then its state; ReadObject reads the class name,
// creates an object of that class through the factory and lets it read its
// state. Values are little-endian; strings are a 32-bit count then the units.
//
// Format of one object:
//     u32 magic 0x4A424F54 ("TOBJ") | u32 name length n | n bytes UTF-8 class name | state
// A null object is the magic and n = 0. Values inside a state:
//     int32/uint32: 4 bytes | int64, double (IEEE 754 bits): 8 bytes | bool: 1 byte, 0 or 1
//     CUnicodeString: u32 count | count UTF-16 units, 2 bytes each
//     CString: u32 count | count bytes
// For example an object "My.Point" whose state is the int32 7 is
//     54 4F 42 4A  08 00 00 00  4D 79 2E 50 6F 69 6E 74  07 00 00 00
//
// Every read is checked: a truncated or corrupted archive, a class name that
// the factory does not know, or a class that is not serialisable raises a
// CException of kind archive. Nothing is read past the data, and a count is
// checked against what the file still holds before anything is allocated for
// it. A load-direction archive reads ahead; Close() puts the file's position
// back just past the bytes it used.
//
// A serialisable class derives from ISerializable and declares itself with one
// line in its source file:
//
//     TOLM_IMPLEMENT_SERIAL(CMyObject, u"My.Object");
//
// which registers a creator under the name and gives the class its name.
// Store-direction archives flush when closed; the destructor closes and
// swallows a failure, so call Close() to see it.
#pragma once

#include <Tolm/File.h>
#include <Tolm/Object.h>
#include <Tolm/String.h>

#include <cstdint>

namespace Tolm {

class CArchive;

class TOLM_API ISerializable : public virtual IObject {
public:
    // The name the object is registered under.
    virtual CUnicodeString GetSerialClassName() const = 0;
    // Writes (archive.IsStoring()) or reads the object's state.
    virtual void Serialize(CArchive& archive) = 0;
};

class TOLM_API CArchive {
public:
    enum Direction { load = 1, store = 2 };
    static constexpr std::uint32_t kObjectMagic = 0x4A424F54;

    CArchive(CBaseFile* file, int direction, int bufferSize);
    ~CArchive();
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    bool IsLoading() const noexcept { return direction_ == load; }
    bool IsStoring() const noexcept { return direction_ == store; }

    void WriteObject(const IObject* object);
    CPtr<IObject> ReadObject();

    // Raw bytes. Read gives exactly count bytes or throws.
    void Write(const void* bytes, int count);
    void Read(void* bytes, int count);

    CArchive& operator<<(std::int32_t value);
    CArchive& operator<<(std::uint32_t value);
    CArchive& operator<<(std::int64_t value);
    CArchive& operator<<(double value);
    CArchive& operator<<(bool value);
    CArchive& operator<<(const CUnicodeString& value);
    CArchive& operator<<(const CString& value);
    CArchive& operator>>(std::int32_t& value);
    CArchive& operator>>(std::uint32_t& value);
    CArchive& operator>>(std::int64_t& value);
    CArchive& operator>>(double& value);
    CArchive& operator>>(bool& value);
    CArchive& operator>>(CUnicodeString& value);
    CArchive& operator>>(CString& value);

    // Writes out the buffer (store direction).
    void Flush();
    // Flushes and detaches from the file; later use is an archive error.
    void Close();

    // Nesting limit of objects inside objects, in both directions: it stops a
    // cycle of objects or a crafted archive before the stack runs out.
    static constexpr int kMaxObjectDepth = 256;
    // Longest class name accepted, in UTF-8 bytes.
    static constexpr std::uint32_t kMaxClassNameBytes = 1024;

private:
    class DepthGuard;
    void fill();
    void checkUsable(int wantedDirection, const char* operation) const;
    // Throws unless `bytes` more bytes can still come from the archive.
    void checkAvailable(std::uint64_t bytes, const char* what);
    std::int64_t offset() const noexcept;
    std::uint32_t readU32();
    std::uint64_t readU64();
    void writeU32(std::uint32_t value);
    void writeU64(std::uint64_t value);
    [[noreturn]] void fail(const std::string& what) const;

    CBaseFile* file_;
    int direction_;
    unsigned char* buffer_ = nullptr;
    int bufferSize_;
    int bufferUsed_ = 0;             // store: bytes waiting; load: bytes available
    int bufferPos_ = 0;              // load: next byte to hand out
    std::int64_t bufferOffset_ = 0;  // archive offset of buffer_[0]
    int depth_ = 0;
    bool closed_ = false;
};

}  // namespace Tolm

#define TOLM_IMPLEMENT_SERIAL(ClassType, nameLiteral)                                    \
    ::Tolm::CUnicodeString ClassType::GetSerialClassName() const { return nameLiteral; } \
    static ::Tolm::CClassRegistration ClassType##_registration(                          \
        nameLiteral, []() -> ::Tolm::IObject* { return new ClassType(); })

// In the class body of a serialisable class.
#define TOLM_DECLARE_SERIAL                                     \
    ::Tolm::CUnicodeString GetSerialClassName() const override; \
    void Serialize(::Tolm::CArchive& archive) override;
