// The preset list against a recording camera side and a real preset file.
#include "ptz/preposition_list.h"

#include <gtest/gtest.h>

#include "norvane/ptz.h"
#include "preset_support.h"

using namespace norvane;

namespace {

constexpr const char* kFile = "Sanyo_TEST.preset";

class PresetListTest : public ::testing::Test {
protected:
    void SetUp() override { directory = test::OutputDir(); }

    // A list of channel 0 attached to the camera side and the file as it is now.
    std::unique_ptr<CPrepositionList> MakeList(uint32_t limit = 255) {
        auto list = std::make_unique<CPrepositionList>(0);
        list->SetComm(&comm, limit);
        list->SetStorage(
            TSmartPtr<CXMLPrepositionReader>(test::OpenStore(directory, kFile, &comm)));
        return list;
    }
    std::string Path() { return directory + "/" + kFile; }
    std::string FileText() { return test::ReadFile(Path()); }
    std::vector<std::string> Names(CPrepositionList& list) {
        std::vector<std::string> names;
        for (int i = 0; i < list.GetPrepositionCount(); ++i) {
            std::string name;
            EXPECT_TRUE(list.GetPrepositionName(static_cast<unsigned>(i), name));
            names.push_back(name);
        }
        return names;
    }

    std::string directory;
    test::RecordingComm comm;
};

}  // namespace

TEST_F(PresetListTest, AddRenameGotoRemove) {
    auto list = MakeList();
    EXPECT_EQ(list->AddPreposition("A"), PTZ_OK);
    EXPECT_EQ(list->AddPreposition("B"), PTZ_OK) << "renames A: the head stands on it";
    EXPECT_EQ(Names(*list), std::vector<std::string>{"B"});
    EXPECT_EQ(comm.saved, std::vector<unsigned>{0});
    list->ResetCurrentPreposition();
    EXPECT_EQ(list->AddPreposition("C"), PTZ_OK);
    EXPECT_EQ(comm.saved, (std::vector<unsigned>{0, 1}));

    EXPECT_TRUE(list->GotoPreposition("B", 0));
    EXPECT_TRUE(list->GotoPreposition("B", 0));
    EXPECT_EQ(comm.recalled, std::vector<unsigned>{0}) << "the same preset twice is sent once";
    std::string current;
    EXPECT_TRUE(list->GetCurrentPrepositionName(current));
    EXPECT_EQ(current, "B");
    list->ResetCurrentPreposition();
    EXPECT_TRUE(list->GotoPreposition("B", 0));
    EXPECT_EQ(comm.recalled.size(), 2u);
    EXPECT_FALSE(list->GotoPreposition("missing", 0));

    EXPECT_TRUE(list->RemovePreposition("B"));
    EXPECT_FALSE(list->GetCurrentPrepositionName(current));
    EXPECT_EQ(list->AddPreposition("D"), PTZ_OK);
    EXPECT_EQ(comm.saved.back(), 0u) << "the freed slot is reused";
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"C", "D"}));

    auto reloaded = MakeList();
    EXPECT_EQ(Names(*reloaded), (std::vector<std::string>{"C", "D"}));
    EXPECT_EQ(FileText().find("Preposition002"), std::string::npos);
}

TEST_F(PresetListTest, LimitAndInvalidNames) {
    auto list = MakeList(8);
    for (int i = 0; i < 8; ++i) {
        list->ResetCurrentPreposition();
        ASSERT_EQ(list->AddPreposition(std::to_string(i)), PTZ_OK);
    }
    list->ResetCurrentPreposition();
    EXPECT_EQ(list->AddPreposition("ninth"), PTZ_PRESETS_FULL);
    ASSERT_FALSE(comm.lines.empty());
    EXPECT_EQ(comm.lines.back(),
              "norvane::CPrepositionList::AddPreposition: A preposition \"ninth\" cannot be added. "
              "Camera supports saving not more than 8 prepositions.");
    EXPECT_EQ(list->AddPreposition(""), PTZ_INVALID_ARGUMENT);
    // A name full of conversions is logged as it stands, never used as a format.
    EXPECT_EQ(list->AddPreposition("x&%s%n%s"), PTZ_INVALID_ARGUMENT);
    EXPECT_EQ(comm.lines.back(),
              "norvane::CPrepositionList::AddPreposition: A preposition \"x&%s%n%s\" cannot be "
              "added - the name is invalid.");
    EXPECT_EQ(comm.saved.size(), 8u);
}

