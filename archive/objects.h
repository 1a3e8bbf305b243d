// Objects of the measurement archive: small files of type 9 holding a name;
// measurements are files whose parent is their object's id. One object is
// the current one, into which new measurements are saved.
#pragma once
#include "base/types.h"
#include "storage/dir.h"

// The 200-byte object record: zero-terminated name, zeros, checksum at 198.
constexpr u32 OBJECT_RECORD_SIZE = 200;
constexpr u32 OBJECT_CHECKSUM_AT = 198;
// Size of a buffer that receives a stored name (terminator included).
constexpr u32 OBJ_NAME_SIZE = DIR_NAME_SIZE;

#pragma pack(push, 1)
struct ObjectRecord {
    char name[OBJ_NAME_SIZE];
    u16 checksum;
};
#pragma pack(pop)
static_assert(sizeof(ObjectRecord) == OBJECT_RECORD_SIZE);

// Storage error flags shared by the archive.
enum : u32 {
    STORAGE_ERR_WRITE = 1,             // an archive write failed
    STORAGE_ERR_READ = 2,              // an archive read failed or the directory was full
    STORAGE_ERR_MEAS_READ = 4,         // a measurement could not be read
    STORAGE_ERR_MEAS_HEADER = 0x1000,  // a measurement header failed its checksum twice
};
extern u32 storage_error_flags;

// Current object id: the field current_object of the settings block.
u32 settings_current_object();
void settings_set_current_object(u32 id);

// Clears the error flags and lets the mount sort objects by name (state at
// power-on).
void obj_reset();

u32 obj_create(const char* name);
u32 obj_find_by_name(const char* name);
int obj_name_taken(const char* name, int skip_index);
// dest holds OBJ_NAME_SIZE bytes.
int obj_get_name(int index, char* dest);
int obj_rename(int index, const char* name);
// 1 done; 0 not an object; -1 some measurement could not be deleted (it
// stays in the directory, the others are gone, error bit 1 is set).
int obj_delete_measurements(int index);
int obj_delete(int index);
int obj_ensure_current();
int obj_select(u32 id);
int obj_after_mount();

// Reads the name stored in the object file `id` (dest holds OBJ_NAME_SIZE
// bytes): 1 if the record reads with a good checksum, else 0.
int obj_read_name(u32 id, char* dest);
