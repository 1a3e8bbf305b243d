#include "storage/nand_sparse.h"

#include <cstring>

NandSparseChip::NandSparseChip() : device_{this, size, read, program, erase, sync} {}

int NandSparseChip::size(void* context, u32 pages, u32 page_bytes, u32 pages_per_block)
{
    auto* chip = static_cast<NandSparseChip*>(context);
    if (pages == 0) return NAND_OK;
    // Pages put back before the chip was known are fitted to it: erased
    // bytes after what was kept, nothing beyond the chip.
    for (auto it = chip->pages_.begin(); it != chip->pages_.end();) {
        if (it->first >= pages || it->second.size() > page_bytes) {
            it = chip->pages_.erase(it);
        } else {
            it->second.resize(page_bytes, 0xFF);
            ++it;
        }
    }
    chip->pages_count_ = pages;
    chip->stride_ = page_bytes;
    chip->pages_per_block_ = pages_per_block;
    return NAND_OK;
}

int NandSparseChip::read(void* context, u32 page, u32 column, void* dst, u32 length)
{
    const auto* chip = static_cast<const NandSparseChip*>(context);
    if (page >= chip->pages_count_ || static_cast<u64>(column) + length > chip->stride_) return NAND_ERR_READ;
    const u8* bytes = chip->page(page);
    if (bytes)
        std::memcpy(dst, bytes + column, length);
    else
        std::memset(dst, 0xFF, length);
    return NAND_OK;
}

std::vector<u8>& NandSparseChip::stored(u32 page)
{
    std::vector<u8>& bytes = pages_[page];
    if (bytes.size() != stride_) bytes.assign(stride_, 0xFF);
    return bytes;
}

int NandSparseChip::program(void* context, u32 page, u32 column, const void* src, u32 length)
{
    auto* chip = static_cast<NandSparseChip*>(context);
    if (page >= chip->pages_count_ || static_cast<u64>(column) + length > chip->stride_) return NAND_ERR_WRITE;
    std::vector<u8>& bytes = chip->stored(page);
    std::memcpy(bytes.data() + column, src, length);
    if (chip->hook_ && chip->hook_->page_written)
        chip->hook_->page_written(chip->hook_->context, page, bytes.data(), chip->stride_);
    return NAND_OK;
}

int NandSparseChip::erase(void* context, u32 block)
{
    auto* chip = static_cast<NandSparseChip*>(context);
    const u64 first = static_cast<u64>(block) * chip->pages_per_block_;
    if (first + chip->pages_per_block_ > chip->pages_count_) return NAND_ERR_ERASE;
    chip->pages_.erase(chip->pages_.lower_bound(static_cast<u32>(first)),
                       chip->pages_.lower_bound(static_cast<u32>(first + chip->pages_per_block_)));
    if (chip->hook_ && chip->hook_->block_erased) chip->hook_->block_erased(chip->hook_->context, block);
    return NAND_OK;
}

int NandSparseChip::sync(void*)
{
    return NAND_OK;
}

int NandSparseChip::restore(u32 page, const u8* bytes, u32 length)
{
    if (stride_ == 0) {
        // No chip announced yet: kept as given, fitted by the announcement.
        pages_[page].assign(bytes, bytes + length);
        return NAND_OK;
    }
    if (page >= pages_count_ || length > stride_) return NAND_ERR_RANGE;
    std::vector<u8>& stored_bytes = stored(page);
    std::memcpy(stored_bytes.data(), bytes, length);
    std::memset(stored_bytes.data() + length, 0xFF, stride_ - length);
    return NAND_OK;
}

const u8* NandSparseChip::page(u32 page) const
{
    const auto it = pages_.find(page);
    return it == pages_.end() ? nullptr : it->second.data();
}
