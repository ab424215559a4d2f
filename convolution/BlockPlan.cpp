#include "convolution/BlockPlan.h"

#include <algorithm>

#include "convolution/EngineSupport.h"

namespace {

constexpr double kBlockMilliseconds = 4.0; // aimed work per block: progress every few ms
// Longest block accepted to keep S at kPreferredLaneFrames: progress moves between blocks,
// and a block is at most half the stop budget.
constexpr double kLongestBlockMilliseconds = kStopBudgetMs / 2;
// A piece looks at the stop request on its own after kLookIntervalMs of work: a long block
// on a CPU slower than the kernel's expected rate (or one shared with other programs) could
// take longer than the budget. Longer than a short block, so only long pieces look.
static_assert(kLookIntervalMs > kBlockMilliseconds && kLookIntervalMs < kLongestBlockMilliseconds,
              "only long pieces look on their own, well inside the stop budget");
// Each tile's transposition and row copies cost about (lanes x S + K) / (S x K) of its
// multiply-adds, so S wants to be large: below this it costs a few percent.
constexpr uint64_t kPreferredLaneFrames = 192;
constexpr uint64_t kLargestLaneFrames = 2048; // bounds the sums per worker
// Bounds the block when the impulse is short and every block is quick anyway. The engine's
// buffers are about 30 blocks of floats, and touching them the first time (the system
// zeroing each page) happens before any work starts, on one thread: with 2^17 frames that
// was 9 MiB and 4 to 8 ms, a twentieth of a one-minute recording against a 0.1 s impulse.
// 2^14 frames keep it near 2 MiB, and S still at kPreferredLaneFrames or more.
constexpr uint64_t kLargestBlockFrames = uint64_t{1} << 14;
// Taps per tile: every register block of sums sweeps the tile's rows (S + K of 64 bytes with
// AVX-512, about 130 KiB) from the second-level cache; twice as many measured slower.
constexpr uint32_t kDefaultTileTaps = 2048;
// Columns per panel of the transposed window, at least: each panel row carries `lanes`
// columns of the next panel as well, which costs less the wider the panel.
constexpr uint64_t kPanelColumns = 64;

uint64_t roundUp(uint64_t value, uint64_t step) {
    return (value + step - 1) / step * step;
}

// S and the pieces per block: enough work per piece to make the transposition and the
// hand-over between threads cheap, little enough that a block takes a few milliseconds, so
// progress moves and a stop is seen promptly. With long impulses a block of two pieces per
// worker would take too long at a good S; one piece per worker then keeps S up. Never more
// than the job needs.
void chooseSplit(const BlockPlanInput& in, uint64_t& laneFrames, unsigned& pieces) {
    const double termsPerFrame = static_cast<double>(in.lanes) * in.impulseFrames * in.passes;
    const auto framesFor = [&](unsigned blockPieces, double blockMs) {
        const double piecesPerMs = static_cast<double>(in.workers) / blockPieces;
        const double frames = in.termsPerMs * blockMs * piecesPerMs / termsPerFrame;
        return frames < 1.0 ? uint64_t{1} : static_cast<uint64_t>(frames);
    };
    pieces = in.workers <= 1 ? 1 : in.workers * kPiecesPerWorker;
    if (pieces > in.workers &&
        framesFor(pieces, kLongestBlockMilliseconds) < kPreferredLaneFrames) {
        pieces = in.workers;
    }
    uint64_t frames = framesFor(pieces, kBlockMilliseconds);
    frames = std::max(frames,
                      std::min(kPreferredLaneFrames, framesFor(pieces, kLongestBlockMilliseconds)));
    const uint64_t perLane = static_cast<uint64_t>(pieces) * in.lanes;
    frames = std::min(frames, kLargestLaneFrames);
    frames = std::min(frames, std::max(kPreferredLaneFrames, kLargestBlockFrames / perLane));
    if (frames > in.group) {
        frames -= frames % in.group; // whole register blocks only
    }
    frames = std::min(frames, (in.totalFrames + perLane - 1) / perLane);
    laneFrames = std::max<uint64_t>(frames, 1);
}

} // namespace

