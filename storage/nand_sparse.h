// A NAND chip in memory that keeps only the pages ever written: a page never
// written (or erased since) reads as erased bytes (0xFF), so a whole chip
// costs only what it holds. A persist hook is told of every change, so that
// a front end can keep the chip where it likes (a web page's storage) and
// give the pages back with restore at the next start.
#pragma once
#include <map>
#include <vector>

#include "storage/nand.h"

// Told of every change of a sparse chip as it happens: a page written
// (the page's bytes after the write, data area then spare area, the whole
// page) or a block erased (its pages read as erased from then on).
struct NandPersistHook {
    void* context;
    void (*page_written)(void* context, u32 page, const u8* bytes, u32 length);
    void (*block_erased)(void* context, u32 block);
};

class NandSparseChip {
public:
    NandSparseChip();
    NandSparseChip(const NandSparseChip&) = delete;
    NandSparseChip& operator=(const NandSparseChip&) = delete;

    // The chip as the NAND layer's device (nand_set_device).
    const NandBlockDevice* device() const { return &device_; }
    // The hook told of every change; nullptr for none.
    void set_persist_hook(const NandPersistHook* hook) { hook_ = hook; }
    // Puts back a page kept earlier (`length` bytes from column 0; the rest
    // of the page erased), without telling the hook: NAND_OK, or
    // NAND_ERR_RANGE when it does not fit a page of the chip announced.
    // Before nand_init has announced the chip the page is kept as given and
    // fitted then (left out when it lies beyond the chip).
    int restore(u32 page, const u8* bytes, u32 length);
    // The page's bytes when it was written (and not erased since), else
    // nullptr.
    const u8* page(u32 page) const;
    // The pages written and not erased since, by number.
    const std::map<u32, std::vector<u8>>& pages() const { return pages_; }
    // Bytes of a whole page (data and spare area) of the chip announced; 0
    // before nand_init.
    u32 page_bytes() const { return stride_; }

private:
    static int size(void* context, u32 pages, u32 page_bytes, u32 pages_per_block);
    static int read(void* context, u32 page, u32 column, void* dst, u32 length);
    static int program(void* context, u32 page, u32 column, const void* src, u32 length);
    static int erase(void* context, u32 block);
    static int sync(void* context);
    // The page's stored bytes, made (erased) if missing.
    std::vector<u8>& stored(u32 page);

    NandBlockDevice device_;
    const NandPersistHook* hook_ = nullptr;
    u32 pages_count_ = 0;
    u32 stride_ = 0;
    u32 pages_per_block_ = 0;
    std::map<u32, std::vector<u8>> pages_;
};
