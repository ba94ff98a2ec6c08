#include <gtest/gtest.h>

#include "support/fake_driver.h"

TEST(FakeDriver, RecordsLogTypes) {
    test::FakeDriver driver;
    driver.Log(4, "%s: %d", "x", 5);
    ASSERT_EQ(driver.log.Count(), 1u);
    EXPECT_EQ(driver.log.Records()[0].level, 4);
    EXPECT_EQ(driver.log.Records()[0].text, "x: 5");
}
