#pragma once

// Random sequential addition through the cell grid and the map of dead
// blocks: the attempts drawn ahead and how each is tested. Attempts are drawn
// ahead so that what they test can be fetched from memory while earlier
// candidates are tested, but only attempts that are sure to follow: the
// draws and their order stay those of the plain loop.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "cell_grid.h"
#include "dead_blocks.h"
#include "fill_spheres.h"
#include "fill_spheres_paths.h"
#include "random_source.h"

// One attempt: its draws, its candidate centre and its cell in each class
// that holds spheres. With the map, the centre is found only for attempts
// that reach the grid.
struct Attempt {
    std::int32_t draws[3];
    double x, y, z;
    std::int64_t own[CellGrid::kClasses];

    void findCentre(double L) {
        x = latticeCoordinate(L, draws[0]);
        y = latticeCoordinate(L, draws[1]);
        z = latticeCoordinate(L, draws[2]);
    }
};

class GridFill {
public:
    // Without the map, the attempts held at most: the current one and those
    // drawn ahead, whose cells are asked for early.
    static constexpr int kRing = 32;
    // With the map, attempts are drawn a batch at a time; a batch's words of
    // the map are asked for when it is drawn and read one batch later, and
    // the attempts are then rejected by the bits read, a run at a time. A
    // bit read early may be stale (a block that died since reads as live):
    // that attempt only goes on to the grid. They are held in a buffer of
    // kHeld places, moved back to its start when its end is reached.
    static constexpr int kBatch = 32;
    static constexpr int kHeld = 8 * kBatch;

    GridFill(CellGrid& grid, GridTest test, OwnCellTest ownTest, const double* xs, const double* ys, const double* zs,
             const double* rs, double L, double s, double radiusBound, RandomSource& random)
        : grid_(grid), test_(test), ownTest_(ownTest),
          query_{&grid, 0, classes_, reach_, nullptr, 0.0, xs, ys, zs, rs, true}, L_(L), s_(s),
          radiusBound_(radiusBound), random_(random), pcg15_(random.pcg15State) {
        for (int c = 0; c < CellGrid::kClasses; ++c)
            if (grid.members(c) > 0) classes_[classCount_++] = c;
        query_.classCount = classCount_;
    }

    // The sphere to place next has radius r. Its reach into each class: no
    // sphere of the class has a larger limit against it than
    // (r + the class's largest radius) + s.
    void setRadius(double r) {
        // A candidate rejected for a radius is rejected for every larger
        // one (its limit rounds no lower): the held attempts' own-cell
        // proofs stay, unless the radius shrinks.
        if (!(r >= r_)) tested_ = 0;
        r_ = r;
        for (int k = 0; k < classCount_; ++k)
            reach_[k] = searchReach((r + grid_.largestRadius(classes_[k])) + s_, std::fabs(L_));
        query_.margin = 0x1p-20 * (((std::fabs(L_) + std::fabs(r)) + radiusBound_) + std::fabs(s_)) + 0x1p-100;
    }

    // The next attempt of sphere i, its `attempt`-th, drawn now or before.
    Attempt& next(std::int32_t i, std::int32_t count, std::int64_t attempt) {
        if (map_) {
            if (scanning()) {
                // The attempt the scan stopped at, or drawn alone.
                if (scan_.held && scan_.used < 16) {
                    scan_.take(current_.draws);
                } else {
                    settleScan();
                    random_.next(current_.draws, 3);
                }
                return current_;
            }
            if (size_ == 0) refillBatch(i, count, attempt);
            const std::int32_t* d = draws_ + 3 * head_;
            current_.draws[0] = d[0], current_.draws[1] = d[1], current_.draws[2] = d[2];
            return current_;
        }
        if (size_ <= kRing / 2) refill(i, count, attempt);
        return ring_[head_];
    }

