#include "AhdiRoot.h"

#include <cstring>

namespace ahdi {

void writeRootSector(std::uint8_t* sector, const RootSector& root, std::uint16_t sum) {
    std::memset(sector, 0, ROOT_BYTES);
    putBigEndian32(sector + DISK_SECTORS_AT, root.diskSectors);
    sector[PARTITION_FLAGS_AT] = root.partitionFlags;
    std::memcpy(sector + PARTITION_ID_AT, root.partitionId, 3);
    putBigEndian32(sector + PARTITION_START_AT, root.partitionStart);
    putBigEndian32(sector + PARTITION_SECTORS_AT, root.partitionSectors);
    setRootWordSum(sector, sum);
}

}  // namespace ahdi
