#include "raytrace/HitRecordTable.h"

#include <new>

namespace velquin {

bool HitRecordTable::extend(std::int32_t n) {
    if (n <= count_) {
        return true;
    }
    if (n > capacity_) {
        const std::int32_t newCapacity = n + kGrowthStep - (n % kGrowthStep);
        HitRecord* grown = new (std::nothrow) HitRecord[newCapacity];
        if (grown == nullptr) {
            return false;
        }
        for (std::int32_t i = 0; i < count_; ++i) {
            grown[i] = entries_[i];
        }
        delete[] entries_;
        entries_ = grown;
        capacity_ = newCapacity;
    }
    for (std::int32_t i = count_; i < n; ++i) {
        entries_[i].key = 0;
    }
    count_ = n;
    return true;
}

void HitRecordTable::reset() {
    for (std::int32_t i = 0; i < count_; ++i) {
        entries_[i].key = 0;
    }
    counters = TraceCounters();
}

void storeHitRecord(HitRecordTable* const* tables, std::int32_t tableCount, std::int32_t thread,
                    std::int32_t slot, std::int32_t tag, const float data[6]) {
    if (tables == nullptr || thread < 0 || thread >= tableCount || tables[thread] == nullptr ||
        slot < 0) {
        return;
    }
    HitRecordTable& row = *tables[thread];
    // A slot at the very top of the range cannot grow the row; such a hit keeps no record.
    if (slot >= row.count() && (slot == INT32_MAX || !row.extend(slot + 1))) {
        return;
    }
    HitRecord& record = row.at(slot);
    record.key = tag;
    for (int i = 0; i < 6; ++i) {
        record.data[i] = data[i];
    }
}

const HitRecord* findHitRecord(const HitRecordTable* const* tables, std::int32_t tableCount,
                               std::int32_t thread, std::int32_t slot, std::int32_t tag) {
    if (tables == nullptr || thread < 0 || thread >= tableCount || tables[thread] == nullptr ||
        slot < 0) {
        return nullptr;
    }
    const HitRecordTable& row = *tables[thread];
    if (slot >= row.count() || row.at(slot).key != tag) {
        return nullptr;
    }
    return &row.at(slot);
}

} // namespace velquin