    // Rejects the attempts that the map rejects, one after another, from
    // the current one (sphere i's `attempt`-th) up to its `last`-th at most,
    // and returns how many; the last of them is kept for centreOfLast.
    std::int64_t skipDead(std::int32_t i, std::int32_t count, std::int64_t attempt, std::int64_t last) {
        std::int64_t n = 0;
        for (;;) {
            if (scanning()) return n + map_->skipDeadDraws(*pcg15_, scan_, last - (attempt + n) + 1, lastDead_.draws);
            if (checked_ == head_) {
                // Where the map scans, the attempts held are used up first,
                // and no more are drawn ahead.
                if (scanPays()) readBits(head_ + size_);
                else refillBatch(i, count, attempt + n);
            }
            if (checked_ == head_) readBits(head_ + size_);  // none in flight: read them now
            const int end = static_cast<int>(std::min<std::int64_t>(checked_, head_ + (last - (attempt + n)) + 1));
            const int live = firstLive(head_, end);
            const int k = live - head_;
            if (k > 0) {
                const std::int32_t* d = draws_ + 3 * (live - 1);  // kept whole: its place is drawn into again
                lastDead_.draws[0] = d[0], lastDead_.draws[1] = d[1], lastDead_.draws[2] = d[2];
                head_ = live, size_ -= k, n += k;
            }
            if (live < end || attempt + n > last) return n;
        }
    }

    // Without the map: rejects the attempts whose own cells prove them
    // rejected, as skipDead does. Each is tested a refill after it was
    // drawn, when its cells have had time to arrive; the proofs stay true
    // as spheres are added.
    std::int64_t skipOwnRejected(std::int32_t i, std::int32_t count, std::int64_t attempt, std::int64_t last) {
        std::int64_t n = 0;
        for (;;) {
            if (size_ <= kRing / 2) {
                testHeld();
                refill(i, count, attempt + n);
            }
            if (!(tested_ >> head_ & 1)) testHeld();
            // The held attempts' proven rejections, the current one in bit 0.
            const std::uint64_t proven = rejected_ & tested_;
            const std::uint64_t fromHead = ((proven >> head_) | (proven << (kRing - head_))) & kRingBits;
            const int run = fromHead == kRingBits ? kRing : lowestBit(~fromHead);
            const int available = static_cast<int>(std::min<std::int64_t>(size_, last - (attempt + n) + 1));
            const int k = std::min(run, available);
            if (k > 0) {
                const Attempt& a = ring_[(head_ + k - 1) % kRing];
                lastDead_.draws[0] = a.draws[0], lastDead_.draws[1] = a.draws[1], lastDead_.draws[2] = a.draws[2];
                head_ = (head_ + k) % kRing, size_ -= k, n += k;
            }
            if (k < available || attempt + n > last) return n;
        }
    }

    // The last attempt skipDead or skipOwnRejected rejected, with its centre.
    const Attempt& centreOfLast() {
        lastDead_.findCentre(L_);
        return lastDead_;
    }

    // Whether an earlier sphere rejects the current attempt, as the grid
    // finds it; done with it. Its centre is found by then.
    bool rejects(Attempt& current, double r) {
        if (!(map_ && scanning())) pop();  // else drawn alone
        if (map_) {
            current.findCentre(L_);
            for (int k = 0; k < classCount_; ++k) own_[k] = grid_.cellOf(classes_[k], current.x, current.y, current.z);
            query_.own = own_;
        } else {
            query_.own = current.own;
        }
        return test_(query_, current.x, current.y, current.z, r, s_);
    }

    // From now on, candidates in the map's dead blocks are rejected by it.
    // The attempts drawn ahead keep their places, as draws.
    void useMap(const DeadBlocks* map) {
        for (int k = 0; k < size_; ++k) {
            const Attempt& a = ring_[(head_ + k) % kRing];
            draws_[3 * k] = a.draws[0], draws_[3 * k + 1] = a.draws[1], draws_[3 * k + 2] = a.draws[2];
        }
        map_ = map;
        query_.ownFetched = false;
        head_ = checked_ = 0;
        map_->blocksOf(draws_, size_, blocks_);
    }

