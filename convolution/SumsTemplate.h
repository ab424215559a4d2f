// The half of the kernels that is the same for every instruction set, written once over a
// small vector type V (see VectorX86.h for what it provides): the exact double chain, the
// frame of the single-precision kernels and the ring sweep of the wider register files, the
// sweep of a tile's sums in register blocks, the transposition of a window block by block,
// the copying of rows out of a transposed tile, and the table a kernel file exports. Each
// kernel file adds only its vector type, the sweep of its single-precision kernel (or the
// ring sweep with its register block) and its block transposition.
//
// Include only from a kernel file (SumsAvx512.cpp, ...), after its vector type. Everything
// here lives in an unnamed namespace: each kernel file is built with its own instruction-set
// flags, and a function shared between two of them (an inline function or a template with
// one name in both) could be the copy the linker keeps for both, and then run on a CPU
// without the instructions. For the same reason nothing here instantiates a standard-library
// function template.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "convolution/SumKernels.h"

namespace {

// One register block of sums through all taps: what a kernel's `group<Group>` does.
using GroupKernel = void (*)(const float* rows, const float* taps, uint32_t tapCount, float* sums,
                             RowCopy& copy);

// A kernel's hold on a RowCopy (SumKernels.h) while it runs: the fields it needs in
// registers, since the row stores could otherwise (as far as the compiler knows) change them.
template <typename V> struct RowCopier {
    const float* tile;    // the transposed window
    const uint32_t* from; // where the next row starts in the tile
    float* rows;          // where the next row goes
    uint32_t left;        // rows still to copy

    explicit RowCopier(const RowCopy& copy)
        : tile(copy.tile), from(copy.from + copy.next),
          rows(copy.rows + static_cast<size_t>(copy.next) * V::kLanes), left(copy.end - copy.next) {
    }

    // Row k after the next one: one unaligned load, one aligned store. A row starts anywhere
    // in a cache line, so most of these loads cross a 32-byte boundary, and such a load that
    // misses the first-level cache is slow (on Zen 4 a copying step cost 2.2 to 2.4 plain
    // steps, against 1.3 to 1.4 with the same loads moved to 32-byte boundaries). The tile's
    // lines are seldom there, since the rows the kernels sum stream through it, so each copy
    // first asks for both ends of the row kCopyAhead rows on: at the AVX2 kernel's three
    // copies per 36 multiply-adds that is some 300 cycles ahead. A copying step then cost 1.45
    // to 1.9.
    void copy(uint32_t k) const {
        const float* ahead = tile + from[k + kCopyAhead];
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + V::kLanes - 1);
        V::store(rows + static_cast<size_t>(k) * V::kLanes, V::loadUnaligned(tile + from[k]));
    }
    // Moves on by `count` copied rows.
    void advance(uint32_t count) {
        from += count;
        rows += static_cast<size_t>(count) * V::kLanes;
        left -= count;
    }
    // Hands back what is left.
    void finish(RowCopy& copy) const { copy.next = copy.end - left; }
};

// A CopyRows: the rows of `copy` not copied yet.
template <typename V> void copyRows(RowCopy& copy) {
    RowCopier<V> copier(copy);
    for (uint32_t k = 0; k < copier.left; ++k) {
        copier.copy(k);
    }
    copier.advance(copier.left);
    copier.finish(copy);
}

// Runs step(t, copier, copying) for whole steps of Step taps from t on, advancing t: while
// the copy has a row left for every tap of a step, with copying = std::true_type (the step
// copies them as it goes), then with std::false_type.
template <typename V, uint32_t Step, typename StepFunction>
void wholeSteps(uint32_t& t, uint32_t tapCount, RowCopy& copy, StepFunction&& step) {
    RowCopier<V> copier(copy);
    for (; t + Step <= tapCount && copier.left >= Step; t += Step) {
        step(t, copier, std::true_type{});
        copier.advance(Step);
    }
    copier.finish(copy);
    for (; t + Step <= tapCount; t += Step) {
        step(t, copier, std::false_type{});
    }
}

