#include "screens/plant_bearings.h"

#include "data/bearing_table.h"
#include "screens/bearings.h"

bool plant_bearing_lookup(const std::string& designation, PlantBearingFactors* out)
{
    if (bearing_catalogue.count == 0) bearing_unpack(BEARING_TABLE_PACKED, BEARING_TABLE_PACKED_SIZE);
    const int i = bearing_find(designation.c_str());
    const BearingRecord* r = bearing_at(i);
    if (!r) return false;
    out->ftf = r->ftf;
    out->bpfo = r->bpfo;
    out->bpfi = r->bpfi;
    out->bsf = r->bsf;
    return true;
}
