#pragma once
// Flush-to-zero and denormals-are-zero for the calling thread. Recursive
// filters and feedback networks decay into subnormal numbers after their
// input falls silent; those cost many times a normal operation on most
// processors and never reach zero on their own. Every thread that runs the
// reverb or an alloy render (audio, export, build, preview) sets these
// modes, either for its whole life (EnableFlushDenormals at thread start) or
// around one piece of work (ScopedFlushDenormals).
#include <cstdint>

#if defined(__SSE__) || defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#define KORVEL_FLUSH_DENORMALS_SSE 1
#elif defined(__aarch64__)
#define KORVEL_FLUSH_DENORMALS_ARM64 1
#endif

namespace korvel {

namespace flush_denormals_detail {

#if defined(KORVEL_FLUSH_DENORMALS_SSE)
inline constexpr uint32_t kFlushBits = 0x8040u;  // FTZ (bit 15) | DAZ (bit 6)
inline uint32_t ReadMode() { return _mm_getcsr(); }
inline void WriteMode(uint32_t mode) { _mm_setcsr(mode); }
#elif defined(KORVEL_FLUSH_DENORMALS_ARM64)
inline constexpr uint64_t kFlushBits = uint64_t{1} << 24;  // FPCR.FZ covers inputs and outputs
inline uint64_t ReadMode() {
    uint64_t v;
    asm volatile("mrs %0, fpcr" : "=r"(v));
    return v;
}
inline void WriteMode(uint64_t v) { asm volatile("msr fpcr, %0" : : "r"(v)); }
#else
inline constexpr uint32_t kFlushBits = 0u;
inline uint32_t ReadMode() { return 0u; }
inline void WriteMode(uint32_t) {}
#endif

}  // namespace flush_denormals_detail

// Sets the modes on the calling thread for the rest of its life.
inline void EnableFlushDenormals() {
    using namespace flush_denormals_detail;
    WriteMode(ReadMode() | kFlushBits);
}

// True when the calling thread flushes subnormal numbers to zero.
inline bool FlushDenormalsEnabled() {
    using namespace flush_denormals_detail;
    return kFlushBits != 0 && (ReadMode() & kFlushBits) == kFlushBits;
}

// Sets the modes for one scope and restores the caller's modes after it, so
// a library routine can protect itself without changing its caller's
// arithmetic.
class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() : saved_(flush_denormals_detail::ReadMode()) {
        flush_denormals_detail::WriteMode(saved_ | flush_denormals_detail::kFlushBits);
    }
    ~ScopedFlushDenormals() { flush_denormals_detail::WriteMode(saved_); }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    decltype(flush_denormals_detail::ReadMode()) saved_;
};

}  // namespace korvel