// A single-precision kernel: one fused multiply-add per lane and term, used only when it
// equals the defined step (a double sum rounded to float). With 16-bit samples on both
// sides every product is a multiple of 2^-30 no larger than 1, and every running sum of an
// impulse of at most 2^22 taps stays a multiple of 2^-30 no larger than 2^22, so the double
// sum is exact and its two roundings are the one rounding of the fused operation
// (SingleFmaExactness.h argues each step in full); V::fusedStep must round once.
//
// Group sums are loaded into registers, Sweep::sweep takes them through whole steps of taps
// in its own way (copying rows of `copy` as it goes), the last taps go one at a time, and
// the sums are stored.
template <typename V, typename Sweep> struct FusedKernel {
    static constexpr uint32_t kLanes = V::kLanes;
    static constexpr int kGroup = Sweep::kGroup;

    template <int Group>
    static void group(const float* rows, const float* taps, uint32_t tapCount, float* sums,
                      RowCopy& copy) {
        typename V::Floats acc[Group];
        for (int j = 0; j < Group; ++j) {
            acc[j] = V::load(sums + j * V::kLanes);
            // Otherwise GCC makes the loads one block copy into a stack array (rep movsq
            // there and back, about a hundred cycles per register block and tile).
            V::keepInRegister(acc[j]);
        }
        uint32_t t = 0;
        Sweep::template sweep<Group>(acc, rows, taps, tapCount, t, copy);
        for (; t < tapCount; ++t) {
            const typename V::Floats h = V::broadcast(taps[t]);
            for (int j = 0; j < Group; ++j) {
                acc[j] =
                    V::fusedStep(h, V::load(rows + static_cast<size_t>(t + j) * V::kLanes), acc[j]);
            }
        }
        for (int j = 0; j < Group; ++j) {
            V::keepInRegister(acc[j]); // and the stores one copy back
            V::store(sums + j * V::kLanes, acc[j]);
        }
    }
};

// The sweep for instruction sets with 32 vector registers: the rows live in a ring of Group
// registers. At tap t sum j needs row t + j, so each tap brings in one new row (t + Group -
// 1) and the others were loaded for earlier taps: one row load and one broadcast for Group
// multiply-adds, so the loop is bound by the FMA units, not by loads. Unrolling by Group
// makes every ring slot a fixed register. The tap and the oldest row are kept alive past
// their last multiply-add: otherwise GCC writes that sum into the dying register and copies
// it back afterwards, and those copies take turns on the FMA units (about one in ten). Each
// tap also copies one row of the next tile while the FMA units are busy.
//
// With TapsPerLoad 1 each tap is broadcast to a register of its own. Where the multiply-add
// can take its factor from a lane of a register (NEON's by-element FMLA), TapsPerLoad taps
// come with one plain load and serve by lane index, V::fusedStepByLane(acc, row, taps, k):
// no broadcast at all. The smaller blocks that cannot take whole loads of taps per step
// broadcast.
template <typename V, int GroupSize, int TapsPerLoad = 1> struct RingSweep {
    static constexpr int kGroup = GroupSize;

    template <int Group>
    static void sweep(typename V::Floats (&acc)[Group], const float* rows, const float* taps,
                      uint32_t tapCount, uint32_t& t, RowCopy& copy) {
        if (tapCount < static_cast<uint32_t>(Group)) {
            return;
        }
        constexpr int kPerLoad = Group % TapsPerLoad == 0 ? TapsPerLoad : 1;
        typename V::Floats ring[Group];
        for (int j = 0; j < Group - 1; ++j) {
            ring[j] = V::load(rows + j * V::kLanes);
        }
        wholeSteps<V, Group>(
            t, tapCount, copy, [&](uint32_t at, const RowCopier<V>& copier, auto copying) {
                const float* base = rows + static_cast<size_t>(at) * V::kLanes;
#pragma GCC unroll 16
                for (int u0 = 0; u0 < Group; u0 += kPerLoad) {
                    const typename V::Floats h = kPerLoad == 1 ? V::broadcast(taps[at + u0])
                                                               : V::loadUnaligned(taps + at + u0);
#pragma GCC unroll 16
                    for (int k = 0; k < kPerLoad; ++k) {
                        const int u = u0 + k;
                        ring[(u + Group - 1) % Group] = V::load(base + (u + Group - 1) * V::kLanes);
#pragma GCC unroll 16
                        for (int j = 0; j < Group; ++j) {
                            if constexpr (kPerLoad == 1) {
                                acc[j] = V::fusedStep(h, ring[(u + j) % Group], acc[j]);
                            } else {
                                acc[j] = V::fusedStepByLane(acc[j], ring[(u + j) % Group], h, k);
                            }
                        }
                        V::keepInRegister(h);
                        V::keepInRegister(ring[u % Group]);
                        if constexpr (decltype(copying)::value) {
                            copier.copy(static_cast<uint32_t>(u));
                        }
                    }
                }
            });
    }
};

