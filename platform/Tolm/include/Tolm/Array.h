// Arrays of the framework.
//
// CFastArray<T, N, MM> keeps its first N elements inside the object and goes to
// the heap (through MM, normally CurrentMemoryManager = doAlloc/doFree) only
// beyond. CArray<T, MM> is the same with no inline room. Elements are
// contiguous. Emptying (RemoveAll, SetSize(0)) keeps the capacity; FreeMemory
// gives it back.
//
// Elements must be trivially copyable: the arrays move them with memcpy and
// never run constructors or destructors. New elements made by SetSize are
// zero. An index outside 0..GetSize()-1 is an internal error; should the
// report return, the access goes to a zeroed stand-in element.
// Not shared between threads without external synchronisation.
#pragma once

#include <Tolm/Error.h>
#include <Tolm/Memory.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace Tolm {

namespace detail {
// Reports an index or size outside the array (never returns normally unless a
// handler returns; the callers then clamp).
TOLM_API void reportArrayMisuse(const char* what, long long value, long long limit);
}  // namespace detail

template <class T, int N, class MM = CurrentMemoryManager>
class CFastArray {
    static_assert(std::is_trivially_copyable_v<T>, "framework arrays hold trivially copyable elements");
    static_assert(N >= 0, "inline capacity cannot be negative");

public:
    CFastArray() noexcept : data_(inlineData()), size_(0), capacity_(N) {}
    CFastArray(const CFastArray& other) : CFastArray() { Append(other.GetData(), other.GetSize()); }
    CFastArray(CFastArray&& other) noexcept : CFastArray() { takeFrom(other); }
    CFastArray& operator=(const CFastArray& other) {
        if (this != &other) {
            SetSize(0);
            Append(other.GetData(), other.GetSize());
        }
        return *this;
    }
    CFastArray& operator=(CFastArray&& other) noexcept {
        if (this != &other) {
            FreeMemory();
            takeFrom(other);
        }
        return *this;
    }
    ~CFastArray() { FreeMemory(); }

    int GetSize() const noexcept { return size_; }
    int GetCount() const noexcept { return size_; }
    bool IsEmpty() const noexcept { return size_ == 0; }
    int GetCapacity() const noexcept { return capacity_; }
    // True while the elements live inside the object.
    bool IsInline() const noexcept { return data_ == inlineData(); }

    T* GetData() noexcept { return data_; }
    const T* GetData() const noexcept { return data_; }

    T& operator[](int index) {
        if (index < 0 || index >= size_) return misusedElement(index);
        return data_[index];
    }
    const T& operator[](int index) const {
        if (index < 0 || index >= size_) return misusedElement(index);
        return data_[index];
    }
    T& GetLast() { return (*this)[size_ - 1]; }

    // Sets the element count; new elements are zero. A negative count is an
    // internal error and leaves the array as it was.
    void SetSize(int count) {
        if (count < 0) {
            detail::reportArrayMisuse("negative array size", count, 0);
            return;
        }
        Reserve(count);
        if (count > size_) std::memset(static_cast<void*>(data_ + size_), 0, sizeof(T) * (count - size_));
        size_ = count;
    }
    // As SetSize, but new elements are left unset: for a caller that writes
    // every one of them before any is read, and would pay twice for zeroes.
    void SetSizeForOverwrite(int count) {
        if (count < 0) {
            detail::reportArrayMisuse("negative array size", count, 0);
            return;
        }
        Reserve(count);
        size_ = count;
    }
    void RemoveAll() noexcept { size_ = 0; }

    void Reserve(int count) {
        if (count <= capacity_) return;
        grow(count);
    }
    void Add(const T& value) {
        if (size_ == capacity_) {
            if (size_ == std::numeric_limits<int>::max()) {
                detail::reportArrayMisuse("array size overflow", size_, std::numeric_limits<int>::max());
                return;
            }
            // value may be one of our own elements, which grow() frees.
            const T copy = value;
            grow(size_ + 1);
            data_[size_++] = copy;
            return;
        }
        data_[size_++] = value;
    }
    void Append(const T* values, int count) {
        if (count <= 0) return;
        if (count > std::numeric_limits<int>::max() - size_) {
            detail::reportArrayMisuse("array size overflow", count, std::numeric_limits<int>::max() - size_);
            return;
        }
        // values may lie inside our own elements, which Reserve() may move.
        const std::less<const T*> before;
        const bool ownElements = !before(values, data_) && before(values, data_ + size_);
        const std::ptrdiff_t offset = ownElements ? values - data_ : 0;
        Reserve(size_ + count);
        if (ownElements) values = data_ + offset;
        std::memcpy(static_cast<void*>(data_ + size_), values, sizeof(T) * count);
        size_ += count;
    }
    void RemoveLast() {
        if (size_ == 0) {
            detail::reportArrayMisuse("removal from an empty array", 0, 0);
            return;
        }
        --size_;
    }
    // Gives heap memory back and empties the array.
    void FreeMemory() noexcept {
        if (!IsInline()) MM::Free(data_);
        data_ = inlineData();
        size_ = 0;
        capacity_ = N;
    }
    void Swap(CFastArray& other) noexcept {
        CFastArray temp(std::move(other));
        other = std::move(*this);
        *this = std::move(temp);
    }

private:
    T* inlineData() noexcept {
        if constexpr (N > 0)
            return reinterpret_cast<T*>(inline_);
        else
            return nullptr;
    }
    const T* inlineData() const noexcept {
        if constexpr (N > 0)
            return reinterpret_cast<const T*>(inline_);
        else
            return nullptr;
    }
    // Should the report of a bad index return, a zeroed stand-in element is
    // read or written instead, so that nothing outside the array is touched.
    T& misusedElement(int index) const {
        detail::reportArrayMisuse("array index out of range", index, size_);
        alignas(T) static thread_local unsigned char standIn[sizeof(T)];
        std::memset(standIn, 0, sizeof(T));
        return *std::launder(reinterpret_cast<T*>(standIn));
    }
    void grow(int minimum) {
        long long wanted = capacity_ < 16 ? 16 : static_cast<long long>(capacity_) * 2;
        if (wanted < minimum) wanted = minimum;
        if (wanted > std::numeric_limits<int>::max()) wanted = std::numeric_limits<int>::max();
        T* block = static_cast<T*>(MM::Alloc(sizeof(T) * static_cast<std::size_t>(wanted)));
        if (size_ > 0) std::memcpy(static_cast<void*>(block), data_, sizeof(T) * size_);
        if (!IsInline()) MM::Free(data_);
        data_ = block;
        capacity_ = static_cast<int>(wanted);
    }
    // Takes other's elements; other is left empty with its inline room.
    void takeFrom(CFastArray& other) noexcept {
        if constexpr (N > 0) {
            if (other.IsInline()) {
                if (other.size_ > 0)
                    std::memcpy(static_cast<void*>(data_), other.data_, sizeof(T) * other.size_);
                size_ = other.size_;
                other.size_ = 0;
                return;
            }
        }
        if (!other.IsInline()) {
            data_ = other.data_;
            size_ = other.size_;
            capacity_ = other.capacity_;
            other.data_ = other.inlineData();
            other.capacity_ = N;
        }
        other.size_ = 0;
    }

    T* data_;
    int size_;
    int capacity_;
    alignas(T) unsigned char inline_[N > 0 ? N * sizeof(T) : 1];
};

template <class T, class MM = CurrentMemoryManager>
class CArray : public CFastArray<T, 0, MM> {
public:
    using CFastArray<T, 0, MM>::CFastArray;
};

}  // namespace Tolm
