// A small flash image for the fuzz targets of the storage: the emulated chip
// with the file system cut to its first FUZZ_FLASH_BLOCKS blocks
// (fs_state.end_page lowered after fs_init), so that a mount reads 448 page
// headers instead of 131008 and one execution stays short. Pages past the
// area are never read or written; links to them are still page numbers of
// the chip and pass the same checks as on the whole chip. After each
// execution only the pages that were written are put back.
#pragma once
#include "base/types.h"
#include "fuzz.h"

constexpr u32 FUZZ_FLASH_BLOCKS = 8;
constexpr u32 FUZZ_FLASH_PAGES = FUZZ_FLASH_BLOCKS * 64;
constexpr u32 FUZZ_PAGE_STRIDE = 2112;

// Makes the image (erased) at the first call and opens it as flash.dat;
// puts back every page written since the last call (by the instrument code
// or by flash_patch) and forgets the device, the directory and the archive's
// state, as at power-on.
void flash_sandbox_begin();
// Raw bytes into the image at (page, column), without the NAND rules; the
// page is put back by the next flash_sandbox_begin.
void flash_patch(u32 page, u32 column, const u8* bytes, u32 n);
// The input's patches: chunks of page (u16, taken modulo the area, block 0
// left out), column (u16, modulo 2112), length (u16) and that many bytes.
void flash_apply_patches(FuzzInput& in);
// fs_init, the area cut, the scan step by step and the end of the mount:
// true when mounted.
bool flash_mount();
// The image as it is now becomes the one that flash_sandbox_begin puts
// back (for targets that start from a prepared archive).
void flash_keep_as_pristine();
// Once per run: a mounted archive with the object "Насос", to which `fill`
// adds what the target needs, kept as the image every execution starts
// from.
void flash_prepare_archive(void (*fill)());
