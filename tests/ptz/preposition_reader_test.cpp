// The preset file: creation, records, and files that cannot be read.
#include <gtest/gtest.h>

#include <filesystem>

#include "preset_support.h"
#include "support/fake_driver.h"

using namespace norvane;

namespace {

class PresetStoreTest : public ::testing::Test {
protected:
    void SetUp() override { directory = test::OutputDir(); }
    std::string Path() { return directory + "/Sanyo_00E0AB12CD34.preset"; }

    std::string directory;
    test::FakeDriver log;
};

}  // namespace

TEST_F(PresetStoreTest, MissingOrEmptyFileIsCreated) {
    {
        std::unique_ptr<CXMLPrepositionReader> store(
            test::OpenStore(directory, "Sanyo_00E0AB12CD34.preset"));
        EXPECT_TRUE(std::filesystem::exists(Path()));
        EXPECT_EQ(test::ReadFile(Path()), "<?xml version='1.0' encoding='utf-8'?>\n<Sanyo/>");
        EXPECT_TRUE(store->WriteRecord(0, 0, "A", 0));
    }
    test::WriteFile(Path(), "");
    std::unique_ptr<CXMLPrepositionReader> store(
        test::OpenStore(directory, "Sanyo_00E0AB12CD34.preset"));
    EXPECT_TRUE(store->SetAutoSave(true));
    std::string name;
    unsigned slot = 0;
    EXPECT_FALSE(store->ReadRecord(0, 0, name, slot));
    EXPECT_EQ(test::ReadFile(Path()).find("Preposition"), std::string::npos);
}

// An unreadable file is kept aside whole; the store fails rather than start from nothing.
TEST_F(PresetStoreTest, CorruptFileIsKeptAsideNotWiped) {
    const std::string corrupt = test::PresetFile("<PtzChannel01>" + test::Record(0, "A", "0"));
    test::WriteFile(Path(), corrupt);
    CXMLPrepositionReader store("Sanyo", &log);
    store.Settings().SetBaseDirectory(directory);
    EXPECT_FALSE(store.OpenStore("Sanyo_00E0AB12CD34.preset"));
    EXPECT_EQ(test::ReadFile(Path() + ".bad"), corrupt);
    EXPECT_FALSE(std::filesystem::exists(Path()));
    EXPECT_FALSE(store.WriteRecord(0, 0, "B", 0));
    const auto records = log.log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, 1);
    EXPECT_NE(records[0].text.find("cannot be read; it was kept as " + Path() + ".bad"),
              std::string::npos);
}

TEST_F(PresetStoreTest, RecordsByChannelAndPosition) {
    test::WriteFile(
        Path(), test::PresetFile("<PtzChannel01>" + test::Record(0, "A", "7") +
                                 test::Record(1, "B", "x") + test::Record(2, "C", " 3") +
                                 test::Record(3, "D", "99999999999") + test::Record(4, "", "1") +
                                 test::Record(5, "E", "-1") + "</PtzChannel01>"));
    std::unique_ptr<CXMLPrepositionReader> store(
        test::OpenStore(directory, "Sanyo_00E0AB12CD34.preset"));
    std::string name;
    unsigned slot = 0;
    ASSERT_TRUE(store->ReadRecord(0, 0, name, slot));
    EXPECT_EQ(name, "A");
    EXPECT_EQ(slot, 7u);
    for (int position = 1; position <= 6; ++position)
        EXPECT_FALSE(store->ReadRecord(0, position, name, slot)) << position;
    EXPECT_TRUE(store->HasRecord(0, 1));
    EXPECT_FALSE(store->HasRecord(0, 6));
    EXPECT_FALSE(store->ReadRecord(1, 0, name, slot));

    EXPECT_TRUE(store->WriteRecord(0, 2, "Renamed", 3));
    EXPECT_TRUE(store->ReadRecord(0, 2, name, slot));
    EXPECT_EQ(name, "Renamed");
    EXPECT_EQ(slot, 3u);
    EXPECT_TRUE(store->ReadRecord(0, 0, name, slot));
    EXPECT_EQ(name, "A") << "only position 2 changed";
    EXPECT_TRUE(store->RemoveChannel(0));
    EXPECT_FALSE(store->RemoveChannel(0));
    EXPECT_EQ(test::ReadFile(Path()).find("PtzChannel01"), std::string::npos);
}
