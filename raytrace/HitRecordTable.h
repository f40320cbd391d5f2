// Per render thread, the records in which a primitive keeps each hit's point (still frames) or
// normal (moving frames) and colour under the tag of the ray that made it. Each thread writes and
// reads only its own table, so no lock is needed.
#pragma once

#include <cstdint>

namespace velquin {

struct HitRecord {
    std::int32_t key = 0; // tag of the ray that made the hit; 0 marks an empty entry
    float data[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f}; // point or normal, then colour
};

// What one thread's marches did, for the renderer's statistics: field samples (march and
// refinement), metaball distances computed by those samples, and those within reach, which
// cost a kernel evaluation. Only the owning thread writes them.
// Samples that bounds proved unable to cross are passed without a value (skipped); a leaf a
// march reaches for the first time on a ray is a leaf visit, and the metaballs of it that the ray
// passes within reach of are its candidates.
struct TraceCounters {
    std::int64_t samples = 0;
    std::int64_t distanceTests = 0;
    std::int64_t contributing = 0;
    std::int64_t skipped = 0;
    std::int64_t leafVisits = 0;
    std::int64_t candidates = 0;

    void add(const TraceCounters& o) {
        samples += o.samples;
        distanceTests += o.distanceTests;
        contributing += o.contributing;
        skipped += o.skipped;
        leafVisits += o.leafVisits;
        candidates += o.candidates;
    }
};

// Aligned to a cache line: rows of different threads, counters included, never share one.
class alignas(64) HitRecordTable {
public:
    TraceCounters counters; // this thread's, since the frame compile
    static constexpr std::int32_t kGrowthStep = 30;

    HitRecordTable() = default;
    HitRecordTable(const HitRecordTable&) = delete;
    HitRecordTable& operator=(const HitRecordTable&) = delete;
    ~HitRecordTable() { delete[] entries_; }

    std::int32_t count() const { return count_; }
    std::int32_t capacity() const { return capacity_; }
    const HitRecord* entries() const { return entries_; }

    // Grows to n entries. Beyond the capacity the storage becomes the next multiple of the
    // growth step above n (a full step more when n is a multiple), entries are copied over.
    // Every new entry gets key 0. Returns false when memory runs out (the table is unchanged).
    bool extend(std::int32_t n);
    // Marks every entry stale (key 0), zeroes the counters and keeps the storage: done at every
    // frame compile.
    void reset();

    HitRecord& at(std::int32_t i) { return entries_[i]; }
    const HitRecord& at(std::int32_t i) const { return entries_[i]; }

private:
    std::int32_t count_ = 0;
    std::int32_t capacity_ = 0;
    HitRecord* entries_ = nullptr;
};

// Writes one record into the row of the given thread at slot. Nothing is stored without tables,
// for a thread outside the rows, or a negative slot.
void storeHitRecord(HitRecordTable* const* tables, std::int32_t tableCount, std::int32_t thread,
                    std::int32_t slot, std::int32_t tag, const float data[6]);

// The counters of a thread's row, or null for a thread outside the rows.
inline TraceCounters* countersOf(HitRecordTable* const* tables, std::int32_t tableCount,
                                 std::int32_t thread) {
    if (tables == nullptr || thread < 0 || thread >= tableCount || tables[thread] == nullptr) {
        return nullptr;
    }
    return &tables[thread]->counters;
}

// The record of the ray (thread, slot, tag), or null when it is missing or stale.
const HitRecord* findHitRecord(const HitRecordTable* const* tables, std::int32_t tableCount,
                               std::int32_t thread, std::int32_t slot, std::int32_t tag);

} // namespace velquin
