#include "chipFamily.h"

#include <gtest/gtest.h>

TEST(ChipFamily, NamesAreFoundInAnyCaseWithOrWithoutPrefix)
{
    struct Row {
        const char* typed;
        const char* found;  // nullptr: refused
    };
    for (const Row& row : {Row{"16F873A", "16F873A"}, Row{"pic16f873a", "16F873A"}, Row{"PIC16F877", "16F877"},
                           Row{"16f874", "16F874"}, Row{"16F628A", nullptr}, Row{"", nullptr}, Row{"PIC", nullptr}}) {
        const ChipModel* chip = findChip(row.typed);
        if (row.found == nullptr)
            EXPECT_EQ(chip, nullptr) << row.typed;
        else
            EXPECT_STREQ(chip ? chip->name : "(none)", row.found) << row.typed;
    }
}

TEST(ChipFamily, TheBootloaderTakesTheTop256WordsOfEachSize)
{
    EXPECT_EQ(findChip("16F873")->bootStart(), 0x0F00);
    EXPECT_EQ(findChip("16F876A")->bootEnd(), 0x1FFF);
    EXPECT_STREQ(defaultChip().name, "16F877A");
    EXPECT_EQ(chipNameList(), "16F873, 16F874, 16F876, 16F877, 16F873A, 16F874A, 16F876A, 16F877A");
}
