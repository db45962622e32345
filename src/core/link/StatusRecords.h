#pragma once
// The fixed status records: D*1 (servo and supply readings), D*2 (identity and nominal values),
// D*5 (non-volatile memory) and B20 (the DCC supply board of a Tq9000), and the identity poll.
//
// Parse* functions cut a reply that has already been read; a field whose text does not scan
// keeps its previous value. Read* functions run the exchange on the polling thread (the caller
// holds the port's exchange lock) and store what they parsed in the Unit state.

#include <string>
#include <string_view>

#include "core/link/TolvexLink.h"
#include "core/link/UnitState.h"

namespace corvane3 {

inline constexpr std::size_t kD1ReplyLength = 250;
inline constexpr std::size_t kD2ReplyLength = 145;
inline constexpr std::size_t kD5ReadLength = 152;
inline constexpr std::size_t kB20ReplyLength = 39;

// Cuts all 41 rows and sets the Field valid flags. True when rows 0 to 12 and 40 are valid.
bool ParseD1Record(std::string_view reply, D1Record& record);
// Checks the header (STX, CR, LF, "ID"), cuts the 19 rows and validates. True only when the
// header matched and rows 0 to 14 and 18 are valid. instrumentSweep is set from row 15.
bool ParseD2Record(std::string_view reply, D2Record& record, bool& instrumentSweep);
// The identity poll's scan of a whole D*2 reply. True when the header matched; no range checks.
bool ParseIdentity(std::string_view reply, D2Record& record);
void ParseD5Record(std::string_view reply, D5Record& record);
// True when the reply is 39 characters with STX first and ETX last; the scan runs whenever the
// reply is complete.
bool ParseB20Record(std::string_view reply, B20Record& record);

// Each writes its 12-byte request and reads the reply; false on a failed write or short read
// (nothing is stored then) and otherwise the verdict above. ReadD5Record is true whenever the
// request was written. ReadD2Record and CheckIdentity also set the unit's model code.
bool ReadD1Record(CTolvexLink& link, CUnitState& unit);
bool ReadD2Record(CTolvexLink& link, CUnitState& unit);
bool CheckIdentity(CTolvexLink& link, CUnitState& unit);
bool ReadD5Record(CTolvexLink& link, CUnitState& unit);
bool ReadB20Record(CTolvexLink& link, CUnitState& unit);

// The name of a fault code, blank-padded to 29 characters, or "" for an unknown code.
std::string AlarmName(unsigned code);

}  // namespace corvane3
