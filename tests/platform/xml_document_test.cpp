#include "platform/xml_document.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/system.h"

using namespace norvane::platform;

namespace {

const char* const kPresets =
    "<?xml version='1.0' encoding='utf-8'?>\n"
    "<Presets>\n"
    "\t<Preset name='A' id='1'>North \xC3\xA9</Preset>\n"
    "\t<Preset name='B' id='2'/>\n"
    "</Presets>";

}  // namespace

TEST(XmlDocument, XPathSelectsValuesAndAttributes) {
    XmlDocument document;
    ASSERT_TRUE(document.LoadText(kPresets));
    EXPECT_EQ(document.SelectNodeFirstChildValue("/Presets/Preset[@name='A']"), "North \xC3\xA9");
    EXPECT_EQ(document.SelectNodeFirstChildValue("/Presets/Preset[@name='B']"), "");
    EXPECT_EQ(document.GetAttribute("/Presets/Preset[2]", "id"), "2");
    EXPECT_EQ(document.GetAttribute("/Presets/Preset[2]", "missing"), "");
    EXPECT_TRUE(document.HasNode("//Preset[@id='2']"));
    EXPECT_FALSE(document.HasNode("/Presets/Preset[@name='C']"));
    EXPECT_THROW(document.HasNode("/Presets/Preset[@name='A'"), XmlError);
    EXPECT_FALSE(document.LoadText("<Presets><Preset></Presets>"));
}

TEST(XmlDocument, EditsSurviveSaveAndLoad) {
    const std::string path = (std::filesystem::temp_directory_path() / "tavrin_xml_test.xml").string();
    {
        XmlDocument document;
        ASSERT_TRUE(document.Create("Presets"));
        ASSERT_TRUE(document.AppendElement("/Presets", "Preset", 1));
        ASSERT_TRUE(document.SetAttribute("/Presets/Preset", "name", "A"));
        ASSERT_TRUE(document.SetAttribute("/Presets/Preset", "name", "B"));  // reused, not added
        ASSERT_TRUE(document.AppendElement("/Presets", "Preset", 1));
        ASSERT_TRUE(document.SetAttribute("/Presets/Preset[2]", "name", "C"));
        ASSERT_TRUE(document.RemoveNode("/Presets/Preset[@name='C']"));
        EXPECT_FALSE(document.SetAttribute("/Presets/Missing", "name", "D"));
        EXPECT_FALSE(document.RemoveNode("/Presets/Missing"));
        ASSERT_TRUE(document.Save(path));
    }
    XmlDocument loaded;
    ASSERT_TRUE(loaded.Load(path));
    EXPECT_EQ(loaded.GetAttribute("/Presets/Preset", "name"), "B");
    EXPECT_FALSE(loaded.HasNode("/Presets/Preset[2]"));
    EXPECT_NE(loaded.Text().find("<Preset name"), std::string::npos);
    EXPECT_FALSE(loaded.Load(path + ".absent"));
    std::filesystem::remove(path);
}

TEST(XmlDocument, CreateRejectsAnEmptyRootName) {
    XmlDocument document;
    EXPECT_FALSE(document.Create(""));
    EXPECT_TRUE(document.Create("Good"));
    EXPECT_TRUE(document.HasNode("/Good"));
}
