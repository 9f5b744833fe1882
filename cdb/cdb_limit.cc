// The database's size limit, defined once for the whole build: no byte of a
// database may lie past this offset. Positions are 32-bit, so the limit is
// 0xFFFFFFFF; a build may set a smaller one through CORVANE_DB_LIMIT (the
// fuzzing build does, so that an input describing a huge database ends
// quickly with the same report). A test build links its own copy of this
// file with a cap, which takes the place of the library's.
#include "cdb/cdb_writer.h"

const uint32_t cdb_position_limit = CORVANE_DB_LIMIT;
