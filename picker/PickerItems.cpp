// The rows' item data in blocks. One item per heap block cost the picker most
// of a listing's time where the heap's free list for blocks of an item's size
// grew long (see the benchmarks): a block of 256 items is asked for from the
// list of large blocks, 256 times less often.
#include "picker/PickerItems.h"

#include <cstring>

PickerItem* CPickerItems::Add()
{
    size_t block = m_nCount / kBlockItems;
    if (block == m_blocks.size())
    {
        // Reserved first, so a failed push cannot leak the new block.
        m_blocks.reserve(block + 1);
        m_blocks.emplace_back(new PickerItem[kBlockItems]);
    }
    PickerItem* item = &m_blocks[block][m_nCount % kBlockItems];
    memset(item, 0, sizeof(*item));
    ++m_nCount;
    return item;
}

void CPickerItems::RemoveLast() noexcept
{
    if (m_nCount > 0)
        --m_nCount;
}

void CPickerItems::Clear() noexcept
{
    if (m_blocks.size() > 1)
        m_blocks.resize(1);
    m_nCount = 0;
}