    // The attempt numbered `last` of the current sphere, whose next attempt
    // is numbered `attempt`, when every attempt up to it is sure to be
    // rejected: the draws of those in between are skipped, as drawing them
    // would.
    const Attempt& skipTo(std::int64_t attempt, std::int64_t last) {
        Attempt& a = map_ ? current_ : ring_[0];
        if (scan_.held) {
            // The attempts the scan holds come first, as the generator's
            // next draws.
            for (; attempt < last && scan_.used < 16; ++attempt) ++scan_.used;
            if (attempt == last && scan_.used < 16) {
                scan_.take(a.draws);
                a.findCentre(L_);
                return a;
            }
            settleScan();
        }
        if (last < attempt + size_) {
            for (; attempt < last; ++attempt) pop();
            if (!map_) {
                ring_[head_].findCentre(L_);
                return ring_[head_];
            }
            const std::int32_t* d = draws_ + 3 * head_;
            a.draws[0] = d[0], a.draws[1] = d[1], a.draws[2] = d[2];
        } else {
            random_.skip(3 * std::uint64_t(last - (attempt + size_)));
            head_ = size_ = checked_ = 0;
            random_.next(a.draws, 3);
            if (!map_) size_ = 1;
        }
        a.findCentre(L_);
        return a;
    }

    // The generator is left where the attempts taken leave it.
    ~GridFill() { settleScan(); }
    GridFill(const GridFill&) = delete;
    GridFill& operator=(const GridFill&) = delete;

private:
    // Leaves the generator's state after the attempts taken, with no
    // attempts held by the scan: before anything else draws from it.
    void settleScan() {
        if (!scan_.held) return;
        *pcg15_ = scan_.stateBefore(scan_.used);
        scan_.held = false;
    }

    // With the map, where the source is the plug-in's generator and nearly
    // every block is dead: the map scans the generator's draws itself once
    // nothing is held (scanning), and the attempt it stops at is taken from
    // the sixteen it holds, the next scan going on after it.
    bool scanPays() const { return pcg15_ && map_->scansDraws() && map_->scanPays(); }
    bool scanning() const { return size_ == 0 && scanPays(); }

    void pop() {
        if (map_) {
            ++head_, --size_;
            checked_ = std::max(checked_, head_);
        } else {
            head_ = (head_ + 1) % kRing, --size_;
        }
    }

    // The most attempts after the current one (numbered `attempt`, of sphere
    // i) that are sure to follow, up to `ahead`. The attempt k places after
    // the current one surely follows while no sphere up to the last can be
    // accepted and none reaches the cap before it: each attempt moves on by
    // at most one sphere. So the positions up to
    // min(ahead, count - 1 - i, cap - attempt) are sure.
    static std::int64_t sureAhead(int ahead, std::int32_t i, std::int32_t count, std::int64_t attempt) {
        return std::min<std::int64_t>({ahead, std::int64_t(count) - 1 - i, kMaxAttemptsPerSphere - attempt});
    }

    // Without the map: draws the attempts that are sure to follow, in one
    // call of the source, up to a full ring (the current one in any case),
    // and asks for their own cells.
    void refill(std::int32_t i, std::int32_t count, std::int64_t attempt) {
        const int n = static_cast<int>(sureAhead(kRing - 1, i, count, attempt) - size_ + 1);
        if (n <= 0) return;
        std::int32_t d[3 * kRing];
        random_.next(d, 3 * n);
        for (int k = 0; k < n; ++k) {
            tested_ &= ~(std::uint64_t(1) << (head_ + size_) % kRing);
            Attempt& a = ring_[(head_ + size_++) % kRing];
            a.draws[0] = d[3 * k], a.draws[1] = d[3 * k + 1], a.draws[2] = d[3 * k + 2];
            a.findCentre(L_);
            for (int c = 0; c < classCount_; ++c) a.own[c] = grid_.prefetchCell(classes_[c], a.x, a.y, a.z);
        }
    }

    // Tests the held attempts not yet tested against their own cells.
    void testHeld() {
        for (int k = 0; k < size_; ++k) {
            const int slot = (head_ + k) % kRing;
            if (tested_ >> slot & 1) continue;
            const Attempt& a = ring_[slot];
            query_.own = a.own;
            const bool rejected = ownTest_(query_, a.x, a.y, a.z, r_, s_);
            rejected_ = (rejected_ & ~(std::uint64_t(1) << slot)) | std::uint64_t(rejected) << slot;
            tested_ |= std::uint64_t(1) << slot;
        }
    }

