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

// One attempt: its draws, and its block of the map or (without the map) its
// candidate centre and its cell in each class that holds spheres. With the
// map, the centre is found only for attempts that reach the grid.
struct Attempt {
    std::int32_t draws[3];
    double x, y, z;
    std::uint64_t block;
    std::int64_t own[CellGrid::kClasses];

    void findCentre(double L) {
        x = latticeCoordinate(L, draws[0]);
        y = latticeCoordinate(L, draws[1]);
        z = latticeCoordinate(L, draws[2]);
    }
};

class GridFill {
public:
    // Attempts held at most: the current one and those drawn ahead. With the
    // grid alone, kGridAhead of them are held (their cells are fetched
    // early); with the map, whose bits cost little to test and much to
    // fetch, the whole ring.
    static constexpr int kRing = 64;
    static constexpr int kGridAhead = 16;

    GridFill(CellGrid& grid, GridTest test, const double* xs, const double* ys, const double* zs, const double* rs,
             double L, double s, double radiusBound, RandomSource& random)
        : grid_(grid), test_(test), query_{&grid, 0, classes_, reach_, nullptr, 0.0, xs, ys, zs, rs}, L_(L), s_(s),
          radiusBound_(radiusBound), random_(random) {
        for (int c = 0; c < CellGrid::kClasses; ++c)
            if (grid.members(c) > 0) classes_[classCount_++] = c;
        query_.classCount = classCount_;
    }

    // The sphere to place next has radius r. Its reach into each class: no
    // sphere of the class has a larger limit against it than
    // (r + the class's largest radius) + s.
    void setRadius(double r) {
        for (int k = 0; k < classCount_; ++k)
            reach_[k] = searchReach((r + grid_.largestRadius(classes_[k])) + s_, std::fabs(L_));
        query_.margin = 0x1p-20 * (((std::fabs(L_) + std::fabs(r)) + radiusBound_) + std::fabs(s_)) + 0x1p-100;
    }

    // The next attempt of sphere i, its `attempt`-th, drawn now or before.
    Attempt& next(std::int32_t i, std::int32_t count, std::int64_t attempt) {
        if (size_ <= ahead_ / 2) refill(i, count, attempt);
        return ring_[head_];
    }

    // Rejects the attempts that the map rejects, one after another, from
    // the current one (sphere i's `attempt`-th) up to its `last`-th at most,
    // and returns how many; the last of them is kept for centreOfLast.
    std::int64_t skipDead(std::int32_t i, std::int32_t count, std::int64_t attempt, std::int64_t last) {
        std::int64_t n = 0;
        for (;;) {
            if (size_ <= ahead_ / 2) refill(i, count, attempt + n);
            const int held = static_cast<int>(std::min<std::int64_t>(size_, last - (attempt + n) + 1));
            int k = 0;
            while (k < held && map_->dead(ring_[(head_ + k) & kMask].block)) ++k;
            if (k > 0) {
                // The last of them, kept whole: its slot is drawn into again.
                const Attempt& a = ring_[(head_ + k - 1) & kMask];
                lastDead_.draws[0] = a.draws[0], lastDead_.draws[1] = a.draws[1], lastDead_.draws[2] = a.draws[2];
                head_ = (head_ + k) & kMask, size_ -= k, n += k;
            }
            if (k < held || k == 0) return n;
        }
    }

    // The last attempt skipDead rejected, with its centre.
    const Attempt& centreOfLast() {
        lastDead_.findCentre(L_);
        return lastDead_;
    }

    // Whether an earlier sphere rejects the current attempt, as the grid
    // finds it; done with it. Its centre is found by then.
    bool rejects(Attempt& current, double r) {
        pop();
        if (map_) {
            current.findCentre(L_);
            for (int k = 0; k < classCount_; ++k) own_[k] = grid_.cellOf(classes_[k], current.x, current.y, current.z);
            query_.own = own_;
        } else {
            query_.own = current.own;
        }
        return test_(query_, current.x, current.y, current.z, r, s_);
    }

    // From now on, candidates in the map's dead blocks are rejected by it
    // (the attempts drawn ahead already have their centres).
    void useMap(const DeadBlocks* map) {
        map_ = map;
        ahead_ = kRing;
        for (int k = 0; k < size_; ++k) {
            Attempt& a = ring_[(head_ + k) & kMask];
            a.block = map_->blockOf(a.draws[0], a.draws[1], a.draws[2]);
        }
    }

    // The attempt numbered `last` of the current sphere, whose next attempt
    // is numbered `attempt`, when every attempt up to it is sure to be
    // rejected: the draws of those in between are skipped, as drawing them
    // would.
    const Attempt& skipTo(std::int64_t attempt, std::int64_t last) {
        if (last < attempt + size_) {
            for (; attempt < last; ++attempt) pop();
            ring_[head_].findCentre(L_);
            return ring_[head_];
        }
        random_.skip(3 * std::uint64_t(last - (attempt + size_)));
        head_ = size_ = 0;
        std::int32_t d[3];
        random_.next(d, 3);
        Attempt& a = append();
        take(a, d);
        a.findCentre(L_);
        return a;
    }

private:
    static constexpr int kMask = kRing - 1;
    static_assert((kRing & kMask) == 0, "the ring wraps by a mask");
    Attempt& append() { return ring_[(head_ + size_++) & kMask]; }
    void pop() { head_ = (head_ + 1) & kMask, --size_; }

    // Draws the attempts that are sure to follow the current one (numbered
    // `attempt`, of sphere i), in one call of the source, up to a full ring.
    // The attempt k places after the current one surely follows while no
    // sphere up to the last can be accepted and none reaches the cap before
    // it: each attempt moves on by at most one sphere. So the positions up to
    // min(ahead - 1, count - 1 - i, cap - attempt) are sure; the current one
    // is drawn in any case.
    void refill(std::int32_t i, std::int32_t count, std::int64_t attempt) {
        const std::int64_t top = std::min<std::int64_t>(
            {ahead_ - 1, std::int64_t(count) - 1 - i, kMaxAttemptsPerSphere - attempt});
        const int n = static_cast<int>(top - size_ + 1);
        if (n <= 0) return;
        std::int32_t d[3 * kRing];
        random_.next(d, 3 * n);
        for (int k = 0; k < n; ++k) take(append(), d + 3 * k);
    }

    // An attempt from its three draws; asks early for what its test will
    // read: its word of the map, or without the map its own cells.
    void take(Attempt& a, const std::int32_t* d) {
        const std::int32_t da = d[0], db = d[1], dc = d[2];
        a.draws[0] = da, a.draws[1] = db, a.draws[2] = dc;
        if (map_) {
            a.block = map_->blockOf(da, db, dc);
            map_->prefetch(a.block);
        } else {
            a.findCentre(L_);
            for (int k = 0; k < classCount_; ++k) a.own[k] = grid_.prefetchCell(classes_[k], a.x, a.y, a.z);
        }
    }

    CellGrid& grid_;
    GridTest test_;
    GridCandidate query_;
    double L_, s_, radiusBound_;
    RandomSource& random_;
    const DeadBlocks* map_ = nullptr;
    int classes_[CellGrid::kClasses] = {};
    int classCount_ = 0;
    double reach_[CellGrid::kClasses] = {};
    std::int64_t own_[CellGrid::kClasses] = {};
    Attempt ring_[kRing];
    int head_ = 0, size_ = 0, ahead_ = kGridAhead;
    Attempt lastDead_{};
};
