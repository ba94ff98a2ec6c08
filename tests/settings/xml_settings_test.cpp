// Path-addressed settings access on real files in a scratch directory.
#include "settings/xml_settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/system.h"
#include "platform/xml_document.h"
#include "support/media.h"

using namespace norvane;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class XmlSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory = test::OutputDir();
        settings.SetBaseDirectory(directory);
    }
    std::string Path() { return directory + "/settings.xml"; }
    void Write(const std::string& text) { std::ofstream(Path(), std::ios::binary) << text; }

    std::string directory;
    CXMLSettingsAPI settings;
};

}  // namespace

TEST_F(XmlSettingsTest, LoadCountsAndRefusesMissingEmptyOrBrokenFiles) {
    EXPECT_EQ(settings.LoadDocument("settings.xml"), CXMLSettingsAPI::RESULT_FAIL);
    Write("");
    EXPECT_EQ(settings.LoadDocument("settings.xml"), CXMLSettingsAPI::RESULT_FAIL);
    Write("<Sanyo><unclosed></Sanyo>");
    EXPECT_EQ(settings.LoadDocument("settings.xml"), CXMLSettingsAPI::RESULT_FAIL);
    EXPECT_FALSE(settings.IsOpen());
    EXPECT_EQ(settings.GetValue("Sanyo"), u"");
    EXPECT_EQ(settings.SetValue(u"x", "Sanyo/A"), 0);

    Write("<Sanyo><A value='1'/></Sanyo>");
    EXPECT_EQ(settings.LoadDocument("settings.xml"), CXMLSettingsAPI::RESULT_OK);
    std::filesystem::remove(Path());
    EXPECT_EQ(settings.LoadDocument("settings.xml"), CXMLSettingsAPI::RESULT_OK) << "only counts";
    EXPECT_EQ(settings.ReleaseDocument(), 1);
    EXPECT_EQ(settings.GetValue("Sanyo/A"), u"1");
    EXPECT_EQ(settings.ReleaseDocument(), 0);
    EXPECT_EQ(settings.GetValue("Sanyo/A"), u"");
}

TEST_F(XmlSettingsTest, CreatedFileHoldsDeclarationAndEmptyRoot) {
    EXPECT_EQ(settings.CreateDocumentFile("Sanyo", "settings.xml"), 1);
    const std::string text = ReadFile(Path());
    EXPECT_EQ(text.substr(0, text.find('\n')), "<?xml version='1.0' encoding='utf-8'?>");
    EXPECT_NE(text.find("<Sanyo"), std::string::npos);
    EXPECT_EQ(settings.CreateDocumentFile("", "settings.xml"), -1);
    EXPECT_EQ(settings.CreateDocumentFile("Sanyo", "no-such-dir/settings.xml"), 0);
}

TEST_F(XmlSettingsTest, SetCreatesThePathAndReusesTheAttribute) {
    ASSERT_EQ(settings.CreateDocumentFile("Sanyo", "settings.xml"), 1);
    ASSERT_EQ(settings.LoadDocument("settings.xml"), 0);
    EXPECT_EQ(settings.SetValue(u"Vor\u00e9t", "Sanyo/PtzChannel%.2u/Preposition000/Name", 2u), 1);
    EXPECT_EQ(settings.HasNode("Sanyo/PtzChannel02/Preposition000"), 1);
    EXPECT_EQ(settings.GetValue("Sanyo/PtzChannel02/Preposition000/Name"), u"Vor\u00e9t");
    EXPECT_EQ(settings.GetValue("Sanyo/PtzChannel02"), u"") << "element without a value";
    EXPECT_EQ(settings.SetValue(u"second", "Sanyo/PtzChannel02/Preposition000/Name"), 1);
    EXPECT_EQ(settings.SetValue(u"", "Sanyo/PtzChannel02/Preposition000/Name"), 1);
    EXPECT_EQ(settings.SetValue(u"third", "Sanyo/PtzChannel02/Preposition000/Name"), 1);
    EXPECT_EQ(settings.SetValue(u"x", "Missing/A"), 0) << "the root is never created";
    EXPECT_EQ(settings.RemoveNode("Sanyo/Nothing"), 0);
    EXPECT_TRUE(settings.SaveDocument());
    const std::string text = ReadFile(Path());
    size_t attributes = 0;
    for (size_t at = text.find("value="); at != std::string::npos; at = text.find("value=", at + 1))
        ++attributes;
    EXPECT_EQ(attributes, 1u) << text;
    platform::XmlDocument reread;
    ASSERT_TRUE(reread.Load(Path()));
    EXPECT_EQ(reread.GetAttribute("Sanyo/PtzChannel02/Preposition000/Name", "value"), "third");
    EXPECT_EQ(settings.RemoveNode("Sanyo/PtzChannel02"), 1);
    EXPECT_EQ(settings.HasNode("Sanyo/PtzChannel02/Preposition000"), 0);
}

TEST_F(XmlSettingsTest, InvalidPathExpressionThrowsTheDomError) {
    ASSERT_EQ(settings.CreateDocumentFile("Sanyo", "settings.xml"), 1);
    ASSERT_EQ(settings.LoadDocument("settings.xml"), 0);
    EXPECT_THROW(settings.GetValue("Sanyo/[["), platform::XmlError);
}

// A save killed at any moment leaves the old file or the new one, whole: the killed process
// saves two alternating large values as fast as it can.
TEST_F(XmlSettingsTest, SaveKilledMidwayLeavesAWholeFile) {
    ASSERT_EQ(settings.CreateDocumentFile("Sanyo", "settings.xml"), 1);
    const std::string a(300000, 'a');
    const std::string b(300000, 'b');
    for (int round = 0; round < 12; ++round) {
        int progress[2];
        ASSERT_EQ(pipe(progress), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(progress[0]);
            CXMLSettingsAPI saver;
            saver.SetBaseDirectory(directory);
            if (saver.LoadDocument("settings.xml") != 0)
                _exit(1);
            saver.SetSaveAfterChange(true);
            for (int i = 0; i < 10000; ++i) {
                const std::string& value = i % 2 ? b : a;
                if (saver.SetValue(platform::Utf8ToUtf16(value), "Sanyo/V") != 1)
                    _exit(2);
                const char tick = 1;
                if (write(progress[1], &tick, 1) != 1)
                    _exit(3);
            }
            _exit(0);
        }
        close(progress[1]);
        char tick;
        for (int seen = 0; seen < 1 + round % 4 && read(progress[0], &tick, 1) == 1; ++seen) {
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(progress[0]);
        platform::XmlDocument file;
        ASSERT_TRUE(file.Load(Path())) << "round " << round;
        const std::string value = file.GetAttribute("Sanyo/V", "value");
        EXPECT_TRUE(value == a || value == b)
            << "round " << round << ": " << value.size() << " bytes";
    }
}
