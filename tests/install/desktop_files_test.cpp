// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up look-ups of the installed desktop files and manual, and the agreement of
// the shipped desktop files and manual pages with the names the program uses.
#include "res/desktop/desktop_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace orb {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    WriteFile(path, "x");
}

TEST(SystemDataDirs, DefaultsWhenUnsetEmptyOrOnlyRelative) {
    const std::vector<std::string> defaults = {"/usr/local/share", "/usr/share"};
    EXPECT_EQ(SystemDataDirs(nullptr), defaults);
    EXPECT_EQ(SystemDataDirs(""), defaults);
    EXPECT_EQ(SystemDataDirs("::"), defaults);
    EXPECT_EQ(SystemDataDirs("share:relative/dir"), defaults);
}

TEST(SystemDataDirs, KeepsAbsoluteEntriesInOrder) {
    EXPECT_EQ(SystemDataDirs("/opt/k/share:rel::/usr/share:"),
              (std::vector<std::string>{"/opt/k/share", "/usr/share"}));
    EXPECT_EQ(SystemDataDirs("/only"), std::vector<std::string>{"/only"});
}

TEST(SystemDesktopIntegration, NeedsBothTheMenuEntryAndTheMimePackage) {
    TempDir a, b;
    const std::vector<std::string> dirs = {a.path(), b.path()};
    EXPECT_FALSE(SystemDesktopIntegrationInstalled(dirs));

    Touch(a / "applications/kelvane-orb.desktop");
    EXPECT_FALSE(SystemDesktopIntegrationInstalled(dirs));

    // The two files may come from different data folders.
    Touch(b / "mime/packages/kelvane-orb.xml");
    EXPECT_TRUE(SystemDesktopIntegrationInstalled(dirs));
    EXPECT_FALSE(SystemDesktopIntegrationInstalled({a.path()}));
    EXPECT_FALSE(SystemDesktopIntegrationInstalled({}));
}

TEST(SystemDesktopIntegration, OnlyRegularFilesCount) {
    TempDir d;
    fs::create_directories(d / "applications/kelvane-orb.desktop");
    Touch(d / "mime/packages/kelvane-orb.xml");
    EXPECT_FALSE(SystemDesktopIntegrationInstalled({d.path()}));

    fs::remove(d / "applications/kelvane-orb.desktop");
    fs::create_symlink(d / "nowhere", d / "applications/kelvane-orb.desktop");
    EXPECT_FALSE(SystemDesktopIntegrationInstalled({d.path()}));

    // A link to a real file (distributions link /usr/share entries around) counts.
    fs::remove(d / "applications/kelvane-orb.desktop");
    Touch(d / "elsewhere.desktop");
    fs::create_symlink(d / "elsewhere.desktop", d / "applications/kelvane-orb.desktop");
    EXPECT_TRUE(SystemDesktopIntegrationInstalled({d.path()}));
}

