// Vec: the growable array of the host side. Capacity rules are part of the
// system's observable behaviour: a full Vec grows to count * 5 / 4 + 8; a
// size hint n gives capacity n + 6 (7 for n <= 0). Index errors raise code 6;
// capacities that int or the host cannot hold raise code 10 "Out of memory".
#pragma once

#include <cstddef>
#include <initializer_list>
#include <new>
#include <utility>

#include "../VirtualMachine/VMError.h"

template <typename T>
class Vec {
public:
    Vec() = default;
    explicit Vec(int sizeHint) { setCapacity(sizeHint <= 0 ? 7 : checkedCapacity((long long)sizeHint + 6)); }
    Vec(std::initializer_list<T> items)
    {
        for (const T& t : items)
            append(t);
    }
    Vec(const Vec& other) { appendAll(other); }
    Vec(Vec&& other) noexcept { swap(other); }
    Vec& operator=(const Vec& other)
    {
        if (this != &other) {
            Vec copy(other);
            swap(copy);
        }
        return *this;
    }
    Vec& operator=(Vec&& other) noexcept
    {
        if (this != &other) {
            clear();
            swap(other);
        }
        return *this;
    }
    virtual ~Vec() { clear(); }

    void swap(Vec& other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(capacity_, other.capacity_);
        std::swap(count_, other.count_);
    }

    int count() const { return count_; }
    int size() const { return count_; }
    int capacity() const { return capacity_; }
    bool isEmpty() const { return count_ == 0; }

    T& operator[](int i)
    {
        if (unsigned(i) >= unsigned(count_)) [[unlikely]]
            vm::raiseVmError(vm::KErrInvalidArgument);
        return data_[i];
    }
    const T& operator[](int i) const
    {
        if (unsigned(i) >= unsigned(count_)) [[unlikely]]
            vm::raiseVmError(vm::KErrInvalidArgument);
        return data_[i];
    }
    T& last() { return (*this)[count_ - 1]; }
    const T& last() const { return (*this)[count_ - 1]; }

    T* data() { return data_; }
    const T* data() const { return data_; }
    T* begin() { return data_; }
    T* end() { return data_ + count_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + count_; }

    void append(const T& value)
    {
        if (count_ == capacity_) {
            T copy(value);  // value may live in this Vec
            grow();
            new (data_ + count_) T(std::move(copy));
        } else {
            new (data_ + count_) T(value);
        }
        ++count_;
    }
    void append(T&& value)
    {
        if (count_ == capacity_) {
            T moved(std::move(value));
            grow();
            new (data_ + count_) T(std::move(moved));
        } else {
            new (data_ + count_) T(std::move(value));
        }
        ++count_;
    }
    Vec& operator<<(const T& value)
    {
        append(value);
        return *this;
    }

    void appendAll(const Vec& other) { appendPart(other, 0, other.count_); }
    // Appends count elements of other from index start.
    void appendPart(const Vec& other, int start, int count)
    {
        if (start < 0 || count < 0 || start > other.count_ || count > other.count_ - start)
            vm::raiseVmError(vm::KErrInvalidArgument);
        if (count == 0)
            return;
        if (&other == this) {
            Vec copy(other);
            appendPart(copy, start, count);
            return;
        }
        if ((long long)count_ + count > capacity_)
            setCapacity(checkedCapacity((long long)count_ + count));
        for (int i = 0; i < count; ++i) {
            new (data_ + count_) T(other.data_[start + i]);
            ++count_;  // counted one by one: a throwing copy leaves no orphan
        }
    }

    // Removes the last k elements.
    void removeLast(int k = 1)
    {
        if (k < 0 || k > count_)
            vm::raiseVmError(vm::KErrInvalidArgument);
        for (int i = 0; i < k; ++i)
            data_[count_ - 1 - i].~T();
        count_ -= k;
    }

    // Grows (default-constructing) or shrinks to n elements.
    void resize(int n)
    {
        if (n < 0)
            vm::raiseVmError(vm::KErrInvalidArgument);
        if (n < count_) {
            removeLast(count_ - n);
            return;
        }
        if (n > capacity_)
            setCapacity(n);
        for (int i = count_; i < n; ++i)
            new (data_ + i) T();
        count_ = n;
    }

    void setCapacity(int capacity)
    {
        if (capacity < count_)
            vm::raiseVmError(vm::KErrInvalidArgument);
        if (capacity <= 0)
            capacity = 1;
        T* fresh = static_cast<T*>(::operator new(sizeof(T) * size_t(capacity), std::nothrow));
        if (!fresh)
            vm::raiseVmError(vm::KErrVm, "Out of memory");
        for (int i = 0; i < count_; ++i) {
            new (fresh + i) T(std::move(data_[i]));
            data_[i].~T();
        }
        ::operator delete(data_);
        data_ = fresh;
        capacity_ = capacity;
    }

    // Removes every element and releases the array.
    void clear()
    {
        for (int i = 0; i < count_; ++i)
            data_[i].~T();
        ::operator delete(data_);
        data_ = nullptr;
        capacity_ = 0;
        count_ = 0;
    }

    // Removes element i, keeping the order of the rest.
    void removeAt(int i)
    {
        if (unsigned(i) >= unsigned(count_))
            vm::raiseVmError(vm::KErrInvalidArgument);
        for (int j = i; j + 1 < count_; ++j)
            data_[j] = std::move(data_[j + 1]);
        data_[count_ - 1].~T();
        --count_;
    }

    int indexOf(const T& value) const
    {
        for (int i = 0; i < count_; ++i)
            if (data_[i] == value)
                return i;
        return -1;
    }

private:
    void grow() { setCapacity(checkedCapacity(((long long)count_ * 5 >> 2) + 8)); }
    // Capacities beyond int raise code 10 "Out of memory".
    static int checkedCapacity(long long capacity)
    {
        if (capacity > 0x7FFFFFFFLL)
            vm::raiseVmError(vm::KErrVm, "Out of memory");
        return int(capacity);
    }

    T* data_ = nullptr;
    int capacity_ = 0;
    int count_ = 0;
};