    // With the map: reads the bits of the batch in flight, then draws the
    // next batch of those sure to follow (the current one in any case) and
    // asks for its words of the map.
    void refillBatch(std::int32_t i, std::int32_t count, std::int64_t attempt) {
        settleScan();
        readBits(head_ + size_);
        const int n = static_cast<int>(std::min<std::int64_t>(kBatch, sureAhead(2 * kBatch - 1, i, count, attempt) - size_ + 1));
        if (n <= 0) return;
        if (head_ + size_ + n > kHeld) {
            // Back to the start: the few held move, their bits with them.
            std::copy(draws_ + 3 * head_, draws_ + 3 * (head_ + size_), draws_);
            std::copy(blocks_ + head_, blocks_ + head_ + size_, blocks_);
            for (int p = 0; p < size_; ++p) setDead(p, isDead(head_ + p));
            checked_ -= head_, head_ = 0;
        }
        const int at = head_ + size_;
        random_.next(draws_ + 3 * at, 3 * n);
        map_->blocksOf(draws_ + 3 * at, n, blocks_ + at);
        size_ += n;
    }

    // Reads the map's bits for the held attempts up to place `end`, a word
    // of places at a time.
    void readBits(int end) {
        while (checked_ < end) {
            const int shift = checked_ & 63, n = std::min(end - checked_, 64 - shift);
            const std::uint64_t places = (n == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << n) - 1) << shift;
            std::uint64_t& word = dead_[checked_ >> 6];
            word = (word & ~places) | map_->deadMask(blocks_ + checked_, n) << shift;
            checked_ += n;
        }
    }

    static int lowestBit(std::uint64_t w) {
#if defined(__GNUC__)
        return __builtin_ctzll(w);
#else
        int k = 0;
        for (; !(w & 1); w >>= 1) ++k;
        return k;
#endif
    }
    bool isDead(int p) const { return (dead_[p >> 6] >> (p & 63)) & 1; }
    void setDead(int p, bool dead) {
        const std::uint64_t bit = std::uint64_t(1) << (p & 63);
        dead_[p >> 6] = dead ? dead_[p >> 6] | bit : dead_[p >> 6] & ~bit;
    }
    // The first place from `from` on, before `end`, whose bit reads live;
    // `end` if none.
    int firstLive(int from, int end) const {
        for (int p = from; p < end;) {
            const std::uint64_t live = ~dead_[p >> 6] >> (p & 63);
            if (live) return std::min(end, p + lowestBit(live));
            p = (p | 63) + 1;
        }
        return end;
    }

    CellGrid& grid_;
    GridTest test_;
    OwnCellTest ownTest_;
    GridCandidate query_;
    double L_, s_, radiusBound_;
    RandomSource& random_;
    std::uint64_t* pcg15_;
    const DeadBlocks* map_ = nullptr;
    int classes_[CellGrid::kClasses] = {};
    int classCount_ = 0;
    double reach_[CellGrid::kClasses] = {};
    std::int64_t own_[CellGrid::kClasses] = {};
    // Without the map: a ring of attempts from head_, size_ of them.
    Attempt ring_[kRing];
    int head_ = 0, size_ = 0;
    // By ring place: whether the attempt there was tested against its own
    // cells for a radius up to r_, and whether they proved it rejected.
    static_assert(kRing < 64, "a bit a place");
    static constexpr std::uint64_t kRingBits = (std::uint64_t(1) << kRing) - 1;
    std::uint64_t tested_ = 0, rejected_ = 0;
    double r_ = 0;
    // With the map: the attempts held at places head_ .. head_ + size_ - 1,
    // as draws and blocks; those before checked_ have their bits read.
    std::int32_t draws_[3 * kHeld];
    std::uint64_t blocks_[kHeld];
    std::uint64_t dead_[kHeld / 64] = {};
    int checked_ = 0;
    Attempt current_{}, lastDead_{};
    DeadBlocks::DrawScan scan_;
};
