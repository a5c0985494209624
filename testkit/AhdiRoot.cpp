#include "AhdiRoot.h"

#include <cstring>

namespace ahdi {

namespace {

void putBig32(std::uint8_t* at, std::uint32_t v) {
    at[0] = std::uint8_t(v >> 24);
    at[1] = std::uint8_t(v >> 16);
    at[2] = std::uint8_t(v >> 8);
    at[3] = std::uint8_t(v);
}

}  // namespace

std::uint16_t rootWordSum(const std::uint8_t* sector) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < ROOT_BYTES; i += 2) {
        sum = std::uint16_t(sum + (sector[i] << 8 | sector[i + 1]));
    }
    return sum;
}

void setRootWordSum(std::uint8_t* sector, std::uint16_t sum) {
    sector[510] = 0;
    sector[511] = 0;
    const std::uint16_t fix = std::uint16_t(sum - rootWordSum(sector));
    sector[510] = std::uint8_t(fix >> 8);
    sector[511] = std::uint8_t(fix);
}

void writeRootSector(std::uint8_t* sector, const RootSector& root, std::uint16_t sum) {
    std::memset(sector, 0, ROOT_BYTES);
    putBig32(sector + 0x1C2, root.diskSectors);
    sector[0x1C6] = root.partitionFlags;
    std::memcpy(sector + 0x1C7, root.partitionId, 3);
    putBig32(sector + 0x1CA, root.partitionStart);
    putBig32(sector + 0x1CE, root.partitionSectors);
    setRootWordSum(sector, sum);
}

}  // namespace ahdi