BlockPlan planBlocks(const BlockPlanInput& in) {
    BlockPlan plan{};
    uint64_t laneFrames = 0;
    chooseSplit(in, laneFrames, plan.pieces);
    plan.laneFrames = in.laneFrames != 0 ? in.laneFrames : static_cast<uint32_t>(laneFrames);
    uint32_t taps = in.tileTaps;
    if (taps == 0) {
        // As many tiles as kDefaultTileTaps needs, of even length: a short last tile
        // (720 taps after two of 2040 for a 0.1 s impulse) runs its register blocks with
        // more of their fixed start and end per tap. Each a whole number of the kernel's
        // unrolled steps, so only the last tile can end in a short loop.
        const uint32_t longest = kDefaultTileTaps - kDefaultTileTaps % in.group;
        const uint32_t tiles = (in.impulseFrames + longest - 1) / longest;
        const uint32_t even =
            static_cast<uint32_t>(roundUp((in.impulseFrames + tiles - 1) / tiles, in.group));
        taps = std::min(longest, even);
    }
    plan.tileTaps = std::min(taps, in.impulseFrames);
    plan.blockFrames = static_cast<uint64_t>(plan.pieces) * in.lanes * plan.laneFrames;
    plan.tileRows = static_cast<uint32_t>(roundUp(plan.laneFrames, in.lanes));
    // The last piece's last row ends at window sample B + N - 2, in column (B + N - 2) div S.
    const uint64_t n = in.impulseFrames;
    plan.blockColumns = plan.pieces * in.lanes;
    plan.tileColumns = static_cast<uint32_t>(
        roundUp((plan.blockFrames + n - 2) / plan.laneFrames + 1, plan.blockColumns));
    plan.panelColumns = static_cast<uint32_t>(roundUp(kPanelColumns, plan.blockColumns));
    plan.panelStride = plan.panelColumns + in.lanes;
    plan.panelFloats = static_cast<uint64_t>(plan.tileRows) * plan.panelStride;
    // A block's columns, the next block's new ones and those the file task adds meanwhile
    // start anywhere in a panel.
    plan.ringPanels = static_cast<uint32_t>(
        (plan.tileColumns + plan.blockColumns + plan.panelColumns - 1) / plan.panelColumns + 1);
    // A block starts at most panelColumns - B / S columns into its first panel, and its
    // columns (every row a piece copies included) end before tileColumns more.
    plan.mirrorPanels = static_cast<uint32_t>(
        (plan.panelColumns - plan.blockColumns + plan.tileColumns - 1) / plan.panelColumns);
    plan.rowCount = plan.laneFrames + plan.tileTaps - 1;
    // Every tile of a piece is K long, the first one too, although nothing is summed while its
    // rows are copied. A short first tile whose register blocks copy the next tile's rows
    // beside their sums left that copy with no lone part, but on a Xeon with two 512-bit FMA
    // units every later tile of the piece then ran about 6 % slower (the same kernel on the
    // same tiles, alone in a loop: a first tile of 112 to 560 taps before tiles of 1610 made
    // them slower, one of 14, 56 or 672 and more did not; the cause was not found), which is
    // more than the lone copy costs there (0.7 % of a 0.1 s impulse's work on one thread, 1.9 %
    // on two, where the panels come from the other core; copying it beside the last tile of
    // the piece before instead saved no time either).
    plan.rowOffsets =
        static_cast<uint32_t>(uint64_t{plan.panelColumns} * plan.laneFrames + plan.rowCount);
    // A block's columns are whole once the chunk after the block is in (tileColumns x S <=
    // N + 2B), and its new columns are transposed just after the chunk after that came in,
    // while the block before it is still computed: the ring holds that much, and the rows
    // past S the transposition reads but never uses.
    plan.windowRing = n + 4 * plan.blockFrames + plan.tileRows;
    // A transposition of B / S columns from any sample reads (B / S - 1) x S + tileRows.
    plan.windowMirror = std::min(plan.windowRing, plan.blockFrames + plan.tileRows);
    plan.windowCapacity = plan.windowRing + plan.windowMirror;
    plan.lookTerms = static_cast<uint64_t>(std::max(1.0, in.termsPerMs * kLookIntervalMs));
    return plan;
}
