// Provider-side shared memory for tests: writable blocks under the names the
// library opens, holding a serialized map, block numbers and instance records
// as a provider (or a broken one) writes them.
#pragma once
#include <map>
#include <string>

#include "common/layout_builder.h"
#include "map_description.h"
#include "platform/platform.h"

namespace vz {
namespace test {

using provider::BlockName;  // "Global\ATLPERF_<application>_<nnn>"

class ProviderChain {
public:
    // `map` starts block 0; its size word places every block's number and instance area.
    ProviderChain(std::u16string application, Bytes map, DWORD blockSize = 65536);
    ~ProviderChain();
    ProviderChain(const ProviderChain&) = delete;
    ProviderChain& operator=(const ProviderChain&) = delete;

    // Creates block `number` (map in block 0, block number at map size).
    void CreateBlock(DWORD number, DWORD blockSize = 0);
    // A record, or the end-of-block mark, at the block's next free position.
    std::size_t AddRecord(DWORD number, const InstanceRecordLayout& layout);  // its offset
    void EndBlock(DWORD number) { PutWord(number, blocks_.at(number).next, kEndOfBlock); }
    void PutWord(DWORD number, std::size_t offset, DWORD value);

private:
    struct Block {
        plat::HANDLE mapping;
        uint8_t* bytes;
        DWORD size;
        std::size_t next;  // where the next record goes
    };
    std::u16string application_;
    Bytes map_;
    DWORD blockSize_;
    std::map<DWORD, Block> blocks_;
};

}  // namespace test
}  // namespace vz
