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

// Results of the object operations.
enum : int {
    OBJ_SOME_LEFT = -1,  // obj_delete_measurements: some measurement could not be deleted
    OBJ_FAILED = 0,      // not an object, not found, or a read or write failed
    OBJ_OK = 1,          // done (obj_ensure_current: the current object was listed already)
    OBJ_CHOSEN = 2,      // obj_ensure_current, obj_after_mount: another object became current
};
// Results of obj_name_taken.
enum : int { OBJ_NAME_FREE = 0, OBJ_NAME_TAKEN = 1 };

// Creates an object named `name` after the last object: its id, or 0 when
// the directory is full or a write failed.
u32 obj_create(const char* name);
// Id of the first object named `name`, or 0.
u32 obj_find_by_name(const char* name);
// OBJ_NAME_TAKEN when an object other than the one at directory index
// `skip_index` (-1: none) is named `name`, else OBJ_NAME_FREE.
int obj_name_taken(const char* name, int skip_index);
// Reads the name of the object at directory index `index` into `dest`
// (OBJ_NAME_SIZE bytes): OBJ_OK, or OBJ_FAILED (error bit 2 set).
int obj_get_name(int index, char* dest);
// Stores `name` as the name of the object at `index`: OBJ_OK, or OBJ_FAILED.
int obj_rename(int index, const char* name);
// OBJ_OK done; OBJ_FAILED not an object; OBJ_SOME_LEFT some measurement
// could not be deleted (it stays in the directory, the others are gone,
// error bit 1 is set).
int obj_delete_measurements(int index);
// Deletes the object at `index` with its measurements: OBJ_OK, or OBJ_FAILED
// (not an object, or something of it stayed).
int obj_delete(int index);
// Makes sure the current object is a listed object: OBJ_OK when it is,
// OBJ_CHOSEN when the first listed object (or a new "Объект") became
// current, OBJ_FAILED when none could be made.
int obj_ensure_current();
// Makes object `id` current: OBJ_OK, or OBJ_FAILED when `id` is no object.
int obj_select(u32 id);
// The current object after a mount, as obj_ensure_current: OBJ_OK,
// OBJ_CHOSEN or OBJ_FAILED.
int obj_after_mount();

// Reads the name stored in the object file `id` (dest holds OBJ_NAME_SIZE
// bytes): OBJ_OK if the record reads with a good checksum, else OBJ_FAILED.
int obj_read_name(u32 id, char* dest);