// The double chain, the definition itself: each product of two floats is exact in double, so
// one fused double multiply-add rounds the same exact value that a separate multiply and add
// would; the sum is then rounded to float before the next term. Each lane's row is taken
// kDoubleLanes floats at a time.
template <typename V> struct DoubleChain {
    static constexpr uint32_t kLanes = V::kLanes;
    static constexpr int kGroup = V::kDoubleGroup; // enough chains to hide the conversions

    // Leaves `copy` to the caller: the double chain is slow enough that copying apart costs
    // little.
    template <int Group>
    static void group(const float* rows, const float* taps, uint32_t tapCount, float* sums,
                      RowCopy&) {
        constexpr uint32_t kParts = V::kLanes / V::kDoubleLanes;
        typename V::Doubles acc[Group][kParts];
        for (int j = 0; j < Group; ++j) {
            for (uint32_t p = 0; p < kParts; ++p) {
                acc[j][p] = V::widen(sums + j * V::kLanes + p * V::kDoubleLanes);
            }
        }
        for (uint32_t t = 0; t < tapCount; ++t) {
            const typename V::Doubles tap = V::broadcastDouble(static_cast<double>(taps[t]));
            for (int j = 0; j < Group; ++j) {
                const float* row = rows + static_cast<size_t>(t + j) * V::kLanes;
                for (uint32_t p = 0; p < kParts; ++p) {
                    acc[j][p] = V::roundToFloat(
                        V::fusedStep(tap, V::widen(row + p * V::kDoubleLanes), acc[j][p]));
                }
            }
        }
        for (int j = 0; j < Group; ++j) {
            for (uint32_t p = 0; p < kParts; ++p) {
                V::narrow(sums + j * V::kLanes + p * V::kDoubleLanes, acc[j][p]);
            }
        }
    }
};

// The smaller register blocks, 1 ... Group - 1 sums, for what is left of a tile's sums after
// whole blocks.
template <typename Kernel, int... Sizes>
GroupKernel remainderKernel(uint32_t size, std::integer_sequence<int, Sizes...>) {
    static constexpr GroupKernel kTable[] = {nullptr, &Kernel::template group<Sizes + 1>...};
    return kTable[size];
}

