// Path-addressed access to one XML settings file beside the host's executable: element values
// kept in a "value" attribute, read and written by slash-separated paths from the root element.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/lock.h"

namespace norvane {

namespace platform {
class XmlDocument;
}

class CXMLSettingsAPI {
public:
    static constexpr int RESULT_OK = 0;
    static constexpr int RESULT_FAIL = static_cast<int>(0x80004005u);
    static constexpr size_t MAX_PATH_CHARS = 1023;

    CXMLSettingsAPI();
    virtual ~CXMLSettingsAPI();
    CXMLSettingsAPI(const CXMLSettingsAPI&) = delete;
    CXMLSettingsAPI& operator=(const CXMLSettingsAPI&) = delete;

    // 0, or RESULT_FAIL for a missing, empty or unparsable file. While a document is open a
    // further call only counts.
    int LoadDocument(const std::string& fileName);
    // Counts one load down; the document closes at 0. Returns the remaining count.
    int ReleaseDocument();
    bool SaveDocument();

    // The operations below do nothing while no document is open. A failing DOM call throws
    // platform::XmlError. Paths are printf formats, formatted into at most 1023 characters.
    std::u16string GetValue(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Creates missing elements of the path; 1 on success, 0 on failure.
    int SetValue(const std::u16string& value, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    int HasNode(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int RemoveNode(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Writes a file holding the declaration and an empty root element into the settings
    // directory: 1 saved, 0 not saved, -1 the document could not be built.
    int CreateDocumentFile(const std::string& rootName, const std::string& fileName);

    // Full path of `fileName` in the settings directory.
    std::string FullPath(const std::string& fileName) const;
    bool IsOpen();
    // Tests keep their files in a directory of their own instead of the executable's.
    void SetBaseDirectory(const std::string& directory) { baseDirectory = directory; }
    void SetSaveAfterChange(bool save) { saveAfterChange = save; }

private:
    bool CreatePath(const std::string& path);
    int Saved(int result);

    int openCount = 0;
    bool saveAfterChange = false;
    CLock openLock;  // guards openCount and the document's lifetime
    std::unique_ptr<platform::XmlDocument> document;
    std::string filePath;
    CLock documentLock;  // guards every DOM access
    std::string baseDirectory;
};

}  // namespace norvane