TEST_F(PresetListTest, CameraRefusalsChangeNothing) {
    auto list = MakeList();
    comm.accept = false;
    EXPECT_EQ(list->AddPreposition("A"), PTZ_FAILED);
    EXPECT_EQ(list->GetPrepositionCount(), 0);
    comm.accept = true;
    ASSERT_EQ(list->AddPreposition("A"), PTZ_OK);
    comm.acceptRemoval = false;
    EXPECT_FALSE(list->RemovePreposition("A")) << "a refused removal is no success";
    EXPECT_EQ(Names(*list), std::vector<std::string>{"A"});
    list->SetComm(nullptr, 0);
    EXPECT_EQ(list->AddPreposition("B"), PTZ_FAILED);
    EXPECT_FALSE(list->RemovePreposition("A"));
}

TEST_F(PresetListTest, SameNameActsOnTheLowerSlot) {
    test::WriteFile(directory + "/" + kFile,
                    test::PresetFile("<PtzChannel01>" + test::Record(0, "X", "5") +
                                     test::Record(1, "X", "2") + "</PtzChannel01>"));
    auto list = MakeList();
    EXPECT_TRUE(list->GotoPreposition("X", 0));
    EXPECT_EQ(comm.recalled, std::vector<unsigned>{2});
    EXPECT_TRUE(list->RemovePreposition("X"));
    EXPECT_EQ(comm.removed, std::vector<unsigned>{2});
    EXPECT_EQ(list->GetPrepositionCount(), 1);
}

// Gaps close up on load; the file is rewritten so that later writes by list position land right.
TEST_F(PresetListTest, FileWithGapsIsRewritten) {
    test::WriteFile(directory + "/" + kFile,
                    test::PresetFile("<PtzChannel01>" + test::Record(0, "A", "0") +
                                     test::Record(2, "C", "2") + "</PtzChannel01>"));
    auto list = MakeList();
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(list->AddPreposition("D"), PTZ_OK);
    EXPECT_EQ(Names(*MakeList()), (std::vector<std::string>{"A", "C", "D"}));
    EXPECT_EQ(FileText().find("Preposition003"), std::string::npos);
}

TEST_F(PresetListTest, BadSlotsAreDroppedAndTheFileRepaired) {
    test::WriteFile(
        directory + "/" + kFile,
        test::PresetFile("<PtzChannel01>" + test::Record(0, "A", "1") + test::Record(1, "B", "1") +
                         test::Record(2, "C", "9") + test::Record(3, "D", "x") +
                         test::Record(4, "E", "3") + "</PtzChannel01><PtzChannel02>" +
                         test::Record(0, "Z", "0") + "</PtzChannel02>"));
    auto list = MakeList(8);
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"A", "E"}))
        << "a repeated slot, a slot beyond the limit and a slot that is no number are dropped";
    const std::string text = FileText();
    EXPECT_TRUE(test::HasName(text, "A"));
    EXPECT_FALSE(test::HasName(text, "B"));
    EXPECT_EQ(text.find("Preposition002"), std::string::npos);
    EXPECT_TRUE(test::HasName(text, "Z")) << "other channels stay";
    list->ResetCurrentPreposition();
    EXPECT_EQ(list->AddPreposition("F"), PTZ_OK);
    EXPECT_EQ(comm.saved, std::vector<unsigned>{0});
}

