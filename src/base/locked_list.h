#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace zarvik {

// Holds an optional lock. Without enableLock() every lock operation does
// nothing, so single-threaded users pay nothing.
class LockHolder {
 public:
  LockHolder() = default;
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  void enableLock() { lock_ = std::make_unique<std::recursive_mutex>(); }
  std::recursive_mutex* lockHandle() const { return lock_.get(); }

 private:
  std::unique_ptr<std::recursive_mutex> lock_;
};

// Enters the given lock, when there is one, for the scope's lifetime.
class ScopedLock {
 public:
  explicit ScopedLock(std::recursive_mutex* lock) : lock_(lock) {
    if (lock_ != nullptr) lock_->lock();
  }
  explicit ScopedLock(const LockHolder& holder) : ScopedLock(holder.lockHandle()) {}
  ~ScopedLock() {
    if (lock_ != nullptr) lock_->unlock();
  }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  std::recursive_mutex* lock_;
};

// An owning, growable array of element pointers, indexed from 1. Capacity
// starts at 8 and doubles; clear() keeps the capacity.
template <typename T>
class LockedList : public LockHolder {
 public:
  static constexpr std::int32_t kMaxCapacity = 1 << 30;

  LockedList() = default;
  LockedList(const LockedList& other) : LockHolder() { appendAll(other); }
  LockedList& operator=(const LockedList& other) {
    if (this != &other) assign(other);
    return *this;
  }
  ~LockedList() {
    ScopedLock guard(*this);
    clearUnlocked();
  }

  std::int32_t count() const { return count_; }
  std::int32_t capacity() const { return capacity_; }
  bool isEmpty() const { return count_ == 0; }

  // 1-based; i must lie in 1..count(). An index outside that range is a
  // caller's fault: debug builds stop on it, others get null.
  T* itemAt(std::int32_t i) const {
    ScopedLock guard(*this);
    const bool inRange = i >= 1 && i <= count_;
    assert(inRange && "LockedList index out of range");
    return inRange ? slot(i - 1).get() : nullptr;
  }
  // The element at i; outside 1..count() (see itemAt) a default element that
  // belongs to no list, so that a faulty index reads nothing stale and a
  // write through it is lost rather than corrupting memory.
  T& operator[](std::int32_t i) const {
    if (T* item = itemAt(i)) return *item;
    static thread_local T outOfRange;
    outOfRange = T{};
    return outOfRange;
  }

  // Appends a copy of value at position count() + 1. False only when the
  // list cannot grow.
  bool append(T value) {
    ScopedLock guard(*this);
    if (count_ == capacity_ && !reserveUnlocked(capacity_ == 0 ? 8 : capacity_ * 2)) return false;
    slot(count_++) = std::make_unique<T>(std::move(value));
    return true;
  }

  // Appends a copy of every element of other, in order: all of them, or
  // none and false when the list cannot grow to hold them.
  bool appendAll(const LockedList& other) {
    if (other.count_ == 0) return true;
    ScopedLock guard(*this);
    ScopedLock otherGuard(other);
    // Counted before the loop: when other is this list, the copies appended
    // here must not be copied again.
    const std::int32_t count = other.count_;
    if (count > kMaxCapacity - count_) return false;
    if (!reserveUnlocked(other.capacity_) || !reserveUnlocked(count_ + count)) return false;
    for (std::int32_t i = 0; i < count; ++i) slot(count_++) = std::make_unique<T>(*other.slot(i));
    return true;
  }

  // Replaces the elements with copies of other's; false (and empty) when the
  // list cannot hold them.
  bool assign(const LockedList& other) {
    if (&other == this) return true;  // clearing first would lose the elements
    ScopedLock guard(*this);
    clearUnlocked();
    return appendAll(other);
  }

  void clear() {
    ScopedLock guard(*this);
    clearUnlocked();
  }

  bool reserve(std::int32_t n) {
    ScopedLock guard(*this);
    return reserveUnlocked(n);
  }

  // Range-for support over the elements (read under the caller's lock).
  struct Iterator {
    const std::unique_ptr<T>* slot;
    T& operator*() const { return **slot; }
    Iterator& operator++() {
      ++slot;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return slot != other.slot; }
  };
  Iterator begin() const { return {items_.get()}; }
  Iterator end() const { return {items_.get() + static_cast<std::size_t>(count_)}; }

 private:
  // The slot of the 0-based index, which callers keep within capacity_.
  std::unique_ptr<T>& slot(std::int32_t index) const { return items_[static_cast<std::size_t>(index)]; }

  void clearUnlocked() {
    for (std::int32_t i = 0; i < count_; ++i) slot(i).reset();
    count_ = 0;
  }

  bool reserveUnlocked(std::int32_t n) {
    if (n <= capacity_) return true;
    if (n >= kMaxCapacity) return false;
    auto grown =
        std::unique_ptr<std::unique_ptr<T>[]>(new (std::nothrow) std::unique_ptr<T>[static_cast<std::size_t>(n)]);
    if (!grown) return false;
    for (std::int32_t i = 0; i < count_; ++i) grown[static_cast<std::size_t>(i)] = std::move(slot(i));
    items_ = std::move(grown);
    capacity_ = n;
    return true;
  }

  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
  std::unique_ptr<std::unique_ptr<T>[]> items_;
};

}  // namespace zarvik
