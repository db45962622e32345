#pragma once
// The connected instrument as the polling thread last read it: the four status records with
// their Field valid flags, the model code, outlier counts, the time of the last poll, firmware
// revisions and the unit's time text.
//
// The polling thread writes through Update(); every other reader takes a Snapshot(). The model
// code and the Online flag are atomics of their own because they are read on every exchange.
// Each completed poll is also posted as a copy (PostRecord), and whoever records it takes that
// copy (TakeRecord): a reader that gets to the notification late, after the next poll has
// already changed the state, still records each poll with its own values, once.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "core/base/Guarded.h"
#include "core/base/ModelCodes.h"

namespace corvane3 {

inline constexpr std::size_t kD1FieldCount = 41;
inline constexpr std::size_t kD2FieldCount = 19;

// Servo and supply readings. Members follow the record's row order; valid[i] is row i's flag.
struct D1Record {
    std::uint32_t serialNumber = 0;
    std::uint32_t days = 0, hours = 0, minutes = 0, seconds = 0;
    std::uint32_t modeNumber = 0;
    std::string modeText;     // three characters
    std::uint32_t state = 0;  // 0 operating, 1 warming up, 10 minor fault, 11 major fault
    std::uint32_t alarm1 = 0, alarm2 = 0, alarm3 = 0, alarm4 = 0, alarm5 = 0;  // fault bytes
    std::int32_t c = 0;
    std::int32_t freqTune = 0;  // parts in 10^15
    float pos21V = 0, ocxoTau = 0;
    std::int32_t cRamErr = 0, cRabErr = 0, zRamErr = 0, zRabErr = 0, vvcxo = 0, cLevel = 0,
                 vcField = 0, zLevel = 0, dcLevel = 0;
    float numGain = 0;
    std::int32_t la = 0, vuWave = 0;
    float pos5V = 0, tChassis = 0, pos15V = 0, neg15V = 0;
    char oscState = 0;  // 'c' or 'f'
    float vCsOven = 0, vms = 0, vion = 0, icField = 0, vem = 0;
    std::int32_t iip = 0, stdDev = 0;
    std::array<bool, kD1FieldCount> valid{};
};

// Identity and nominal values.
struct D2Record {
    std::uint32_t serialNumber = 0;
    std::uint32_t days = 0, hours = 0, minutes = 0, seconds = 0;
    float nomVms = 0, nomVion = 0;
    float dacGain = 0;
    std::int32_t offsetMinus15 = 0, offsetPlus15 = 0, offsetPlus45 = 0, offsetPlus75 = 0;
    std::int32_t pi = 0;
    std::int32_t nomZRabi = 0;
    float ddsFrequencyMHz = 0;
    std::string sweepCapability;  // two characters; "US" when the unit sweeps by itself
    std::string text;             // ten characters
    std::int32_t modelCode = kModelBeforeIdentification;
    float value18 = 0;
    std::array<bool, kD2FieldCount> valid{};  // rows 0 to 14 and 18 are judged
};

// Non-volatile memory. Fields are numbered as the unit sends them; after field 13 the unit's
// own storage keeps field 16 first, then 14 and 15, and so does this record.
struct D5Record {
    long field1 = 0;
    int yearOfManufacture = 0;  // field 2
    int manufactureDateA = 0;   // field 3, in the order the unit sends it
    int manufactureDateB = 0;   // field 4
    long powerOnHours = 0;      // field 5
    long field6 = 0;
    std::array<int, 6> fields7to12{};
    long field13 = 0;
    int field16 = 0, field14 = 0, field15 = 0;
    float field17 = 0, field18 = 0;
    std::string field19;
    int field20 = 0;
    int restartFaultLevel = 0;  // field 21: non-zero when "Unit Restart" is critical
    std::array<unsigned, 5> fields22to26{};
    std::array<char, 3> fields27to29{};
    unsigned field30 = 0;
    std::array<char, 3> fields31to33{};
    unsigned field34 = 0;
    int field35 = 0, field36 = 0;
};

// The DCC supply board of a Tq9000.
struct B20Record {
    std::string token;
    float system24 = 0, acdc24 = 0, dcin24 = 0, batt24 = 0;
    int charge = 0;
    std::string source;
};

struct OutlierCounts {
    std::int32_t burpsToday = 0, burpsTotal = 0, hopsToday = 0, hopsTotal = 0;
};

// Everything but the two atomics, as one copyable value.
struct UnitStateData {
    D1Record d1;
    D2Record d2;
    D5Record d5;
    B20Record b20;
    OutlierCounts outliers;
    double mjd = 0;
    char firmwareRevisionLetter = 0;
    std::int32_t firmwareRevision = 0;
    std::string displayFirmware;
    std::string timeText;
    bool instrumentSweep = false;
};

// One poll's state and the model it was read with, as the poll left them.
struct PostedRecord {
    UnitStateData data;
    std::int32_t model = kModelBeforeIdentification;
};

class CUnitState : public CGuarded<UnitStateData> {
  public:
    // Read on every exchange (Factory access field) and by every window.
    std::atomic<std::int32_t> InstrumentModel{kModelBeforeIdentification};
    // True while the instrument answers.
    std::atomic<bool> Online{false};

    // Polling thread, before it posts the status-record notification: keeps the state as it is.
    void PostRecord() {
        PostedRecord record{Snapshot(), InstrumentModel.load()};
        std::lock_guard lock(postedMutex_);
        if (posted_.size() == kMaxPostedRecords) {
            posted_.pop_front();
        }
        posted_.push_back(std::move(record));
    }
    // The oldest posted record not yet taken; the current state when none is waiting (a
    // notification posted without a poll, as tests do).
    PostedRecord TakeRecord() {
        {
            std::lock_guard lock(postedMutex_);
            if (!posted_.empty()) {
                PostedRecord record = std::move(posted_.front());
                posted_.pop_front();
                return record;
            }
        }
        return {Snapshot(), InstrumentModel.load()};
    }

  private:
    // A reader this many polls behind (hours at the shortest interval) loses the oldest, so that
    // one that never takes them cannot fill the memory.
    static constexpr std::size_t kMaxPostedRecords = 10000;
    std::mutex postedMutex_;
    std::deque<PostedRecord> posted_;
};

}  // namespace corvane3
