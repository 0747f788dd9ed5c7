#pragma once
// An atomic that copies its current value, so that records holding one stay
// plain values (snapshots, resets by assignment of a fresh record).
#include <atomic>

namespace korvel {

template <typename T>
struct CopyableAtomic : std::atomic<T> {
    constexpr CopyableAtomic() noexcept : std::atomic<T>(T{}) {}
    constexpr CopyableAtomic(T value) noexcept : std::atomic<T>(value) {}
    CopyableAtomic(const CopyableAtomic& other) noexcept
        : std::atomic<T>(other.load(std::memory_order_relaxed)) {}
    CopyableAtomic& operator=(const CopyableAtomic& other) noexcept {
        this->store(other.load(std::memory_order_relaxed), std::memory_order_relaxed);
        return *this;
    }
    using std::atomic<T>::operator=;
};

}  // namespace korvel
