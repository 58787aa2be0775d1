#pragma once

namespace vardelin {

// The few loops that gain from wider vector units than the baseline are compiled once per unit
// with [[gnu::target]], from one always-inline body, and a pointer chosen once when the module
// loads runs the widest this CPU has. [[gnu::target_clones]] would pick the same at load, but
// clang 14 leaves a cloned function unresolved when another translation unit calls it. Every
// variant rounds as the scalar code does (no contraction), so each gives the same bits.
enum class VectorUnit { Baseline, Avx2, Avx512f };

inline VectorUnit widest_vector_unit() noexcept {
    // The pointers are set by static initialisers, which may run before the constructor that
    // reads the CPU model.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return VectorUnit::Avx512f;
    if (__builtin_cpu_supports("avx2")) return VectorUnit::Avx2;
    return VectorUnit::Baseline;
}

}  // namespace vardelin