TEST(SystemDesktopIntegration, ReadsXdgDataDirs) {
    TempDir d;
    Touch(d / "applications/kelvane-orb.desktop");
    Touch(d / "mime/packages/kelvane-orb.xml");
    const char* old = std::getenv("XDG_DATA_DIRS");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_DIRS", ("relative:" + d.path()).c_str(), 1);
    EXPECT_TRUE(SystemDesktopIntegrationInstalled());
    if (old)
        setenv("XDG_DATA_DIRS", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_DIRS");
}

TEST(FindManualPage, BesideTheExecutableFirstThenTheInstalledDocumentation) {
    TempDir prefix;
    const std::string bin = prefix / "bin";
    fs::create_directories(bin);
    EXPECT_EQ(FindManualPage(bin, "index.html"), "");

    const std::string installed = prefix / "share/doc/kelvane-orb/orbhelp/index.html";
    Touch(installed);
    const std::string expectInstalled = fs::canonical(installed).string();
    EXPECT_EQ(FindManualPage(bin, "index.html"), expectInstalled);
    EXPECT_EQ(FindManualPage(bin + "/", "index.html"), expectInstalled);
    EXPECT_EQ(FindManualPage(bin, "feedback.html"), "");

    Touch(bin + "/orbhelp/index.html");
    EXPECT_EQ(FindManualPage(bin, "index.html"), fs::canonical(bin + "/orbhelp/index.html"));
    // Each page is looked for on its own: a page missing beside the program is still
    // found in the documentation.
    Touch(prefix / "share/doc/kelvane-orb/orbhelp/feedback.html");
    EXPECT_EQ(FindManualPage(bin, "feedback.html"),
              fs::canonical(prefix / "share/doc/kelvane-orb/orbhelp/feedback.html"));
}

TEST(FindManualPage, ThroughALinkedBinFolderEndsWhereTheFileIs) {
    // prefix/bin is a link to real/bin: "bin/.." must be taken on disc, not lexically.
    TempDir root;
    fs::create_directories(root / "real/bin");
    Touch(root / "real/share/doc/kelvane-orb/orbhelp/index.html");
    fs::create_directories(root / "prefix");
    fs::create_directory_symlink(root / "real/bin", root / "prefix/bin");
    EXPECT_EQ(FindManualPage(root / "prefix/bin", "index.html"),
              fs::canonical(root / "real/share/doc/kelvane-orb/orbhelp/index.html").string());
}

// The shipped files, read from the source tree.
std::string Source(const std::string& relative) {
    return test::ReadFile(std::string(ORB_SOURCE_DIR) + "/" + relative);
}

TEST(ShippedDesktopFiles, UseTheProgramsNames) {
    const std::string orb = Source(std::string("res/desktop/") + kDesktopFileId);
    EXPECT_NE(orb.find("\nExec=orb %f\n"), std::string::npos);
    EXPECT_NE(orb.find(std::string("\nIcon=") + kProgramIconName + "\n"), std::string::npos);
    EXPECT_NE(orb.find(std::string("\nMimeType=") + kIndexMimeType + ";\n"), std::string::npos);
    EXPECT_NE(orb.find("\nName=Kelvane光盘助手\n"), std::string::npos);

    const std::string conv = Source(std::string("res/desktop/") + kConverterDesktopFileId);
    EXPECT_NE(conv.find("\nExec=orb22to30\n"), std::string::npos);
    EXPECT_NE(conv.find(std::string("\nIcon=") + kConverterIconName + "\n"), std::string::npos);

    const std::string mime = Source(std::string("res/desktop/") + kMimePackageFile);
    EXPECT_NE(mime.find(std::string("type=\"") + kIndexMimeType + "\""), std::string::npos);
    EXPECT_NE(mime.find("<glob pattern=\"*.orb\"/>"), std::string::npos);
    EXPECT_NE(mime.find("<match type=\"string\" offset=\"0\" value=\"ORBF\"/>"), std::string::npos);
    EXPECT_NE(mime.find("<comment>Kelvane光盘索引</comment>"), std::string::npos);
}

// Every local link of the manual (page and #anchor) leads somewhere.
TEST(ShippedManual, LocalLinksResolve) {
    const std::vector<std::string> pages = {"index.html", "feedback.html"};
    std::set<std::string> anchors;                           // "page#id"
    std::vector<std::pair<std::string, std::string>> links;  // page, href
    const std::regex idRe("id=\"([^\"]+)\"");
    const std::regex hrefRe("(?:href|src)=\"([^\"]+)\"");
    for (const std::string& page : pages) {
        const std::string text = Source("res/orbhelp/" + page);
        for (std::sregex_iterator it(text.begin(), text.end(), idRe), end; it != end; ++it)
            anchors.insert(page + "#" + (*it)[1].str());
        for (std::sregex_iterator it(text.begin(), text.end(), hrefRe), end; it != end; ++it)
            links.emplace_back(page, (*it)[1].str());
    }
    ASSERT_FALSE(links.empty());
    for (const auto& [page, href] : links) {
        if (href.rfind("https:", 0) == 0 || href.rfind("mailto:", 0) == 0) continue;
        const size_t hash = href.find('#');
        const std::string file = hash == 0 ? page : href.substr(0, hash);
        EXPECT_TRUE(test::FileExists(std::string(ORB_SOURCE_DIR) + "/res/orbhelp/" + file))
            << page << " links to " << href;
        if (hash != std::string::npos) {
            EXPECT_TRUE(anchors.count(file + href.substr(hash)))
                << page << " links to a missing anchor " << href;
        }
    }
}

TEST(DesktopShortcut, StartsTheProgramQuotedAndIsExecutable) {
    test::TempDir dir;
    ASSERT_TRUE(WriteDesktopShortcut(dir.path(), "/opt/my apps/orb"));
    const std::string file = dir / "Kelvane光盘助手.desktop";
    const std::string text = test::ReadFile(file);
    EXPECT_NE(text.find("\nExec=\"/opt/my apps/orb\"\n"), std::string::npos) << text;
    EXPECT_EQ(::access(file.c_str(), X_OK), 0);
    // No desktop folder: nothing is written, and the caller hears of it.
    EXPECT_FALSE(WriteDesktopShortcut(dir / "none", "/usr/bin/orb"));
    EXPECT_FALSE(WriteDesktopShortcut(std::string(), "/usr/bin/orb"));
}

}  // namespace
}  // namespace orb
