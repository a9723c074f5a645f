#include "chipFamily.h"

#include <cctype>

namespace {

constexpr int FLASH_4K = 4096, FLASH_8K = 8192;
constexpr int EEPROM_SMALL = 128, EEPROM_LARGE = 256;

} // namespace

const std::vector<ChipModel>& chipModels()
{
    // The data sheets' figures; gpsim gives the 16F874A 256 EEPROM bytes,
    // where its data sheet gives 128.
    static const std::vector<ChipModel> models = {
        {"16F873", "p16f873", FLASH_4K, EEPROM_SMALL, false},
        {"16F874", "p16f874", FLASH_4K, EEPROM_SMALL, false},
        {"16F876", "p16f876", FLASH_8K, EEPROM_LARGE, false},
        {"16F877", "p16f877", FLASH_8K, EEPROM_LARGE, false},
        {"16F873A", "p16f873a", FLASH_4K, EEPROM_SMALL, true},
        {"16F874A", "p16f874a", FLASH_4K, EEPROM_SMALL, true},
        {"16F876A", "p16f876a", FLASH_8K, EEPROM_LARGE, true},
        {"16F877A", "p16f877a", FLASH_8K, EEPROM_LARGE, true},
    };
    return models;
}

const ChipModel& defaultChip()
{
    return *findChip("16F877A");
}

const ChipModel* findChip(const std::string& name)
{
    std::string upper;
    for (char c : name)
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.compare(0, 3, "PIC") == 0)
        upper.erase(0, 3);
    for (const ChipModel& model : chipModels())
        if (upper == model.name)
            return &model;
    return nullptr;
}

std::string chipNameList()
{
    std::string list;
    for (const ChipModel& model : chipModels())
        list += (list.empty() ? "" : ", ") + std::string(model.name);
    return list;
}