// A SumTile: whole register blocks of Kernel::kGroup sums, then one smaller block.
template <typename Kernel>
void sumTile(const float* rows, const float* taps, uint32_t tapCount, float* sums, uint32_t sumRows,
             RowCopy& copy) {
    constexpr int kGroup = Kernel::kGroup;
    uint32_t j = 0;
    for (; j + kGroup <= sumRows; j += kGroup) {
        Kernel::template group<kGroup>(rows + static_cast<size_t>(j) * Kernel::kLanes, taps,
                                       tapCount, sums + static_cast<size_t>(j) * Kernel::kLanes,
                                       copy);
    }
    if (j < sumRows) {
        remainderKernel<Kernel>(sumRows - j, std::make_integer_sequence<int, kGroup - 1>{})(
            rows + static_cast<size_t>(j) * Kernel::kLanes, taps, tapCount,
            sums + static_cast<size_t>(j) * Kernel::kLanes, copy);
    }
}

// The first two stages of transposing a kLanes x kLanes block, the same on every instruction
// set because each works within 128-bit blocks of 4 floats: loads window rows 0 .. kLanes - 1
// and leaves in u[4q + e] element 4k + e of rows 4q .. 4q + 3, in 128-bit block k. Where a
// vector is one 128-bit block (NEON) that is the transposed block; wider vectors still have
// to move their 128-bit blocks into place.
template <typename V>
void transposeQuads(const float* window, size_t windowStride, typename V::Floats* u) {
    typename V::Floats a[V::kLanes];
    for (uint32_t l = 0; l < V::kLanes; ++l) {
        a[l] = V::loadUnaligned(window + l * windowStride);
    }
    // t[2p], t[2p + 1]: rows 2p and 2p + 1 interleaved, element by element.
    typename V::Floats t[V::kLanes];
    for (uint32_t p = 0; p < V::kLanes / 2; ++p) {
        V::interleave(a[2 * p], a[2 * p + 1], t[2 * p], t[2 * p + 1]);
    }
    for (uint32_t q = 0; q < V::kLanes / 4; ++q) {
        u[4 * q + 0] = V::template pairs<false>(t[4 * q], t[4 * q + 2]);
        u[4 * q + 1] = V::template pairs<true>(t[4 * q], t[4 * q + 2]);
        u[4 * q + 2] = V::template pairs<false>(t[4 * q + 1], t[4 * q + 3]);
        u[4 * q + 3] = V::template pairs<true>(t[4 * q + 1], t[4 * q + 3]);
    }
}

// A TransposeTile made of one instruction set's lanes x lanes block: Block(window,
// windowStride, tile, tileStride) sets tile[r * tileStride + c] = window[c * windowStride + r]
// for r, c < lanes.
template <uint32_t Lanes, void (*Block)(const float*, size_t, float*, size_t)>
void transposeTile(const float* window, size_t windowStride, uint32_t rows, uint32_t columns,
                   float* tile, size_t tileStride) {
    for (uint32_t c = 0; c < columns; c += Lanes) {
        for (uint32_t r = 0; r < rows; r += Lanes) {
            Block(window + c * windowStride + r, windowStride, tile + r * tileStride + c,
                  tileStride);
        }
    }
}

// The table a kernel file exports. Single is the file's single-precision kernel (a
// FusedKernel, or anything with its kLanes, kGroup and group<Group>), or void where the
// instruction set has none.
template <typename V, typename Single, void (*Block)(const float*, size_t, float*, size_t)>
constexpr SumKernels kernelTable(double singleTermsPerMs, double doubleTermsPerMs) {
    SumKernels table{};
    table.lanes = V::kLanes;
    if constexpr (!std::is_void<Single>::value) {
        static_assert(Single::kLanes == V::kLanes, "one layout per instruction set");
        table.singleFma = &sumTile<Single>;
        table.singleGroup = Single::kGroup;
    } else {
        table.singleFma = nullptr;
        table.singleGroup = 1;
    }
    table.doubleChain = &sumTile<DoubleChain<V>>;
    table.transpose = &transposeTile<V::kLanes, Block>;
    table.copyRows = &copyRows<V>;
    table.singleTermsPerMs = singleTermsPerMs;
    table.doubleTermsPerMs = doubleTermsPerMs;
    return table;
}

} // namespace
