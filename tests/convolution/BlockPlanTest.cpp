// The fast engine's block plan, without any file: for shapes from the shortest impulse to
// the longest, every rule the driver relies on holds.
#include <gtest/gtest.h>

#include <algorithm>

#include "convolution/BlockPlan.h"

namespace {

struct Shape {
    uint32_t lanes;
    uint32_t group;
    double termsPerMs;
    uint32_t impulseFrames;
    uint32_t passes;
    unsigned workers;
    uint64_t totalFrames;
};

// The instruction sets' layouts (AVX-512 fused, AVX2 fused, NEON fused, portable double
// chain) against impulses from 1 frame to 2^22, jobs from 1 frame to 2^31.
std::vector<Shape> shapes() {
    struct Kernel {
        uint32_t lanes;
        uint32_t group;
        double termsPerMs;
    };
    const Kernel kernels[] = {{16, 14, 8.0e7}, {8, 12, 4.0e7}, {4, 12, 2.0e7}, {8, 1, 3.0e6}};
    std::vector<Shape> out;
    for (const Kernel& k : kernels) {
        for (uint32_t n : {1u, 13u, 1000u, 24000u, 96000u, 384000u, 1u << 22}) {
            for (unsigned workers : {1u, 2u, 3u, 8u}) {
                for (uint64_t total :
                     {uint64_t{1}, uint64_t{5000}, uint64_t{1440000} + n, uint64_t{0x7FFFFFFF}}) {
                    if (total < n) {
                        continue;
                    }
                    for (uint32_t passes : {1u, 2u}) {
                        out.push_back({k.lanes, k.group, k.termsPerMs, n, passes, workers, total});
                    }
                }
            }
        }
    }
    return out;
}

BlockPlan planFor(const Shape& s, uint32_t laneFrames = 0, uint32_t tileTaps = 0) {
    return planBlocks(BlockPlanInput{s.lanes, s.group, s.termsPerMs, s.impulseFrames, s.passes,
                                     s.workers, s.totalFrames, laneFrames, tileTaps});
}

// Whether a block's columns are whole once the chunk after it is in (so each column is
// transposed once, when it is new); a transposition (tileRows rows of stride S for each
// column, rounded up to whole lanes) reads inside the input ring, which also holds the three
// chunks after the block, and from any start it stays inside the copy of the ring's start
// after its end; the ring of panels holds a block's columns and the ones the next two blocks
// add, wherever they start in a panel, and the copies after it of its first panels hold
// every panel a block runs into past the last one; every row a piece copies lies inside the
// block's columns (the last piece's last row, for its taps from N - 1 on, is window sample
// (pieces - 1) x lanes x S + N + S - 2, and starts `lanes` columns before its last one); and
// the offsets table covers a tile starting anywhere in a panel.
bool readsStayInside(const Shape& s, const BlockPlan& plan) {
    const uint64_t blockColumns = plan.blockFrames / plan.laneFrames;
    if (plan.blockColumns != blockColumns || blockColumns * plan.laneFrames != plan.blockFrames) {
        return false;
    }
    const uint64_t furthestRead =
        (uint64_t{plan.tileColumns} - 1) * plan.laneFrames + plan.tileRows - 1;
    const uint64_t lastRow = (plan.blockFrames - uint64_t{s.lanes} * plan.laneFrames) +
                             s.impulseFrames + plan.laneFrames - 2;
    const uint64_t lastColumn = lastRow / plan.laneFrames + s.lanes - 1;
    const uint64_t transposedFromAnyStart = (blockColumns - 1) * plan.laneFrames + plan.tileRows;
    // Panels past a block's first that its columns reach, from the furthest a block can
    // start into its first panel.
    const uint64_t panelsPastTheFirst =
        (plan.panelColumns - blockColumns + plan.tileColumns - 1) / plan.panelColumns;
    const uint64_t livePanels =
        (plan.panelColumns - blockColumns + plan.tileColumns + 2 * blockColumns - 1) /
            plan.panelColumns +
        1;
    return uint64_t{plan.tileColumns} * plan.laneFrames <= s.impulseFrames + 2 * plan.blockFrames &&
           furthestRead < plan.windowRing &&
           plan.windowRing >= s.impulseFrames + 4 * plan.blockFrames &&
           transposedFromAnyStart <= plan.windowMirror && plan.windowMirror <= plan.windowRing &&
           plan.windowCapacity == plan.windowRing + plan.windowMirror &&
           panelsPastTheFirst <= plan.mirrorPanels && plan.mirrorPanels <= plan.ringPanels &&
           lastColumn < plan.tileColumns && plan.tileColumns % blockColumns == 0 &&
           plan.panelColumns % blockColumns == 0 &&
           plan.rowOffsets == uint64_t{plan.panelColumns} * plan.laneFrames + plan.rowCount &&
           livePanels <= plan.ringPanels && plan.panelStride == plan.panelColumns + s.lanes &&
           plan.panelFloats == uint64_t{plan.tileRows} * plan.panelStride;
}

std::string describe(const Shape& s) {
    return "lanes " + std::to_string(s.lanes) + " group " + std::to_string(s.group) + " N " +
           std::to_string(s.impulseFrames) + " passes " + std::to_string(s.passes) + " workers " +
           std::to_string(s.workers) + " total " + std::to_string(s.totalFrames);
}

TEST(BlockPlan, HoldsItsRulesForEveryShape) {
    for (const Shape& s : shapes()) {
        const BlockPlan plan = planFor(s);
        const std::string what = describe(s);
        ASSERT_GE(plan.laneFrames, 1u) << what;
        ASSERT_LE(plan.laneFrames, 2048u) << what;
        ASSERT_TRUE(plan.pieces == s.workers || plan.pieces == s.workers * kPiecesPerWorker)
            << what;
        ASSERT_EQ(plan.blockFrames, uint64_t{plan.pieces} * s.lanes * plan.laneFrames) << what;
        // Short impulses keep blocks small (their buffers are touched before the work starts),
        // but never at the cost of short lanes.
        ASSERT_LE(plan.blockFrames,
                  std::max<uint64_t>(uint64_t{1} << 14, uint64_t{plan.pieces} * s.lanes * 192))
            << what;
        // Tiles of even length: each no longer than an even share of the taps rounded up to
        // whole register blocks, so the last one is not left much shorter than the others.
        const uint64_t tiles = (s.impulseFrames + plan.tileTaps - 1) / plan.tileTaps;
        ASSERT_LE(uint64_t{plan.tileTaps} * tiles, s.impulseFrames + tiles * s.group) << what;
        // Whole register blocks, unless the job itself is shorter than one.
        const uint64_t jobLaneFrames =
            (s.totalFrames + plan.pieces * s.lanes - 1) / (uint64_t{plan.pieces} * s.lanes);
        if (plan.laneFrames > s.group && plan.laneFrames != jobLaneFrames) {
            ASSERT_EQ(plan.laneFrames % s.group, 0u) << what;
        }
        ASSERT_GE(plan.tileTaps, 1u) << what;
        ASSERT_LE(plan.tileTaps, s.impulseFrames) << what;
        ASSERT_EQ(plan.tileRows % s.lanes, 0u) << what;
        ASSERT_GE(plan.tileRows, plan.laneFrames) << what;
        ASSERT_EQ(plan.tileColumns % s.lanes, 0u) << what;
        ASSERT_EQ(plan.rowCount, plan.laneFrames + plan.tileTaps - 1) << what;
        ASSERT_TRUE(readsStayInside(s, plan)) << what;
        // A block stays short enough for a prompt stop wherever S need not go below 1.
        const double blockMs = static_cast<double>(plan.pieces) / s.workers * s.lanes *
                               plan.laneFrames * s.impulseFrames * s.passes / s.termsPerMs;
        if (plan.laneFrames > 1) {
            ASSERT_LE(blockMs, 25.0) << what;
        }
    }
}

TEST(BlockPlan, TakesForcedSizesAsTheyAre) {
    const Shape s{16, 14, 8.0e7, 500, 2, 3, 100000};
    const BlockPlan plan = planFor(s, 7, 13);
    EXPECT_EQ(plan.laneFrames, 7u);
    EXPECT_EQ(plan.tileTaps, 13u);
    EXPECT_EQ(plan.tileRows, 16u);
    EXPECT_EQ(plan.rowCount, 19u);
    EXPECT_TRUE(readsStayInside(s, plan));
    // A forced tile longer than the impulse is cut to it.
    EXPECT_EQ(planFor(s, 7, 4000).tileTaps, 500u);
    // The small sizes the differential tests force: the transpositions' reads, rounded up to
    // whole lanes in both directions, still land inside the buffer.
    for (uint32_t lanes : {4u, 8u, 16u}) {
        for (uint32_t n = 1; n <= 70; n += 3) {
            for (uint32_t laneFrames = 1; laneFrames <= 30; ++laneFrames) {
                for (uint32_t tileTaps = 1; tileTaps <= 30; tileTaps += 2) {
                    const Shape small{lanes, 1, 3.0e6, n, 1, 1, 10000};
                    const BlockPlan forced = planFor(small, laneFrames, tileTaps);
                    ASSERT_TRUE(readsStayInside(small, forced))
                        << describe(small) << " S " << laneFrames << " K " << tileTaps;
                }
            }
        }
    }
}

TEST(BlockPlan, CutsTheCabinetCaseIntoSmallBlocksAndEvenTiles) {
    // A 0.1 s impulse at 48 kHz, AVX2, two workers, mono: tiles of 1608 taps (not 2040 +
    // 2040 + 720), blocks of 4 pieces of 8 x 504 frames.
    const BlockPlan plan = planFor(Shape{8, 12, 4.0e7, 4800, 1, 2, 2880000 + 4800});
    EXPECT_EQ(plan.tileTaps, 1608u);
    EXPECT_EQ(plan.laneFrames, 504u);
    EXPECT_EQ(plan.blockFrames, 16128u);
    // Eight workers with AVX-512 would make S 128 within 2^14 frames: it stays at 192 or so.
    EXPECT_GE(planFor(Shape{16, 14, 8.0e7, 4800, 2, 8, 2880000 + 4800}).laneFrames, 182u);
}

TEST(BlockPlan, KeepsLanesLongForLongImpulses) {
    // With two workers and a 2 s stereo impulse, a block of two pieces per worker at the
    // preferred length would take too long: one piece each keeps the lanes long instead.
    const Shape s{16, 14, 8.0e7, 96000, 2, 2, 1536000};
    const BlockPlan plan = planFor(s);
    EXPECT_GE(plan.laneFrames, 182u);
    const Shape veryLong{16, 14, 8.0e7, 384000, 2, 2, 864000};
    EXPECT_EQ(planFor(veryLong).pieces, 2u);
}

} // namespace