// Records a repair drops are each logged as a warning with name and slot, and the file as it was
// is kept as .bak; a later repair leaves that first backup alone. The file may hold positions
// beyond the limit (written under a camera group with more presets).
TEST_F(PresetListTest, RepairLogsEachDroppedRecordAndKeepsTheOriginal) {
    const std::string original = test::PresetFile(
        "<PtzChannel01>" + test::Record(0, "A", "1") + test::Record(1, "B", "1") +
        test::Record(2, "C", "9") + test::Record(3, "D", "2") + test::Record(9, "J", "3") +
        test::Record(200, "K", "200") + "</PtzChannel01>");
    test::WriteFile(Path(), original);
    auto list = MakeList(8);
    EXPECT_EQ(Names(*list), (std::vector<std::string>{"A", "D", "J"}));
    const auto dropped = [&](const std::string& text) {
        return comm.CountLines(LOG_WARNING, "norvane::CPrepositionList::LoadPrepositions: preset " +
                                                text + " is dropped from the preset file: ");
    };
    EXPECT_EQ(dropped("\"B\" at position 1 of PTZ channel 1"), 1u);
    EXPECT_EQ(comm.CountLines(LOG_WARNING,
                              "\"B\" at position 1 of PTZ channel 1 is dropped from "
                              "the preset file: slot 1 is taken by \"A\""),
              1u);
    EXPECT_EQ(comm.CountLines(LOG_WARNING,
                              "\"C\" at position 2 of PTZ channel 1 is dropped from "
                              "the preset file: slot 9 is beyond the camera's limit "
                              "of 8"),
              1u);
    EXPECT_EQ(dropped("\"K\" at position 200 of PTZ channel 1"), 1u);
    const auto droppedLines = [&] {
        return comm.CountLines(LOG_WARNING, " is dropped from the preset file: ");
    };
    EXPECT_EQ(droppedLines(), 3u) << "one line per dropped record";
    EXPECT_EQ(comm.CountLines(LOG_WARNING, "it was kept as " + Path() + ".bak"), 1u);
    EXPECT_EQ(test::ReadFile(Path() + ".bak"), original);
    const std::string text = FileText();
    for (const char* name : {"A", "D", "J"})
        EXPECT_TRUE(test::HasName(text, name)) << name;
    for (const char* name : {"B", "C", "K"})
        EXPECT_FALSE(test::HasName(text, name)) << name;
    EXPECT_EQ(Names(*MakeList(8)), (std::vector<std::string>{"A", "D", "J"}));
    EXPECT_EQ(droppedLines(), 3u) << "a repaired file loads without a word";

    test::WriteFile(Path(), test::PresetFile("<PtzChannel01>" + test::Record(0, "E", "4") +
                                             test::Record(1, "F", "4") + "</PtzChannel01>"));
    EXPECT_EQ(Names(*MakeList(8)), std::vector<std::string>{"E"});
    EXPECT_EQ(dropped("\"F\" at position 1 of PTZ channel 1"), 1u);
    EXPECT_EQ(comm.CountLines(LOG_WARNING,
                              "the backup of an earlier repair stays as it is: " + Path() + ".bak"),
              1u);
    EXPECT_EQ(test::ReadFile(Path() + ".bak"), original);
}

// Names in UTF-8 (two-, three- and four-byte characters) go into the file as they are and come
// back unchanged.
TEST_F(PresetListTest, Utf8NamesSurviveTheFile) {
    const std::vector<std::string> names = {
        "T\xC3\xBCr S\xC3\xBC"
        "d",
        "\xE6\x9D\xB1\xE9\x96\x80", "\xF0\x9F\x8E\xA5 Kamera"};
    auto list = MakeList();
    for (const std::string& name : names) {
        list->ResetCurrentPreposition();
        ASSERT_EQ(list->AddPreposition(name), PTZ_OK) << name;
    }
    const std::string text = FileText();
    for (const std::string& name : names)
        EXPECT_TRUE(test::HasName(text, name)) << name;
    auto reloaded = MakeList();
    EXPECT_EQ(Names(*reloaded), names);
    EXPECT_TRUE(reloaded->GotoPreposition(names[1], 0));
    EXPECT_EQ(comm.recalled, std::vector<unsigned>{1});
}
